// The report list view on real widgets (offscreen): the row commands and their argument rules,
// property 35 as click handlers see it, and the events.
#include "ui/kinds/list_view.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <string>
#include <thread>

#include "ui/template/list_view_settings.h"
#include "ui/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr int32_t kListA = 0x16000001;  // clickable header, a zero-width column
constexpr int32_t kListB = 0x16000002;  // check boxes, label editing, sorted ascending
constexpr int32_t kLabel = 0x16000003;  // not a list view
constexpr int32_t kListC = 0x16000004;  // hot tracking

std::string list_a_settings() {
  ListViewSettings s;
  s.view = kListViewReport;
  s.full_row_select = true;
  s.grid_lines = true;
  s.columns = {{false, -1, 0, 60, "甲"},
               {false, -1, 2, 80, "乙"},
               {false, -1, 0, 0, "隐藏"},
               {false, -1, 1, 50, "丁"}};
  return s.encode();
}

std::string list_b_settings() {
  ListViewSettings s;
  s.view = kListViewReport;
  s.check_boxes = true;
  s.label_editing = true;
  s.sorting = 1;
  s.clickable_header = false;
  s.columns = {{false, -1, 0, 100, "名称"}};
  return s.encode();
}

// Every list event bound to the slot of the same number; -7 to slot 9 and -8 to slot 10.
std::vector<Binding> all_events() {
  std::vector<Binding> b;
  for (int e = 0; e <= 8; ++e) b.push_back({e, e});
  b.push_back({-7, 9});
  b.push_back({-8, 10});
  return b;
}

class ListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UnitTemplate a = unit(kListA, kKindListView, list_a_settings(), 0, 0, 300, 200);
    a.bindings = all_events();
    UnitTemplate b = unit(kListB, kKindListView, list_b_settings(), 0, 210, 300, 80);
    b.bindings = all_events();
    TransLabelSettings l;
    UnitTemplate label = unit(kLabel, kKindTransLabel, l.encode(), 310, 0, 80, 20);
    ListViewSettings hot;
    hot.view = kListViewReport;
    hot.hot_tracking = true;
    hot.columns = {{false, -1, 0, 80, "热"}};
    UnitTemplate c = unit(kListC, kKindListView, hot.encode(), 310, 30, 80, 200);
    c.bindings = all_events();
    start({window({a, b, label, c})});
    ASSERT_TRUE(load_window(kWin));
    settle();
  }
  void TearDown() override { close_window(kWin); }

  static void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }
  static Value ref(int32_t unit_id) { return unit_reference(kWin, unit_id); }
  static int32_t insert(int32_t unit_id, std::initializer_list<Value> rest = {}) {
    std::vector<Value> args{ref(unit_id)};
    args.insert(args.end(), rest.begin(), rest.end());
    Value r{};
    list_insert_row(static_cast<int>(args.size()), args.data(), &r);
    EXPECT_TRUE(r.is(Kind::Int));
    return r.int_payload();
  }
  static void set_cell(int32_t unit_id, int32_t row, int32_t column, const char* text) {
    Text t(text);
    call_command(list_set_cell_text, {ref(unit_id), Value::of_int(row), Value::of_int(column), t.value()});
  }
  static std::string cell(int32_t unit_id, int32_t row, int32_t column) {
    return text_of(
        call_command(list_get_cell_text, {ref(unit_id), Value::of_int(row), Value::of_int(column)}));
  }
  static int32_t selected_row(int32_t unit_id) {
    Value v = get_property(kWin, unit_id, 35);
    EXPECT_TRUE(v.is(Kind::Int));
    return v.int_payload();
  }
  static QTableView* view(int32_t unit_id) { return qobject_cast<QTableView*>(unit_widget(kWin, unit_id)); }
  static bool editing(QTableView* v) {
    for (QLineEdit* e : v->viewport()->findChildren<QLineEdit*>())
      if (e->isVisible()) return true;
    return false;
  }
  static QPoint row_point(int32_t unit_id, int row) {
    QTableView* v = view(unit_id);
    return v->visualRect(v->model()->index(row, 0)).center();
  }
};

TEST_F(ListViewTest, InsertWithEveryArgumentOmittedReturnsTheRowCount) {
  EXPECT_EQ(insert(kListA), 0);
  EXPECT_EQ(insert(kListA), 1);
  EXPECT_EQ(insert(kListA), 2);
  EXPECT_EQ(list_row_count(kWin, kListA), 3);
  const ListRowState s = list_row_state(kWin, kListA, 2);
  EXPECT_TRUE(s.exists);
  EXPECT_EQ(s.image, -1);
  EXPECT_EQ(s.state_image, 0);
  EXPECT_EQ(s.indent, 0);
  EXPECT_EQ(s.value, 0);
  EXPECT_EQ(cell(kListA, 2, 0), "");
}

TEST_F(ListViewTest, InsertPositionRules) {
  Text first("一"), second("二"), middle("中"), far("远"), neg("负");
  EXPECT_EQ(insert(kListA, {Value{}, first.value()}), 0);
  EXPECT_EQ(insert(kListA, {Value{}, second.value()}), 1);
  // A position inside the list moves the rows from there down.
  EXPECT_EQ(insert(kListA, {Value::of_int(1), middle.value()}), 1);
  EXPECT_EQ(cell(kListA, 1, 0), "中");
  EXPECT_EQ(cell(kListA, 2, 0), "二");
  // Past the end, or negative: after the last row.
  EXPECT_EQ(insert(kListA, {Value::of_int(100), far.value()}), 3);
  EXPECT_EQ(insert(kListA, {Value::of_int(-5), neg.value()}), 4);
  EXPECT_EQ(cell(kListA, 4, 0), "负");
  settle();
  EXPECT_EQ(list_shown_rows(kWin, kListA), 5);
  EXPECT_EQ(view(kListA)->model()->data(view(kListA)->model()->index(1, 0)).toString(), QStringLiteral("中"));
}

TEST_F(ListViewTest, InsertAttributeRules) {
  Text t("x");
  // image below -1 becomes -1; state image index + 1, negative sums 0, under a 4-bit mask; indent
  // below 0 becomes 0.
  insert(kListA,
         {Value{}, t.value(), Value::of_int(-7), Value::of_int(-9), Value::of_int(-3), Value::of_int(77)});
  insert(kListA, {Value{}, t.value(), Value::of_int(4), Value::of_int(0), Value::of_int(2)});
  insert(kListA, {Value{}, t.value(), Value::of_int(-1), Value::of_int(1)});
  insert(kListA, {Value{}, t.value(), Value{}, Value::of_int(20)});
  insert(kListA, {Value{}, t.value(), Value{}, Value::of_int(-1)});
  const ListRowState a = list_row_state(kWin, kListA, 0);
  EXPECT_EQ(a.image, -1);
  EXPECT_EQ(a.state_image, 0);
  EXPECT_EQ(a.indent, 0);
  EXPECT_EQ(a.value, 77);
  const ListRowState b = list_row_state(kWin, kListA, 1);
  EXPECT_EQ(b.image, 4);
  EXPECT_EQ(b.state_image, 1);
  EXPECT_EQ(b.indent, 2);
  EXPECT_EQ(list_row_state(kWin, kListA, 2).state_image, 2);
  EXPECT_EQ(list_row_state(kWin, kListA, 3).state_image, 21 & 0xF);
  EXPECT_EQ(list_row_state(kWin, kListA, 4).state_image, 0);
}

TEST_F(ListViewTest, ZeroWidthColumnKeepsItsTexts) {
  const int32_t r = insert(kListA);
  set_cell(kListA, r, 0, "1");
  set_cell(kListA, r, 2, "只在隐藏列");
  set_cell(kListA, r, 3, "末列");
  EXPECT_EQ(cell(kListA, r, 2), "只在隐藏列");
  EXPECT_EQ(cell(kListA, r, 3), "末列");
  settle();
  QHeaderView* h = view(kListA)->horizontalHeader();
  EXPECT_TRUE(h->isSectionHidden(2));
  EXPECT_EQ(h->sectionSize(0), 60);
  EXPECT_EQ(h->sectionSize(1), 80);
  EXPECT_EQ(h->sectionSize(3), 50);
  EXPECT_EQ(view(kListA)->model()->columnCount(), 4);
  // Header titles come through the GBK edge.
  EXPECT_EQ(view(kListA)->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("隐藏"));
}

TEST_F(ListViewTest, CellTextsOfMissingRowsAndColumnsAreEmpty) {
  const int32_t r = insert(kListA);
  set_cell(kListA, r, 1, "乙");
  // A column beyond the table and a missing row take nothing.
  set_cell(kListA, r, 4, "no such column");
  set_cell(kListA, 7, 0, "no such row");
  EXPECT_EQ(list_row_count(kWin, kListA), 1);
  for (auto [row, col] : {std::pair{r, 4}, {r, -1}, {-1, 0}, {1, 0}, {7, 1}}) {
    Value v = call_command(list_get_cell_text, {ref(kListA), Value::of_int(row), Value::of_int(col)});
    EXPECT_TRUE(v.is(Kind::Text));
    EXPECT_EQ(v.pointer(), nullptr) << row << "," << col;
  }
  // Column and text omitted: column 0, empty text.
  call_command(list_set_cell_text, {ref(kListA), Value::of_int(r)});
  EXPECT_EQ(text_of(call_command(list_get_cell_text, {ref(kListA), Value::of_int(r)})), "");
  EXPECT_EQ(cell(kListA, r, 1), "乙");
}

TEST_F(ListViewTest, LongCellTextReadsWholeAsANewCopy) {
  const int32_t r = insert(kListA);
  std::string long_text;
  for (int i = 0; long_text.size() < 3000; ++i) long_text += "金额" + std::to_string(i);
  set_cell(kListA, r, 1, long_text.c_str());
  Value a = call_command(list_get_cell_text, {ref(kListA), Value::of_int(r), Value::of_int(1)});
  Value b = call_command(list_get_cell_text, {ref(kListA), Value::of_int(r), Value::of_int(1)});
  EXPECT_NE(a.pointer(), b.pointer());
  EXPECT_EQ(text_of(a), long_text);
  EXPECT_EQ(text_of(b), long_text);
}

TEST_F(ListViewTest, ClearOnAnEmptyListIsHarmlessAndClearDropsTheSelection) {
  call_command(list_clear, {ref(kListA)});
  EXPECT_EQ(list_row_count(kWin, kListA), 0);
  EXPECT_EQ(insert(kListA), 0);
  insert(kListA);
  set_property(kWin, kListA, 35, -1, Value::of_int(1));
  EXPECT_EQ(selected_row(kListA), 1);
  call_command(list_clear, {ref(kListA)});
  EXPECT_EQ(selected_row(kListA), -1);
  settle();
  EXPECT_EQ(list_shown_rows(kWin, kListA), 0);
  EXPECT_FALSE(view(kListA)->selectionModel()->hasSelection());
  call_command(list_clear, {ref(kListA)});
  EXPECT_EQ(insert(kListA), 0);
}

TEST_F(ListViewTest, WrittenCurrentRowSelectsInStoreAndView) {
  for (int i = 0; i < 4; ++i) insert(kListA);
  set_property(kWin, kListA, 35, -1, Value::of_int(2));
  EXPECT_EQ(selected_row(kListA), 2);
  EXPECT_TRUE(view(kListA)->selectionModel()->isRowSelected(2, {}));
  // Out of range selects nothing.
  set_property(kWin, kListA, 35, -1, Value::of_int(9));
  EXPECT_EQ(selected_row(kListA), -1);
  // A row inserted above the selected one moves the selection with its row.
  set_property(kWin, kListA, 35, -1, Value::of_int(1));
  insert(kListA, {Value::of_int(0)});
  EXPECT_EQ(selected_row(kListA), 2);
  settle();
  EXPECT_TRUE(view(kListA)->selectionModel()->isRowSelected(2, {}));
  EXPECT_FALSE(view(kListA)->selectionModel()->isRowSelected(1, {}));
}

TEST_F(ListViewTest, ClickHandlersReadTheRowTheClickSelected) {
  for (int i = 0; i < 3; ++i) insert(kListA);
  settle();
  std::vector<int32_t> seen;
  slot_action(4) = [&] { seen.push_back(selected_row(kListA)); };
  slot_action(5) = [&] { seen.push_back(selected_row(kListA)); };
  QWidget* vp = view(kListA)->viewport();

  QTest::mouseClick(vp, Qt::LeftButton, {}, row_point(kListA, 1));
  ASSERT_EQ(count_calls(4), 1);
  EXPECT_EQ(count_calls(0), 1);  // the current row changed
  QTest::mouseClick(vp, Qt::RightButton, {}, row_point(kListA, 2));
  ASSERT_EQ(count_calls(5), 1);
  // Right click on the empty part below the rows: still event 5, and no row selected.
  QTest::mouseClick(vp, Qt::RightButton, {}, QPoint(10, vp->height() - 5));
  ASSERT_EQ(count_calls(5), 2);
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, -1}));
  // The events carry no arguments.
  for (const Call& c : calls())
    if (c.slot == 4 || c.slot == 5) {
      EXPECT_TRUE(c.args.empty());
    }
}

TEST_F(ListViewTest, DoubleClickActivatesTheRow) {
  insert(kListA);
  insert(kListA);
  settle();
  // As a window system delivers it: press, release, press with the double click, release.
  QWidget* vp = view(kListA)->viewport();
  const QPoint at = row_point(kListA, 1);
  QTest::mousePress(vp, Qt::LeftButton, {}, at);
  QTest::mouseRelease(vp, Qt::LeftButton, {}, at);
  QTest::mousePress(vp, Qt::LeftButton, {}, at);
  QTest::mouseDClick(vp, Qt::LeftButton, {}, at);
  QTest::mouseRelease(vp, Qt::LeftButton, {}, at);
  // Activation, and one click event: the double click adds none of its own.
  EXPECT_EQ(count_calls(1), 1);
  EXPECT_EQ(count_calls(4), 1);
  EXPECT_EQ(selected_row(kListA), 1);
}

TEST_F(ListViewTest, HotTrackingReportsTheRowUnderTheMouseAndActivatesOnOneClick) {
  for (int i = 0; i < 3; ++i) insert(kListC);
  insert(kListA);
  settle();
  QWidget* vp = view(kListC)->viewport();
  QTest::mouseMove(vp, row_point(kListC, 2));
  settle();
  std::vector<std::vector<int32_t>> hot;
  for (const Call& c : calls())
    if (c.slot == 3) hot.push_back(c.args);
  ASSERT_FALSE(hot.empty());
  EXPECT_EQ(hot.back(), std::vector<int32_t>{2});
  QTest::mouseClick(vp, Qt::LeftButton, {}, row_point(kListC, 0));
  EXPECT_EQ(count_calls(1), 1);
  // Without hot tracking neither happens.
  const size_t before = calls().size();
  QTest::mouseMove(view(kListA)->viewport(), row_point(kListA, 0));
  QTest::mouseClick(view(kListA)->viewport(), Qt::LeftButton, {}, row_point(kListA, 0));
  for (size_t i = before; i < calls().size(); ++i) {
    EXPECT_NE(calls()[i].slot, 3);
    EXPECT_NE(calls()[i].slot, 1);
  }
}

TEST_F(ListViewTest, FocusGainedAndLost) {
  QWidget* win = window_widget(kWin);
  win->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(win));
  view(kListA)->setFocus(Qt::OtherFocusReason);
  settle();
  const int gained = count_calls(9);
  EXPECT_GE(gained, 1);
  EXPECT_EQ(calls().back().source.unit_id, kListA);
  view(kListB)->setFocus(Qt::OtherFocusReason);
  settle();
  EXPECT_GE(count_calls(10), 1);
  EXPECT_EQ(count_calls(9), gained + 1);
  EXPECT_EQ(calls().back().source.unit_id, kListB);
}

TEST_F(ListViewTest, HeaderClickFiresOnlyWithClickableHeaders) {
  insert(kListA);
  insert(kListB);
  settle();
  QHeaderView* ha = view(kListA)->horizontalHeader();
  QTest::mouseClick(ha->viewport(), Qt::LeftButton, {}, QPoint(ha->sectionViewportPosition(1) + 5, 5));
  ASSERT_EQ(count_calls(2), 1);
  const Call* c = nullptr;
  for (const Call& k : calls())
    if (k.slot == 2) c = &k;
  EXPECT_EQ(c->args, std::vector<int32_t>{1});
  QHeaderView* hb = view(kListB)->horizontalHeader();
  QTest::mouseClick(hb->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(count_calls(2), 1);
}

TEST_F(ListViewTest, SortedListPlacesRowsByText) {
  Text b("b"), a("A"), c("c"), mid("B2");
  EXPECT_EQ(insert(kListB, {Value{}, b.value()}), 0);
  EXPECT_EQ(insert(kListB, {Value{}, a.value()}), 0);
  // The position is ignored in a sorted list.
  EXPECT_EQ(insert(kListB, {Value::of_int(0), c.value()}), 2);
  EXPECT_EQ(insert(kListB, {Value{}, mid.value()}), 2);
  EXPECT_EQ(cell(kListB, 0, 0), "A");
  EXPECT_EQ(cell(kListB, 1, 0), "b");
  EXPECT_EQ(cell(kListB, 2, 0), "B2");
  EXPECT_EQ(cell(kListB, 3, 0), "c");
}

TEST_F(ListViewTest, CheckBoxToggleFiresEightWithTheNewState) {
  insert(kListB);
  insert(kListB);
  settle();
  QAbstractItemModel* m = view(kListB)->model();
  EXPECT_EQ(m->data(m->index(1, 0), Qt::CheckStateRole).toInt(), Qt::Unchecked);
  ASSERT_TRUE(m->setData(m->index(1, 0), Qt::Checked, Qt::CheckStateRole));
  ASSERT_TRUE(m->setData(m->index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
  std::vector<std::vector<int32_t>> args;
  for (const Call& c : calls())
    if (c.slot == 8) args.push_back(c.args);
  EXPECT_EQ(args, (std::vector<std::vector<int32_t>>{{1, 1}, {1, 0}}));
  EXPECT_EQ(list_row_state(kWin, kListB, 1).state_image, 1);
}

TEST_F(ListViewTest, LabelEditEventsCanRefuse) {
  Text t("旧");
  insert(kListB, {Value{}, t.value()});
  settle();
  QTableView* v = view(kListB);
  v->setFocus();
  set_property(kWin, kListB, 35, -1, Value::of_int(0));
  v->setCurrentIndex(v->model()->index(0, 0));
  // Event 6 answering false keeps the editor closed.
  slot_result(6) = Value::of_logical(false);
  QTest::keyClick(v, Qt::Key_F2);
  EXPECT_EQ(count_calls(6), 1);
  EXPECT_FALSE(editing(v));
  slot_result(6) = Value{};
  QTest::keyClick(v, Qt::Key_F2);
  EXPECT_EQ(count_calls(6), 2);
  EXPECT_TRUE(editing(v));
  // Event 7 answering false rejects the new text; no answer takes it.
  QAbstractItemModel* m = v->model();
  slot_result(7) = Value::of_logical(false);
  EXPECT_FALSE(m->setData(m->index(0, 0), QStringLiteral("新"), Qt::EditRole));
  EXPECT_EQ(cell(kListB, 0, 0), "旧");
  slot_result(7) = Value{};
  EXPECT_TRUE(m->setData(m->index(0, 0), QStringLiteral("新"), Qt::EditRole));
  EXPECT_EQ(cell(kListB, 0, 0), "新");
  EXPECT_EQ(count_calls(7), 2);
  // A character the record file's code page cannot hold is refused, never stored as "?".
  EXPECT_FALSE(m->setData(m->index(0, 0), QString::fromUtf16(u"\U0001F600"), Qt::EditRole));
  EXPECT_EQ(cell(kListB, 0, 0), "新");
}

TEST_F(ListViewTest, RowsFromAWorkerReachTheView) {
  std::thread worker([] {
    for (int i = 0; i < 50; ++i) {
      const int32_t r = insert(kListA);
      set_cell(kListA, r, 1, ("行" + std::to_string(r)).c_str());
    }
  });
  worker.join();
  settle();
  EXPECT_EQ(list_shown_rows(kWin, kListA), 50);
  QAbstractItemModel* m = view(kListA)->model();
  EXPECT_EQ(m->rowCount(), 50);
  EXPECT_EQ(m->data(m->index(49, 1)).toString(), QStringLiteral("行49"));
}

TEST_F(ListViewTest, CommandsOnAControlThatIsNotALoadedListAreFatal) {
  const std::string no_control = "指定窗口或窗口组件不存在或尚未载入";
  EXPECT_EQ(fatal_message([] { call_command(list_clear, {unit_reference(0x52019999, kListA)}); }),
            no_control);
  EXPECT_EQ(fatal_message([] { call_command(list_insert_row, {unit_reference(kWin, kLabel)}); }), no_control);
  EXPECT_EQ(fatal_message([] {
              call_command(list_get_cell_text, {Value::of_int(5), Value::of_int(0)});
            }),
            no_control);
  // A list used a moment ago is still refused once its window has gone.
  EXPECT_EQ(insert(kListA), 0);
  close_window(kWin);
  settle();
  EXPECT_EQ(fatal_message([] {
              call_command(list_set_cell_text, {unit_reference(kWin, kListA), Value::of_int(0)});
            }),
            no_control);
}

TEST_F(ListViewTest, SettingsReadBackByPropertyNumber) {
  EXPECT_EQ(get_property(kWin, kListA, 13).int_payload(), kListViewReport);
  EXPECT_EQ(get_property(kWin, kListA, 21).lo, 1u);  // full-row selection
  EXPECT_EQ(get_property(kWin, kListA, 34).lo, 1u);  // single selection by default
  EXPECT_EQ(get_property(kWin, kListB, 32).lo, 1u);  // check boxes
  EXPECT_EQ(get_property(kWin, kListB, 31).int_payload(), 1);
  EXPECT_EQ(get_property(kWin, kListA, 35).int_payload(), -1);
  // Grid lines switched off live.
  set_property(kWin, kListA, 22, -1, Value::of_logical(false));
  EXPECT_FALSE(view(kListA)->showGrid());
  set_property(kWin, kListA, 18, -1, Value::of_logical(true));
  EXPECT_FALSE(view(kListA)->horizontalHeader()->isVisible());
}

}  // namespace
}  // namespace pennacle
