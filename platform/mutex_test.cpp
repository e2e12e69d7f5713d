#include "platform/mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace pennacle {
namespace {

TEST(Mutex, KnowsItsHolderAndWaitsKeepIt) {
  Mutex mu;
  CondVar cv;
  bool ready = false;
  EXPECT_FALSE(mu.held());
  std::thread other([&] {
    MutexLock lock(mu);
    ready = true;
    cv.notify_all();
  });
  {
    MutexLock lock(mu);
    EXPECT_TRUE(mu.held());
    cv.wait(mu, [&] { return ready; });
    EXPECT_TRUE(mu.held());  // the wait gave the mutex back to this thread
  }
  other.join();
  EXPECT_FALSE(mu.held());
  std::thread holder([&] {
    MutexLock lock(mu);
    EXPECT_TRUE(mu.held());
  });
  holder.join();
  if (!mu.try_lock()) {
    ADD_FAILURE() << "a free mutex refused try_lock";
    return;
  }
  std::thread prober([&] { EXPECT_FALSE(mu.held()); });
  prober.join();
  mu.unlock();
}

// Threads that each add to two counters under the lock, with a holder that yields in between:
// no increment is lost and no thread sees the counters apart.
TEST(SpinMutex, ExcludesOtherThreadsAlsoWhileTheHolderSleeps) {
  SpinMutex mu;
  long a = 0, b = 0;
  bool apart = false;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        SpinLock lock(mu);
        if (a != b) apart = true;
        ++a;
        if (t == 0 && i % 1000 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        ++b;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(a, 80000);
  EXPECT_EQ(b, 80000);
  EXPECT_FALSE(apart);
}

TEST(MutexDeathTest, APreconditionWithoutTheMutexEndsTheProgram) {
  Mutex mu;
  EXPECT_DEATH(mu.assert_held(), "called without it");
  MutexLock lock(mu);
  mu.assert_held();  // held: nothing happens
}

}  // namespace
}  // namespace pennacle
