// Stored settings of the report list view: the kind-specific tail of its unit record.
//
// Layout (little-endian words, logicals as 0/1 words): version, then the scalar settings in
// property-number order (8 border, 9 text colour, 10 text background, 11 background, 13 view,
// 14 icon alignment, 15 auto-arrange, 16 wrap labels, 18 hide header, 20 clickable header,
// 21 full-row selection, 22 grid lines, 23 header drag and drop, 26 hot tracking, 27 hand cursor,
// 28 underline cold, 29 underline hot, 30 label editing, 31 sorting, 32 check boxes, 33 flat scroll
// bars, 34 single selection, 35 current row, 36 always show the selection), then the blocks, each
// count-prefixed: 12 font, 19 header image list, 24 row image list, 17 column table, 25 state image
// list, 37 initial rows. An empty settings block means every setting at its default.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/template/kind_settings.h"

namespace pennacle {

// One column record: right-image byte, image index, alignment (0 left, 1 centre, 2 right),
// width in pixels (0: present but not visible), zero-terminated title.
struct ListColumn {
  bool image_right = false;
  int32_t image = -1;
  int32_t alignment = 0;
  int32_t width = 0;
  std::string title;  // GBK
  bool operator==(const ListColumn&) const = default;
};

// One initial row: its cells from column 0 on, and the row attributes list_insert_row takes.
struct ListRow {
  std::vector<std::string> cells;
  int32_t image = -1;
  int32_t state_image = 0;  // state-image number (0 none)
  int32_t indent = 0;
  int32_t value = 0;
  bool operator==(const ListRow&) const = default;
};

inline constexpr int32_t kListViewIcons = 0;
inline constexpr int32_t kListViewSmallIcons = 1;
inline constexpr int32_t kListViewList = 2;
inline constexpr int32_t kListViewReport = 3;

struct ListViewSettings {
  static constexpr uint32_t kVersion = 1;
  int32_t border = 1;                       // 8
  uint32_t text_colour = 0;                 // 9
  uint32_t text_background = kColourWhite;  // 10
  uint32_t background = kColourWhite;       // 11
  std::string font;                         // 12, empty: the default GUI font
  int32_t view = kListViewIcons;            // 13
  int32_t icon_alignment = 0;               // 14
  bool auto_arrange = true;                 // 15
  bool wrap_labels = true;                  // 16
  std::vector<ListColumn> columns;          // 17
  bool hide_header = false;                 // 18
  std::string header_images;                // 19
  bool clickable_header = true;             // 20
  bool full_row_select = false;             // 21
  bool grid_lines = false;                  // 22
  bool header_drag_drop = false;            // 23
  std::string row_images;                   // 24
  std::string state_images;                 // 25
  bool hot_tracking = false;                // 26
  bool hand_cursor = true;                  // 27
  bool underline_cold = true;               // 28
  bool underline_hot = true;                // 29
  bool label_editing = false;               // 30
  int32_t sorting = 0;                      // 31
  bool check_boxes = false;                 // 32
  bool flat_scroll_bars = false;            // 33
  bool single_selection = true;             // 34
  int32_t current_row = -1;                 // 35
  bool always_show_selection = false;       // 36
  std::vector<ListRow> initial_rows;        // 37

  std::string encode() const;
  // nullopt for a version above kVersion or any malformed or trailing byte.
  static std::optional<ListViewSettings> decode(std::string_view bytes);
};

// The column table block (property 17): the column records one after the other.
std::string encode_columns(const std::vector<ListColumn>& columns);
std::optional<std::vector<ListColumn>> decode_columns(std::string_view bytes);
// The initial-rows block (property 37): a row count, then per row image, state image, indent,
// value, a cell count and the cells zero-terminated.
std::string encode_rows(const std::vector<ListRow>& rows);
std::optional<std::vector<ListRow>> decode_rows(std::string_view bytes);

}  // namespace pennacle
