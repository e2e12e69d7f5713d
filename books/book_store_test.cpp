// The store's own thread: jobs one after another off the user-interface thread, results back on it.
#include "books/book_store.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace pennacle {
namespace {

// The thread-sanitizer build makes this test alone, without the ledger: what it needs is here.
bool wait_until(const std::function<bool()>& done) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < 5000) QTest::qWait(10);
  return done();
}

class BookStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "book_store_test";
    static char* argv[] = {name, nullptr};
    if (!qApp) new QApplication(argc, argv);
  }
};

TEST_F(BookStoreTest, RunsJobsInOrderOffTheWindowThreadAndAnswersOnIt) {
  BookStore store("ledger.kdb");
  QObject context;
  const std::thread::id ui = std::this_thread::get_id();
  std::vector<int> answered;
  std::atomic<int> ran{0};
  bool all_off_ui = true, all_on_ui = true;
  for (int i = 0; i < 50; ++i) {
    store.run<int>(
        &context,
        [&, i] {
          all_off_ui = all_off_ui && std::this_thread::get_id() != ui;
          EXPECT_EQ(ran.fetch_add(1), i);  // one at a time, in the order asked
          return i * i;
        },
        [&](int r) {
          all_on_ui = all_on_ui && std::this_thread::get_id() == ui;
          answered.push_back(r);
        });
  }
  ASSERT_TRUE(wait_until([&] { return answered.size() == 50; }));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(answered[static_cast<size_t>(i)], i * i);
  EXPECT_TRUE(all_off_ui);
  EXPECT_TRUE(all_on_ui);
}

TEST_F(BookStoreTest, AnAnswerForAViewThatIsGoneIsDropped) {
  BookStore store("ledger.kdb");
  auto context = std::make_unique<QObject>();
  std::atomic<bool> release{false}, done_work{false};
  bool answered = false;
  store.run<int>(
      context.get(),
      [&] {
        while (!release) std::this_thread::yield();
        done_work = true;
        return 1;
      },
      [&](int) { answered = true; });
  context.reset();
  release = true;
  ASSERT_TRUE(wait_until([&] { return done_work.load(); }));
  QTest::qWait(50);
  EXPECT_FALSE(answered);
}

TEST_F(BookStoreTest, ClosingFinishesEveryJobAskedFor) {
  std::atomic<int> ran{0};
  {
    BookStore store("ledger.kdb");
    QObject context;
    for (int i = 0; i < 20; ++i) {
      store.run<int>(
          &context,
          [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return ++ran;
          },
          [](int) {});
    }
  }
  EXPECT_EQ(ran.load(), 20);
}

}  // namespace
}  // namespace pennacle
