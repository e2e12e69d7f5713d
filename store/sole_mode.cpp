#include "store/sole_mode.h"

#include <cstdlib>
#include <string_view>
#include <tuple>

#include "store/locks.h"

namespace pennacle {
namespace {

// A failed try is not repeated sooner: another process has the file open, and a try costs a few
// system calls. Soon enough that the mode comes back quickly after a kdbtool run.
constexpr uint32_t kRetryMs = 100;

std::atomic<bool>& allowed_flag() {
  static std::atomic<bool> flag{[] {
    const char* forced = std::getenv("PENNACLE_STORE_FULL_PROTOCOL");
    return !(forced && std::string_view(forced) == "1");
  }()};
  return flag;
}

}  // namespace

void SoleMode::allow(bool allowed) { allowed_flag().store(allowed); }
bool SoleMode::allowed() { return allowed_flag().load(std::memory_order_relaxed); }

SoleMode::SoleMode(SoleFile* main, SoleFile* aux) : main_(main), aux_(aux), has_aux_(aux != nullptr) {
  // A file without an id is never matched against another path: the leases still protect it.
  std::ignore = main->id(&main_id_);
  if (aux) std::ignore = aux->id(&aux_id_);
}

void SoleMode::maybe_enter() {
  if (alone_hint_.load(std::memory_order_relaxed) || !allowed()) return;
  MutexLock lock(mu_);
  if (alone_ || detached_) return;
  const uint32_t now = tick_count();
  if (static_cast<int32_t>(now - next_try_ms_) < 0) return;
  if (!try_enter()) next_try_ms_ = now + kRetryMs;
}

bool SoleMode::try_enter() {
  mu_.assert_held();
  // A break that comes while this runs waits for mu_ and then leaves the mode entered here.
  auto on_break = [weak = weak_from_this()] {
    if (std::shared_ptr<SoleMode> self = weak.lock()) self->leave();
  };
  if (!main_->take_lease(on_break)) return false;
  if (aux_ && !aux_->take_lease(on_break)) {
    main_->release_lease();
    return false;
  }
  if (!main_->enter_alone() || (aux_ && !aux_->enter_alone())) {
    std::ignore = main_->leave_alone();
    if (aux_) std::ignore = aux_->leave_alone();
    main_->release_lease();
    if (aux_) aux_->release_lease();
    return false;
  }
  alone_ = true;
  alone_hint_.store(true, std::memory_order_relaxed);
  return true;
}

void SoleMode::leave() {
  MutexLock lock(mu_);
  leave_locked();
}

void SoleMode::leave_locked() {
  mu_.assert_held();
  if (!alone_) return;
  alone_ = false;
  alone_hint_.store(false, std::memory_order_relaxed);
  // The locks first: the other process's open goes on the moment the leases are given up. A
  // refused lock is the file system's to explain; the next operation that needs it meets it.
  std::ignore = main_->leave_alone();
  if (aux_) std::ignore = aux_->leave_alone();
  main_->release_lease();
  if (aux_) aux_->release_lease();
  next_try_ms_ = tick_count() + kRetryMs;
}

void SoleMode::detach() {
  MutexLock lock(mu_);
  leave_locked();
  detached_ = true;
  main_ = nullptr;
  aux_ = nullptr;
}

}  // namespace pennacle
