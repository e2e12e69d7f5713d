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

// Holds a mutex of either kind for a scope.
template <class M>
class SCOPED_CAPABILITY ScopedLock {
 public:
  explicit ScopedLock(M& mu) ACQUIRE(mu) : mu_(mu) { mu_.lock(); }
  ~ScopedLock() RELEASE() { mu_.unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  M& mu_;
};
using MutexLock = ScopedLock<Mutex>;

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

// A lock for sections of a few hundred nanoseconds taken millions of times, nearly always
// uncontended: one atomic exchange to take, one store to give back, no call into the C library.
// A waiter spins briefly, then yields its time slice, then sleeps in steps of 50 µs (a holder
// may be inside a write the kernel holds back).
class CAPABILITY("mutex") SpinMutex {
 public:
  constexpr SpinMutex() = default;
  SpinMutex(const SpinMutex&) = delete;
  SpinMutex& operator=(const SpinMutex&) = delete;

  void lock() ACQUIRE() {
    for (int tries = 0; taken_.exchange(true, std::memory_order_acquire); ++tries) {
      while (taken_.load(std::memory_order_relaxed)) {
        if (++tries > 1000) {
          std::this_thread::sleep_for(std::chrono::microseconds(50));
        } else if (tries > 64) {
          std::this_thread::yield();
        }
      }
    }
  }
  void unlock() RELEASE() { taken_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> taken_{false};
};

using SpinLock = ScopedLock<SpinMutex>;

}  // namespace pennacle
