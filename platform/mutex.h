// A mutex the clang thread-safety analysis understands, and its scoped lock. The mutex also knows
// which thread holds it, so a function that REQUIRES it can assert that at run time. It is made at
// compile time (constinit), so a global one is ready before any code runs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/thread_annotations.h"

namespace pennacle {

namespace mutex_internal {
// One byte per thread: its address names the thread while it lives.
inline thread_local char t_thread_mark;
inline const void* this_thread() { return &t_thread_mark; }
}  // namespace mutex_internal

class CAPABILITY("mutex") Mutex {
 public:
  constexpr Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() {
    mu_.lock();
    owner_.store(mutex_internal::this_thread(), std::memory_order_relaxed);
  }
  void unlock() RELEASE() {
    owner_.store(nullptr, std::memory_order_relaxed);
    mu_.unlock();
  }
  bool try_lock() TRY_ACQUIRE(true) {
    if (!mu_.try_lock()) return false;
    owner_.store(mutex_internal::this_thread(), std::memory_order_relaxed);
    return true;
  }
  // True when the calling thread holds the mutex.
  bool held() const { return owner_.load(std::memory_order_relaxed) == mutex_internal::this_thread(); }
  // For the precondition of a function annotated REQUIRES(this mutex). Checked in every build: a
  // caller without the mutex is a programming fault that would otherwise be a silent race.
  void assert_held() const ASSERT_CAPABILITY(this) {
    if (!held()) not_held();
  }

 private:
  [[noreturn]] static void not_held() {
    std::fputs("pennacle: a function that needs a mutex was called without it\n", stderr);
    std::abort();
  }

  std::mutex mu_;
  std::atomic<const void*> owner_{nullptr};
};

// Holds a Mutex for a scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mu) ACQUIRE(mu) : mu_(mu) { mu_.lock(); }
  ~MutexLock() RELEASE() { mu_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mu_;
};

// Waits on a Mutex: the wait releases and retakes it, so the thread still holds it afterwards.
class CondVar {
 public:
  void wait(Mutex& mu) REQUIRES(mu) { cv_.wait(mu); }
  template <typename Pred>
  void wait(Mutex& mu, Pred pred) REQUIRES(mu) {
    cv_.wait(mu, pred);
  }
  template <typename Clock, typename Duration>
  std::cv_status wait_until(Mutex& mu, const std::chrono::time_point<Clock, Duration>& t) REQUIRES(mu) {
    return cv_.wait_until(mu, t);
  }
  void notify_one() { cv_.notify_one(); }
  void notify_all() { cv_.notify_all(); }

 private:
  std::condition_variable_any cv_;
};

}  // namespace pennacle
