// The report list view and the keyboard, and how it draws its selection and its focus: one tab
// stop, keys that move the selected row, Left and Right that scroll, a focus frame round the whole
// row, and a selection that shows without the focus only when the list asks for it, whatever a
// style sheet says about selected items.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <string>

#include "ui/kinds/list_view.h"
#include "ui/template/list_view_settings.h"
#include "ui/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr int32_t kBefore = 0x16000001;  // an edit box
constexpr int32_t kList = 0x16000002;    // does not always show its selection
constexpr int32_t kAlways = 0x16000003;  // always shows its selection
constexpr int32_t kAfter = 0x16000004;   // an edit box
constexpr int kRows = 30;
constexpr int32_t kSelectedRow = 35;

std::string list_settings(bool always_show_selection) {
  ListViewSettings s;
  s.view = kListViewReport;
  s.full_row_select = true;
  s.grid_lines = true;
  s.always_show_selection = always_show_selection;
  // Wider than the list, so that it scrolls sideways.
  s.columns = {{false, -1, 0, 70, "序号"},
               {false, -1, 0, 120, "类型"},
               {false, -1, 0, 120, "金额"},
               {false, -1, 0, 0, "备注"},
               {false, -1, 0, 120, "时间"}};
  return s.encode();
}

class ListKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    UnitTemplate list = unit(kList, kKindListView, list_settings(false), 10, 40, 300, 160);
    list.bindings = {{0, 0}};  // the current row changed
    start({window({unit(kBefore, kKindEditBox, "", 10, 10, 100, 24), list,
                   unit(kAlways, kKindListView, list_settings(true), 10, 210, 300, 80),
                   unit(kAfter, kKindEditBox, "", 120, 10, 100, 24)})});
    ASSERT_TRUE(load_window(kWin));
    for (int32_t id : {kList, kAlways}) {
      for (int r = 0; r < kRows; ++r) {
        const int32_t row = list_insert_row(kWin, id, ListInsertArgs{});
        for (int c = 0; c < 5; ++c)
          list_set_cell_text(kWin, id, row, c, std::to_string(r + 1) + "-" + std::to_string(c));
      }
    }
    QWidget* top = window_widget(kWin);
    top->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(top));
    settle();
  }
  void TearDown() override {
    qApp->setStyleSheet(QString());
    close_window(kWin);
  }
  static void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }
  static QTableView* view(int32_t id = kList) { return static_cast<QTableView*>(unit_widget(kWin, id)); }
  static int32_t selected(int32_t id = kList) { return get_property(kWin, id, kSelectedRow).int_payload(); }
  static void select(int32_t row, int32_t id = kList) {
    set_property(kWin, id, kSelectedRow, -1, Value::of_int(row));
    settle();
  }
  static void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QTest::keyClick(QApplication::focusWidget(), k, m);
    settle();
  }
};

TEST_F(ListKeys, TheListIsOneTabStopAndTabLeavesTheSelectionAlone) {
  view()->setFocus();
  select(2);
  key(Qt::Key_Tab);
  EXPECT_FALSE(view()->hasFocus()) << "Tab moved inside the list";
  EXPECT_EQ(selected(), 2);
  EXPECT_EQ(view()->currentIndex().row(), 2);
  view()->setFocus();
  key(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_FALSE(view()->hasFocus());
  EXPECT_EQ(selected(), 2);
  // Into the list and out again: still the same row.
  unit_widget(kWin, kBefore)->setFocus();
  for (int i = 0; i < 4 && !view()->hasFocus(); ++i) key(Qt::Key_Tab);
  ASSERT_TRUE(view()->hasFocus());
  key(Qt::Key_Tab);
  EXPECT_FALSE(view()->hasFocus());
  EXPECT_EQ(selected(), 2);
}

// The columns are wider than the list and the vertical scroll bar shows: End and Home change the
// row, never the sideways position, wherever the user has scrolled to.
TEST_F(ListKeys, HomeAndEndDoNotScrollSideways) {
  view()->setFocus();
  select(0);
  QScrollBar* sideways = view()->horizontalScrollBar();
  ASSERT_GT(sideways->maximum(), 0);
  ASSERT_TRUE(view()->verticalScrollBar()->isVisible());
  ASSERT_EQ(sideways->value(), 0);
  key(Qt::Key_End);
  EXPECT_EQ(selected(), kRows - 1);
  EXPECT_EQ(sideways->value(), 0) << "End scrolled sideways";
  key(Qt::Key_Home);
  EXPECT_EQ(selected(), 0);
  EXPECT_EQ(sideways->value(), 0);
  key(Qt::Key_Right);
  const int scrolled = sideways->value();
  ASSERT_GT(scrolled, 0);
  key(Qt::Key_End);
  EXPECT_EQ(sideways->value(), scrolled);
  key(Qt::Key_Home);
  EXPECT_EQ(sideways->value(), scrolled);
}

TEST_F(ListKeys, ArrowsHomeEndAndPagesMoveTheSelectedRow) {
  view()->setFocus();
  select(0);
  reset_calls();
  key(Qt::Key_Down);
  EXPECT_EQ(selected(), 1);
  EXPECT_EQ(count_calls(0), 1) << "the current row changed";
  key(Qt::Key_Up);
  EXPECT_EQ(selected(), 0);
  key(Qt::Key_End);
  EXPECT_EQ(selected(), kRows - 1);
  EXPECT_TRUE(list_row_state(kWin, kList, kRows - 1).selected);
  key(Qt::Key_Home);
  EXPECT_EQ(selected(), 0);
  key(Qt::Key_PageDown);
  const int32_t page = selected();
  EXPECT_GT(page, 1);
  EXPECT_LT(page, kRows - 1);
  key(Qt::Key_PageUp);
  EXPECT_EQ(selected(), 0);
  // One row selected at a time.
  int count = 0;
  for (int r = 0; r < kRows; ++r) count += list_row_state(kWin, kList, r).selected;
  EXPECT_EQ(count, 1);
}

TEST_F(ListKeys, LeftAndRightScrollSideways) {
  view()->setFocus();
  select(3);
  QScrollBar* bar = view()->horizontalScrollBar();
  ASSERT_GT(bar->maximum(), 0) << "the columns fit; nothing to scroll";
  ASSERT_EQ(bar->value(), 0);
  key(Qt::Key_Right);
  EXPECT_GT(bar->value(), 0);
  EXPECT_EQ(selected(), 3);
  key(Qt::Key_Left);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(selected(), 3);
  EXPECT_TRUE(view()->hasFocus());
}

// The part of a row's visible width whose pixels differ between two looks of the viewport.
QRect row_difference(const QImage& a, const QImage& b, QRect row) {
  row &= QRect(QPoint(0, 0), a.size());
  QRect out;
  for (int y = row.top(); y <= row.bottom(); ++y)
    for (int x = row.left(); x <= row.right(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) out |= QRect(x, y, 1, 1);
  return out;
}

QRect row_rect(QTableView* v, int row) {
  return QRect(0, v->rowViewportPosition(row), v->viewport()->width(), v->rowHeight(row));
}

TEST_F(ListKeys, TheFocusFrameGoesRoundTheWholeRow) {
  QTableView* v = view(kAlways);  // its selection shows with or without the focus
  v->setFocus();
  select(1, kAlways);
  const QImage focused = v->viewport()->grab().toImage();
  unit_widget(kWin, kAfter)->setFocus();
  settle();
  const QImage unfocused = v->viewport()->grab().toImage();
  const QRect row = row_rect(v, 1);
  const QRect frame = row_difference(focused, unfocused, row);
  ASSERT_FALSE(frame.isEmpty()) << "no focus frame";
  const int right = v->columnViewportPosition(4) + v->columnWidth(4);
  EXPECT_LE(frame.left(), 2);
  EXPECT_GE(frame.right(), std::min(right, v->viewport()->width()) - 3);
  // Nothing outside the row changes with the focus.
  for (int r : {0, 2}) EXPECT_TRUE(row_difference(focused, unfocused, row_rect(v, r)).isEmpty()) << r;
}

TEST_F(ListKeys, TheSelectionShowsWithoutTheFocusOnlyWhenAlwaysShown) {
  // A style sheet that colours selected items, as a skin's does.
  qApp->setStyleSheet(
      QStringLiteral("QTableView::item:selected { background-color: #C00000; color: white; }"));
  settle();
  for (int32_t id : {kList, kAlways}) {
    SCOPED_TRACE(id == kList ? "not always shown" : "always shown");
    QTableView* v = view(id);
    const QRect row = row_rect(v, 1);
    select(-1, id);
    unit_widget(kWin, kAfter)->setFocus();
    settle();
    const QImage plain = v->viewport()->grab().toImage();
    select(1, id);
    const QImage unfocused = v->viewport()->grab().toImage();
    v->setFocus();
    settle();
    const QImage focused = v->viewport()->grab().toImage();
    EXPECT_FALSE(row_difference(focused, plain, row).isEmpty()) << "no selection drawn with the focus";
    EXPECT_EQ(row_difference(unfocused, plain, row).isEmpty(), id == kList);
    EXPECT_EQ(selected(id), 1) << "the selection is kept either way";
  }
}

}  // namespace
}  // namespace pennacle
