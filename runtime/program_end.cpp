#include "runtime/program_end.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <vector>

#include "platform/mutex.h"
#include "runtime/outside.h"

namespace pennacle {
namespace {

constinit Mutex g_routines_mutex;
std::vector<ExitRoutine> g_routines GUARDED_BY(g_routines_mutex);

std::atomic<bool> g_ending{false};
std::atomic<pid_t> g_ui_tid{0};  // 0: the process's first thread
std::atomic<UiThreadPoster> g_poster{nullptr};
std::atomic<EndNotice> g_window_end{nullptr};
std::atomic<EndNotice> g_runtime_release{nullptr};
constexpr int kMaxSupportLibraries = 8;
std::atomic<EndNotice> g_support_ends[kMaxSupportLibraries]{};
std::atomic<int64_t> g_take_over_ms{2000};
std::atomic<int64_t> g_finish_ms{10000};

pid_t current_tid() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

[[noreturn]] void end_process(int32_t code) { ::_exit(static_cast<uint8_t>(code)); }

// Waits until `done()` holds or `ms` have passed; polling keeps this free of any lock that the
// thread we wait for might hold.
int64_t now_ms() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

template <typename Pred>
bool wait_for(Pred done, int64_t ms) {
  const int64_t until = now_ms() + ms;
  while (!done()) {
    if (now_ms() >= until) return false;
    ::usleep(5000);
  }
  return true;
}

void end_on_ui_thread(int32_t code) { end_program(code); }

// Steps 2 to 7, on the thread that owns the end.
[[noreturn]] void run_end_sequence(int32_t code) {
  bool expected = false;
  if (!g_ending.compare_exchange_strong(expected, true)) end_process(code);  // already ending
  if (EndNotice n = g_window_end.load()) n();
  std::vector<ExitRoutine> routines;
  {
    MutexLock lock(g_routines_mutex);
    routines.swap(g_routines);
  }
  for (ExitRoutine r : routines) r();
  for (auto& s : g_support_ends) {
    if (EndNotice n = s.load()) n();
  }
  free_outside_libraries();
  if (EndNotice n = g_runtime_release.load()) n();
  end_process(code);
}

}  // namespace

void register_exit_routine(ExitRoutine routine) {
  assert(on_ui_thread());
  if (routine == nullptr) return;
  MutexLock lock(g_routines_mutex);
  if (std::find(g_routines.begin(), g_routines.end(), routine) == g_routines.end())
    g_routines.push_back(routine);
}

bool program_ending() { return g_ending.load(); }

void set_ui_thread_here() { g_ui_tid.store(current_tid()); }

bool on_ui_thread() {
  pid_t ui = g_ui_tid.load();
  return current_tid() == (ui != 0 ? ui : ::getpid());
}

void set_ui_thread_poster(UiThreadPoster poster) { g_poster.store(poster); }
void set_window_runtime_end(EndNotice notice) { g_window_end.store(notice); }
void set_runtime_release(EndNotice notice) { g_runtime_release.store(notice); }

void register_support_library_end(EndNotice notice) {
  for (auto& s : g_support_ends) {
    EndNotice expected = nullptr;
    if (s.load() == notice || s.compare_exchange_strong(expected, notice)) return;
  }
}

void set_end_handover_waits(int take_over_ms, int finish_ms) {
  g_take_over_ms.store(take_over_ms);
  g_finish_ms.store(finish_ms);
}

void end_program(int32_t code) {
  if (!on_ui_thread()) {
    if (g_ending.load()) end_process(code);
    UiThreadPoster poster = g_poster.load();
    if (poster == nullptr) run_end_sequence(code);  // no user-interface thread to hand it to
    if (!poster(end_on_ui_thread, code)) end_process(code);
    // The user-interface thread may be busy or waiting on a lock this thread holds: it gets a
    // bounded time to take the end over and to finish it, then this thread ends the process.
    if (wait_for([] { return g_ending.load(); }, g_take_over_ms.load())) {
      wait_for([] { return false; }, g_finish_ms.load());
    }
    end_process(code);
  }
  run_end_sequence(code);
}

void end_program_after_fatal() {
  {
    MutexLock lock(g_routines_mutex);
    g_routines.clear();
  }
  end_program(-1);
}

}  // namespace pennacle
