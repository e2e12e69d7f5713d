// The list view's row store on its own, without a window: where rows go, what cells hold, the
// selection the store keeps for the view, the changes the view catches up with, and one writer
// against readers on other threads.
#include "ui/kinds/list_rows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace pennacle {
namespace {

ListInsertArgs text_row(std::string_view text, int32_t position = -1) {
  ListInsertArgs a;
  a.text = text;
  a.position = position;
  return a;
}

std::vector<std::string> first_cells(const ListRows& rows) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < rows.count(); ++i) out.push_back(rows.cell(i, 0));
  return out;
}

TEST(ListRows, RowsGoAtTheirPositionOrAtTheEnd) {
  ListRows rows;
  EXPECT_EQ(rows.insert(text_row("a")), 0);
  EXPECT_EQ(rows.insert(text_row("b", 99)), 1);  // past the end appends
  EXPECT_EQ(rows.insert(text_row("c", -5)), 2);  // negative appends
  EXPECT_FALSE(rows.take_changes().reshaped);    // rows only came at the end
  EXPECT_EQ(rows.insert(text_row("d", 1)), 1);
  EXPECT_EQ(first_cells(rows), (std::vector<std::string>{"a", "d", "b", "c"}));
  EXPECT_TRUE(rows.take_changes().reshaped);
  EXPECT_FALSE(rows.take_changes().reshaped);  // reported once
}

TEST(ListRows, AttributesAreBroughtIntoRange) {
  ListRows rows;
  ListInsertArgs a = text_row(std::string_view("ab\0cd", 5));
  a.image = -7;
  a.has_state_image = true;
  a.state_image = -3;
  a.indent = -2;
  a.value = -9;
  ASSERT_EQ(rows.insert(a), 0);
  ListRowState s = rows.state(0);
  EXPECT_TRUE(s.exists);
  EXPECT_EQ(s.image, -1);
  EXPECT_EQ(s.state_image, 0);  // index + 1 below 0 gives 0
  EXPECT_EQ(s.indent, 0);
  EXPECT_EQ(s.value, -9);
  EXPECT_EQ(rows.cell(0, 0), "ab");  // a cell holds text up to a zero byte
  a.state_image = 16;                // 17 keeps the four state-image bits: 1
  a.image = 4;
  ASSERT_EQ(rows.insert(a), 1);
  EXPECT_EQ(rows.state(1).state_image, 1);
  EXPECT_EQ(rows.state(1).image, 4);
  a.has_state_image = false;
  ASSERT_EQ(rows.insert(a), 2);
  EXPECT_EQ(rows.state(2).state_image, 0);
  EXPECT_FALSE(rows.state(3).exists);
  EXPECT_FALSE(rows.state(-1).exists);
}

TEST(ListRows, SortedListsPlaceRowsByTextWhateverThePosition) {
  ListRows up;
  up.set_shape(1, 1);
  for (const char* t : {"b", "A", "c", "a"}) up.insert(text_row(t, 0));
  // ASCII letters fold; rows of equal text keep their order of arrival.
  EXPECT_EQ(first_cells(up), (std::vector<std::string>{"A", "a", "b", "c"}));
  ListRows down;
  down.set_shape(1, 2);
  for (const char* t : {"b", "\xD6\xA7", "c"}) down.insert(text_row(t));  // GBK bytes above ASCII
  EXPECT_EQ(first_cells(down), (std::vector<std::string>{"\xD6\xA7", "c", "b"}));
}

TEST(ListRows, CellsExistOnlyInRowsAndColumnsThatDo) {
  ListRows rows;
  rows.set_shape(0, 0);  // no column table: column 0 still exists
  rows.insert(text_row("x"));
  EXPECT_TRUE(rows.set_cell(0, 0, "y"));
  EXPECT_FALSE(rows.set_cell(0, 1, "z"));
  EXPECT_EQ(rows.cell(0, 1), "");
  rows.set_shape(6, 0);
  EXPECT_TRUE(rows.set_cell(0, 5, std::string_view("t\0u", 3)));
  EXPECT_EQ(rows.cell(0, 5), "t");
  EXPECT_EQ(rows.cell(0, 3), "");  // a cell never set is empty
  EXPECT_FALSE(rows.set_cell(0, 6, "z"));
  EXPECT_FALSE(rows.set_cell(1, 0, "z"));
  EXPECT_FALSE(rows.set_cell(-1, 0, "z"));
  EXPECT_EQ(rows.cell(1, 0), "");
  EXPECT_EQ(rows.cell(0, -1), "");
  EXPECT_EQ(rows.cell(0, 0), "y");
}

TEST(ListRows, ClearReportsWhetherThereWereRows) {
  ListRows rows;
  EXPECT_FALSE(rows.clear());
  EXPECT_FALSE(rows.take_changes().reshaped);
  rows.insert(text_row("a"));
  rows.take_changes();
  EXPECT_TRUE(rows.clear());
  EXPECT_EQ(rows.count(), 0);
  const ListRows::Changes c = rows.take_changes();
  EXPECT_TRUE(c.reshaped);
  EXPECT_EQ(c.rows, 0u);
}

TEST(ListRows, TheStoreKeepsTheSelectionForTheView) {
  ListRows rows;
  for (const char* t : {"a", "b", "c"}) rows.insert(text_row(t));
  EXPECT_EQ(rows.first_selected(), -1);
  rows.select_only(2);
  EXPECT_EQ(rows.first_selected(), 2);
  EXPECT_TRUE(rows.state(2).focused);
  EXPECT_TRUE(rows.take_changes().selection_moved);
  rows.set_selected({1, 7, -1});  // rows that do not exist are left out
  EXPECT_EQ(rows.first_selected(), 1);
  EXPECT_FALSE(rows.state(2).selected);
  EXPECT_FALSE(rows.set_focused(2));  // row 2 had the focus already
  EXPECT_TRUE(rows.set_focused(0));
  EXPECT_FALSE(rows.state(2).focused);
  std::vector<int> selected;
  int focused = 0;
  rows.selection(3, &selected, &focused);
  EXPECT_EQ(selected, (std::vector<int>{1}));
  EXPECT_EQ(focused, 0);
  selected.clear();
  rows.selection(1, &selected, &focused);  // only the rows the view shows
  EXPECT_TRUE(selected.empty());
  EXPECT_EQ(focused, 0);
  rows.select_only(3);  // none
  EXPECT_EQ(rows.first_selected(), -1);
  EXPECT_FALSE(rows.set_focused(-1));
}

TEST(ListRows, ReplacedRowsComeBackAsTheyWereGivenInRange) {
  ListRows rows;
  rows.insert(text_row("old"));
  rows.select_only(0);
  rows.replace({{{"a", "b"}, -4, 99, -1, 7}, {{}, 2, 3, 4, 5}});
  EXPECT_EQ(rows.first_selected(), -1);
  EXPECT_TRUE(rows.take_changes().reshaped);
  EXPECT_EQ(rows.rows(), (std::vector<ListRow>{{{"a", "b"}, -1, 15, 0, 7}, {{}, 2, 3, 4, 5}}));
  EXPECT_FALSE(rows.state_image(2).has_value());
  EXPECT_EQ(rows.state_image(1), 3);
}

TEST(ListRows, CheckBoxesAndEditedTexts) {
  ListRows rows;
  rows.replace({{{}, -1, 0, 0, 0}});
  EXPECT_TRUE(rows.set_checked(0, true));
  EXPECT_EQ(rows.state_image(0), kChecked);
  EXPECT_TRUE(rows.set_checked(0, false));
  EXPECT_EQ(rows.state_image(0), kUnchecked);
  EXPECT_FALSE(rows.set_checked(1, true));
  EXPECT_TRUE(rows.set_main_text(0, "新"));  // a row without cells gets its first
  EXPECT_EQ(rows.cell(0, 0), "新");
  EXPECT_FALSE(rows.set_main_text(1, "x"));
}

// Under TSan: one writer fills rows while readers read cells and counts; every cell a reader sees
// is empty or complete, and the counts only grow.
TEST(ListRows, OneWriterAndReadersOnOtherThreads) {
  constexpr int kRows = 4000;
  ListRows rows;
  rows.set_shape(2, 0);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < kRows; ++i) {
      const int32_t r = rows.insert(text_row(std::to_string(i)));
      rows.set_cell(r, 1, "cell" + std::to_string(i));
    }
    done = true;
  });
  std::atomic<int> bad{0};
  auto reader = [&] {
    int32_t last = 0;
    while (!done) {
      const int32_t n = rows.count();
      if (n < last) ++bad;
      last = n;
      if (n == 0) continue;
      const std::string c = rows.cell(n - 1, 1);
      if (!c.empty() && c != "cell" + std::to_string(n - 1)) ++bad;
      rows.take_changes();
    }
  };
  std::thread r1(reader), r2(reader);
  writer.join();
  r1.join();
  r2.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(rows.count(), kRows);
  EXPECT_EQ(rows.cell(kRows - 1, 1), "cell" + std::to_string(kRows - 1));
}

}  // namespace
}  // namespace pennacle
