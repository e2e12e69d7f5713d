#include "platform/file_map.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstring>
#include <mutex>

#include "platform/file.h"

namespace pennacle {
namespace {

// The address space a mapping takes: every offset the store can lock. Reserved once, so the mapping
// never moves while the file grows; pages past the file's end are never touched.
constexpr uint64_t kMapBytes = kShareLockBase;
// A page the mapping touched stays in the process's resident set although it is the page cache's.
// After this many bytes copied (a page counted for each copy) the mapping lets its pages go: they
// stay cached, and the next copy maps them again. A walk keeps a few MiB, not the whole file.
constexpr uint64_t kDropAfterBytes = 4 << 20;
constexpr uint64_t kPageCost = 4096;

// The copy a bus error returns from, on this thread; null outside a guarded copy.
thread_local sigjmp_buf* t_landing = nullptr;
struct sigaction g_previous {};
std::once_flag g_installed;

void on_bus_error(int, siginfo_t*, void*) {
  if (sigjmp_buf* landing = t_landing) {
    t_landing = nullptr;
    siglongjmp(*landing, 1);
  }
  // Not a guarded copy's fault: what was there before takes it when the instruction runs again.
  sigaction(SIGBUS, &g_previous, nullptr);
}

void install_handler() {
  struct sigaction action {};
  action.sa_sigaction = on_bus_error;
  // SA_NODEFER: the jump out leaves the signal mask as it was, without a sigprocmask per copy.
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &g_previous);
}

}  // namespace

bool copy_guarded(void* dst, const void* src, size_t n) {
  std::call_once(g_installed, install_handler);
  sigjmp_buf landing;
  if (sigsetjmp(landing, 0) != 0) return false;
  t_landing = &landing;
  std::atomic_signal_fence(std::memory_order_seq_cst);  // the landing is set before the copy starts
  std::memcpy(dst, src, n);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  t_landing = nullptr;
  return true;
}

bool FileMap::copy(int fd, uint64_t offset, void* buf, size_t n) {
  if constexpr (sizeof(void*) < 8) return false;  // no room for the reservation
  if (fd < 0 || offset > kMapBytes || n > kMapBytes - offset) return false;
  if (offset + n > known_size_.load(std::memory_order_relaxed)) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < 0) return false;
    known_size_.store(static_cast<uint64_t>(st.st_size), std::memory_order_relaxed);
    if (offset + n > static_cast<uint64_t>(st.st_size)) return false;
  }
  uint8_t* base = base_.load(std::memory_order_acquire);
  if (!base) {
    void* p = mmap(nullptr, kMapBytes, PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) return false;
    uint8_t* expected = nullptr;
    if (base_.compare_exchange_strong(expected, static_cast<uint8_t*>(p), std::memory_order_acq_rel)) {
      base = static_cast<uint8_t*>(p);
    } else {
      munmap(p, kMapBytes);  // another thread mapped it first
      base = expected;
    }
  }
  if (since_drop_.fetch_add(n + kPageCost, std::memory_order_relaxed) + n + kPageCost > kDropAfterBytes) {
    since_drop_.store(0, std::memory_order_relaxed);
    madvise(base, kMapBytes, MADV_DONTNEED);  // a shared file mapping: nothing is lost, only unmapped
  }
  return copy_guarded(buf, base + offset, n);
}

void FileMap::reset() {
  if (uint8_t* base = base_.exchange(nullptr)) munmap(base, kMapBytes);
  known_size_.store(0, std::memory_order_relaxed);
}

}  // namespace pennacle
