// The list view's stored settings: defaults, every field through the block, and refusal of
// malformed blocks without reading outside them.
#include "ui/template/list_view_settings.h"

#include <gtest/gtest.h>

#include "ui/template/byte_stream.h"

namespace pennacle {
namespace {

ListViewSettings every_field_changed() {
  ListViewSettings s;
  s.border = 5;
  s.text_colour = 0x112233;
  s.text_background = 0x445566;
  s.background = 0xFF000000;
  LogFont f;
  f.height = -14;
  f.charset = 134;
  f.face = "宋体";
  s.font = f.encode();
  s.view = kListViewReport;
  s.icon_alignment = 1;
  s.auto_arrange = false;
  s.wrap_labels = false;
  s.columns = {{true, 3, 2, 40, "右"}, {false, -1, 0, 0, ""}};
  s.hide_header = true;
  s.header_images = "HDR";
  s.clickable_header = false;
  s.full_row_select = true;
  s.grid_lines = true;
  s.header_drag_drop = true;
  s.row_images = std::string("R\0W", 3);
  s.state_images = "ST";
  s.hot_tracking = true;
  s.hand_cursor = false;
  s.underline_cold = false;
  s.underline_hot = false;
  s.label_editing = true;
  s.sorting = 2;
  s.check_boxes = true;
  s.flat_scroll_bars = true;
  s.single_selection = false;
  s.current_row = 1;
  s.always_show_selection = true;
  s.initial_rows = {{{"甲", "", "丙"}, 2, 1, 3, -9}, {{}, -1, 0, 0, 0}};
  return s;
}

bool same(const ListViewSettings& a, const ListViewSettings& b) { return a.encode() == b.encode(); }

TEST(ListViewSettings, EmptyBlockGivesTheDefaults) {
  auto s = ListViewSettings::decode("");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->border, 1);
  EXPECT_EQ(s->text_colour, 0u);
  EXPECT_EQ(s->text_background, kColourWhite);
  EXPECT_EQ(s->background, kColourWhite);
  EXPECT_EQ(s->view, kListViewIcons);
  EXPECT_TRUE(s->auto_arrange && s->wrap_labels && s->clickable_header && s->hand_cursor);
  EXPECT_TRUE(s->underline_cold && s->underline_hot && s->single_selection);
  EXPECT_FALSE(s->hide_header || s->full_row_select || s->grid_lines || s->header_drag_drop ||
               s->hot_tracking);
  EXPECT_FALSE(s->label_editing || s->check_boxes || s->flat_scroll_bars || s->always_show_selection);
  EXPECT_EQ(s->sorting, 0);
  EXPECT_EQ(s->current_row, -1);
  EXPECT_TRUE(s->columns.empty() && s->initial_rows.empty() && s->font.empty());
  // The defaults written out read back as the defaults.
  auto again = ListViewSettings::decode(ListViewSettings().encode());
  ASSERT_TRUE(again);
  EXPECT_TRUE(same(*again, ListViewSettings()));
}

TEST(ListViewSettings, EveryFieldSurvivesTheBlock) {
  const ListViewSettings s = every_field_changed();
  auto back = ListViewSettings::decode(s.encode());
  ASSERT_TRUE(back);
  EXPECT_TRUE(same(*back, s));
  EXPECT_EQ(back->columns, s.columns);
  EXPECT_EQ(back->initial_rows, s.initial_rows);
  EXPECT_EQ(back->row_images, s.row_images);
  EXPECT_EQ(back->current_row, 1);
  EXPECT_FALSE(back->single_selection);
}

TEST(ListViewSettings, LayoutStartsWithTheVersionAndScalarsInPropertyOrder) {
  ListViewSettings s;
  s.border = 0;
  s.text_colour = 0x0A0B0C;
  s.view = 3;
  const std::string bytes = s.encode();
  ByteReader r(bytes);
  uint32_t version = 0, colour = 0;
  int32_t border = -1, view = -1;
  ASSERT_TRUE(r.u32(&version) && r.i32(&border) && r.u32(&colour) && r.skip(8) && r.i32(&view));
  EXPECT_EQ(version, 1u);
  EXPECT_EQ(border, 0);
  EXPECT_EQ(colour, 0x0A0B0Cu);
  EXPECT_EQ(view, 3);
}

TEST(ListViewSettings, HigherVersionIsRefused) {
  std::string b = ListViewSettings().encode();
  b[0] = 2;
  EXPECT_FALSE(ListViewSettings::decode(b));
}

TEST(ListViewSettings, EveryTruncationAndATrailingByteAreRefused) {
  const std::string full = every_field_changed().encode();
  for (size_t n = 1; n < full.size(); ++n) EXPECT_FALSE(ListViewSettings::decode(full.substr(0, n))) << n;
  EXPECT_FALSE(ListViewSettings::decode(full + '\0'));
}

TEST(ListViewSettings, FontOfTheWrongSizeIsRefused) {
  ListViewSettings s;
  s.font = "short";
  EXPECT_FALSE(ListViewSettings::decode(s.encode()));
}

TEST(ListViewSettings, ColumnAndRowBlocks) {
  // Column records without terminator, or cut short, are refused.
  std::string cols = encode_columns({{false, -1, 0, 70, "序号"}});
  EXPECT_TRUE(decode_columns(cols));
  EXPECT_FALSE(decode_columns(cols.substr(0, cols.size() - 1)));
  EXPECT_FALSE(decode_columns(cols + std::string(5, '\1')));
  EXPECT_TRUE(decode_columns("")->empty());
  // A row count far beyond the bytes is refused before anything is reserved.
  ByteWriter w;
  w.u32(0x7FFFFFFF);
  w.zeros(20);
  EXPECT_FALSE(decode_rows(w.data()));
  // A cell count beyond the bytes too.
  ByteWriter c;
  c.u32(1);
  c.i32(-1);
  c.i32(0);
  c.i32(0);
  c.i32(0);
  c.u32(0x10000000);
  c.u8(0);
  EXPECT_FALSE(decode_rows(c.data()));
  EXPECT_TRUE(decode_rows("")->empty());
}

}  // namespace
}  // namespace pennacle
