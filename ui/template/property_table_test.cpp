// The kinds' property tables: the rules every table keeps (numbers from 8 without a gap, one field
// per row, live-only rows left to the control), the generic write path's rules for out-of-range
// values, and the generic decoder against cut and padded blocks of every kind.
#include "ui/template/property_table.h"

#include <gtest/gtest.h>

#include <set>

#include "ui/template/kind_settings.h"
#include "ui/template/list_view_settings.h"

namespace pennacle {
namespace {

// Runs `check` with a default and a changed settings struct of every kind.
template <class Check>
void for_every_kind(Check check) {
  WindowSettings window;
  window.caption = "窗口";
  window.icon = "ICO";
  EditBoxSettings edit;
  edit.content = "内容";
  edit.password_char = '#';
  ComboBoxSettings combo;
  combo.items = {"甲", "乙"};
  combo.values = {1, 2};
  ButtonSettings button;
  button.picture = "PIC";
  GroupBoxSettings group;
  group.caption = "组";
  TransLabelSettings label;
  label.font = LogFont().encode();
  StatusBarSettings bar;
  bar.panes = {{90, 0, -1, "a", "b"}};
  ListViewSettings list;
  list.columns = {{true, 1, 2, 3, "列"}};
  list.initial_rows = {{{"x"}, -1, 0, 0, 0}};
  check("window", window);
  check("edit box", edit);
  check("combo box", combo);
  check("button", button);
  check("group box", group);
  check("label", label);
  check("status bar", bar);
  check("list view", list);
}

TEST(PropertyTables, EveryTableKeepsTheRules) {
  for_every_kind([](const char* kind, const auto& s) {
    using S = std::decay_t<decltype(s)>;
    const KindTable<S>& table = S::kTable;
    std::set<int32_t> numbers;
    std::vector<SettingField<S>> fields;
    for (const PropertyRow<S>& row : table.rows) {
      numbers.insert(row.number);
      const bool live_only = std::holds_alternative<std::monostate>(row.field);
      // A row without a field is read and written by the control alone.
      if (live_only) {
        EXPECT_TRUE(row.kept == Kept::Live && row.apply == Apply::Control) << kind << row.number;
        continue;
      }
      for (const auto& f : fields)
        EXPECT_FALSE(f == row.field) << kind << ": two rows keep one field, " << row.number;
      fields.push_back(row.field);
    }
    // Numbered from 8 without a gap or a repeat.
    EXPECT_EQ(numbers.size(), table.rows.size()) << kind;
    EXPECT_EQ(*numbers.begin(), 8) << kind;
    EXPECT_EQ(*numbers.rbegin(), 8 + static_cast<int32_t>(table.rows.size()) - 1) << kind;
    EXPECT_EQ(property_types(table).size(), table.rows.size()) << kind;
  });
}

TEST(PropertyTables, WrittenValuesReadBack) {
  for_every_kind([](const char* kind, const auto& original) {
    using S = std::decay_t<decltype(original)>;
    for (const PropertyRow<S>& row : S::kTable.rows) {
      if (row.kept == Kept::Live || row.apply == Apply::Control) continue;
      S s = original;
      PropertyData before;
      read_setting(row, s, &before);
      write_setting(row, s, before);
      PropertyData after;
      read_setting(row, s, &after);
      EXPECT_EQ(after.number, before.number) << kind << row.number;
      EXPECT_EQ(after.bytes, before.bytes) << kind << row.number;
      EXPECT_EQ(s.encode(), original.encode()) << kind << row.number;
    }
  });
}

TEST(PropertyTables, AValueAboveTheTopGivesTheDefault) {
  WindowSettings w;
  const PropertyRow<WindowSettings>& border = *find_row(WindowSettings::kTable, WindowSettings::kBorder);
  write_setting(border, w, PropertyData{6, {}});
  EXPECT_EQ(w.border, 6);
  write_setting(border, w, PropertyData{7, {}});
  EXPECT_EQ(w.border, WindowSettings().border);
  ListViewSettings l;
  write_setting(*find_row(ListViewSettings::kTable, ListViewSettings::kSorting), l, PropertyData{3, {}});
  EXPECT_EQ(l.sorting, 0);
  write_setting(*find_row(ListViewSettings::kTable, ListViewSettings::kView), l, PropertyData{4, {}});
  EXPECT_EQ(l.view, kListViewIcons);
  StatusBarSettings b;
  write_setting(*find_row(StatusBarSettings::kTable, StatusBarSettings::kPosition), b, PropertyData{2, {}});
  EXPECT_EQ(b.position, 2);
}

TEST(PropertyTables, EmptyOrUnreadableValuesGiveTheDefault) {
  EditBoxSettings e;
  const PropertyRow<EditBoxSettings>& pw = *find_row(EditBoxSettings::kTable, EditBoxSettings::kPasswordChar);
  write_setting(pw, e, PropertyData{0, "$x"});
  EXPECT_EQ(e.password_char, '$');
  write_setting(pw, e, PropertyData{0, ""});
  EXPECT_EQ(e.password_char, '*');
  PropertyData read;
  read_setting(pw, e, &read);
  EXPECT_EQ(read.bytes, "*");
  ListViewSettings l;
  l.columns = {{false, -1, 0, 10, "a"}};
  write_setting(*find_row(ListViewSettings::kTable, ListViewSettings::kColumns), l, PropertyData{0, "x"});
  EXPECT_TRUE(l.columns.empty());
}

TEST(PropertyTables, CutBlocksAreRefusedAndOnlyTheListViewRefusesTrailingBytes) {
  for_every_kind([](const char* kind, const auto& s) {
    using S = std::decay_t<decltype(s)>;
    const std::string bytes = s.encode();
    ASSERT_TRUE(S::decode(bytes)) << kind;
    for (size_t n = 1; n < bytes.size(); ++n) EXPECT_FALSE(S::decode(bytes.substr(0, n))) << kind << " " << n;
    const bool padded = S::decode(bytes + '\0').has_value();
    EXPECT_EQ(padded, !S::kTable.whole) << kind;
    std::string newer = bytes;
    newer[0] = static_cast<char>(S::kVersion + 1);
    EXPECT_FALSE(S::decode(newer)) << kind;
  });
}

}  // namespace
}  // namespace pennacle
