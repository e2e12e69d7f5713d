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

TEST(MutexDeathTest, APreconditionWithoutTheMutexEndsTheProgram) {
  Mutex mu;
  EXPECT_DEATH(mu.assert_held(), "called without it");
  MutexLock lock(mu);
  mu.assert_held();  // held: nothing happens
}

}  // namespace
}  // namespace pennacle
