// 10,000 rows poured into a shown list from a worker thread with the list commands while the
// user-interface thread reads cells through the commands and through the view's model. Run
// under TSan: the row store is the only state the two threads share.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCoreApplication>
#include <atomic>
#include <string>
#include <thread>

#include "ui/kinds/list_view.h"
#include "ui/template/list_view_settings.h"
#include "ui/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr int32_t kList = 0x16000001;
constexpr int kRows = 10000;
constexpr int kColumns = 6;

std::string expected(int row, int column) { return std::to_string(row) + "列" + std::to_string(column); }

TEST(ListViewThreads, WorkerInsertsWhileTheInterfaceReads) {
  ListViewSettings s;
  s.view = kListViewReport;
  for (int c = 0; c < kColumns; ++c) s.columns.push_back({false, -1, 0, c == 5 ? 0 : 60, "列"});
  start({window({unit(kList, kKindListView, s.encode(), 0, 0, 380, 280)})});
  ASSERT_TRUE(load_window(kWin));
  const Value list = unit_reference(kWin, kList);

  std::atomic<bool> done{false};
  std::atomic<int> bad_rows{0};
  std::thread worker([&] {
    for (int i = 0; i < kRows; ++i) {
      Value r = call_command(list_insert_row, {list});
      if (r.int_payload() != i) ++bad_rows;
      for (int c = 0; c < kColumns; ++c) {
        Text t(expected(r.int_payload(), c));
        call_command(list_set_cell_text, {list, r, Value::of_int(c), t.value()});
      }
    }
    done = true;
  });

  auto* view = qobject_cast<QAbstractItemView*>(unit_widget(kWin, kList));
  ASSERT_NE(view, nullptr);
  int reads = 0, mismatches = 0;
  while (!done) {
    QCoreApplication::processEvents();
    const int n = list_row_count(kWin, kList);
    if (n == 0) continue;
    const int row = (reads * 7919) % n;
    const int column = reads % kColumns;
    // A cell is empty until the worker has set it, and then holds exactly its text.
    Value v = call_command(list_get_cell_text, {list, Value::of_int(row), Value::of_int(column)});
    const std::string got = Text::from_result(v).str();
    if (!got.empty() && got != expected(row, column)) ++mismatches;
    // The view reads the same store while the rows pour in.
    QAbstractItemModel* m = view->model();
    if (m->rowCount() > 0) {
      const QString shown = m->data(m->index(m->rowCount() - 1, column)).toString();
      if (!shown.isEmpty() && !shown.endsWith(QString::number(column))) ++mismatches;
    }
    ++reads;
  }
  worker.join();
  for (int i = 0; i < 10 && list_shown_rows(kWin, kList) != kRows; ++i) QCoreApplication::processEvents();

  EXPECT_EQ(bad_rows, 0);
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(reads, 0);
  EXPECT_EQ(list_row_count(kWin, kList), kRows);
  EXPECT_EQ(list_shown_rows(kWin, kList), kRows);
  for (int row : {0, 1, kRows / 2, kRows - 1})
    for (int c = 0; c < kColumns; ++c) EXPECT_EQ(list_get_cell_text(kWin, kList, row, c), expected(row, c));
  close_window(kWin);
}

}  // namespace
}  // namespace pennacle
