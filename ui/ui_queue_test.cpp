// The one queue to the user-interface thread: an unrelated event reaching its receiver leaves the
// queued work alone (a list whose update was queued keeps updating), calls run once each in the
// order they were queued, and workers waiting on the interface thread all get through.
#include "ui/ui_queue.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <atomic>
#include <thread>
#include <vector>

#include "ui/kinds/list_view.h"
#include "ui/template/list_view_settings.h"
#include "ui/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr int32_t kList = 0x16000001;

// Delivers an event of a type the queue does not use straight to its receiver.
void send_unrelated_event() {
  QEvent unrelated(static_cast<QEvent::Type>(QEvent::registerEventType()));
  QCoreApplication::sendEvent(ui_queue_receiver(), &unrelated);
}

class UiQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    ListViewSettings s;
    s.view = kListViewReport;
    s.columns = {{false, -1, 0, 60, "a"}};
    start({window({unit(kList, kKindListView, s.encode(), 0, 0, 200, 100)})});
    ASSERT_TRUE(load_window(kWin));
  }
  void TearDown() override {
    if (is_window_loaded(kWin)) close_window(kWin);
  }
  // Inserts a row from a worker, so that the view's update waits in the queue.
  void insert_from_worker() {
    std::thread([] { list_insert_row(kWin, kList, ListInsertArgs{}); }).join();
  }
};

TEST_F(UiQueue, AnUnrelatedEventLeavesAListsUpdatesQueued) {
  insert_from_worker();
  EXPECT_EQ(list_shown_rows(kWin, kList), 0);
  send_unrelated_event();
  QCoreApplication::processEvents();
  EXPECT_EQ(list_shown_rows(kWin, kList), 1);
  // And the list goes on updating afterwards.
  insert_from_worker();
  send_unrelated_event();
  QCoreApplication::processEvents();
  EXPECT_EQ(list_shown_rows(kWin, kList), 2);
}

TEST_F(UiQueue, CallsRunOnceEachInTheOrderQueued) {
  std::vector<int> order;
  std::thread([&] {
    for (int i = 0; i < 5; ++i) post_to_ui_thread([&order, i] { order.push_back(i); });
  }).join();
  send_unrelated_event();
  // A call queued by a running call runs after the ones queued before it.
  post_to_ui_thread([&] { post_to_ui_thread([&] { order.push_back(6); }); });
  post_to_ui_thread([&] { order.push_back(5); });
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
}

// Under TSan: what a worker wrote before it queued a call is what the call sees, and what the call
// wrote is what the waiting worker sees afterwards.
TEST_F(UiQueue, WorkersWaitingOnTheInterfaceThreadAllGetThrough) {
  constexpr int kWorkers = 4;
  constexpr int kCalls = 200;
  int ran = 0;  // the interface thread's own
  std::atomic<int> finished{0}, unseen{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back([&] {
      for (int i = 0; i < kCalls; ++i) {
        int seen = 0;
        run_on_ui_thread([&] { seen = ++ran; });
        if (seen == 0) ++unseen;
      }
      ++finished;
    });
  while (finished.load() < kWorkers) {
    QCoreApplication::processEvents();
    send_unrelated_event();
  }
  for (std::thread& t : workers) t.join();
  EXPECT_EQ(ran, kWorkers * kCalls);
  EXPECT_EQ(unseen, 0);
}

}  // namespace
}  // namespace pennacle
