#include "platform/lease.h"

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <map>
#include <thread>

#include "platform/mutex.h"

namespace pennacle {
namespace {

class LeaseWatcher {
 public:
  LeaseWatcher() : signal_(SIGRTMIN + 7) {
    std::thread([this] { run(); }).detach();
    MutexLock lock(mu_);
    while (tid_ == 0) started_.wait(mu_);
  }

  int signal() const { return signal_; }
  int tid() {
    MutexLock lock(mu_);
    return tid_;
  }
  uint64_t watch(int fd, std::function<void()> on_break) {
    MutexLock lock(mu_);
    callbacks_[fd] = {++last_token_, std::move(on_break)};
    return last_token_;
  }
  void unwatch(int fd, uint64_t token) {
    MutexLock lock(mu_);
    auto it = callbacks_.find(fd);
    if (it != callbacks_.end() && it->second.token == token) callbacks_.erase(it);
  }

 private:
  void run() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_);
    // Blocked before anyone learns the thread id, so the signal only ever waits for sigwaitinfo.
    const bool blocked = pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
    {
      MutexLock lock(mu_);
      tid_ = blocked ? static_cast<int>(syscall(SYS_gettid)) : -1;
      started_.notify_all();
    }
    if (!blocked) return;
    for (;;) {
      siginfo_t info{};
      if (sigwaitinfo(&set, &info) != signal_) continue;
      std::function<void()> on_break;
      {
        MutexLock lock(mu_);
        auto it = callbacks_.find(info.si_fd);
        if (it != callbacks_.end()) on_break = it->second.on_break;
      }
      // Called without the watcher's mutex: the callback may take the store's locks, and the
      // store may be watching or unwatching another file meanwhile.
      if (on_break) on_break();
    }
  }

  const int signal_;
  Mutex mu_;
  CondVar started_;
  int tid_ GUARDED_BY(mu_) = 0;
  struct Watch {
    uint64_t token;
    std::function<void()> on_break;
  };
  uint64_t last_token_ GUARDED_BY(mu_) = 0;
  std::map<int, Watch> callbacks_ GUARDED_BY(mu_);
};

// Never destroyed: its thread lives as long as the process.
LeaseWatcher& watcher() {
  static LeaseWatcher* w = new LeaseWatcher;
  return *w;
}

}  // namespace

bool lease_watcher_ready(int* signal, int* tid) {
  LeaseWatcher& w = watcher();
  *signal = w.signal();
  *tid = w.tid();
  return *tid > 0;
}

uint64_t watch_lease(int fd, std::function<void()> on_break) {
  return watcher().watch(fd, std::move(on_break));
}

void unwatch_lease(int fd, uint64_t token) { watcher().unwatch(fd, token); }

}  // namespace pennacle
