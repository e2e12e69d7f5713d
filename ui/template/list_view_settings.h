// Stored settings of the report list view: the kind-specific tail of its unit record, read and
// written through the kind's property table. The block keeps the scalar settings first, in
// property-number order, then the blocks: font, header image list, row image list, column table,
// state image list, initial rows. Nothing may follow the last block.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/template/kind_settings.h"

namespace pennacle {

inline constexpr int32_t kListViewIcons = 0;
inline constexpr int32_t kListViewSmallIcons = 1;
inline constexpr int32_t kListViewList = 2;
inline constexpr int32_t kListViewReport = 3;

struct ListViewSettings : StoredSettings<ListViewSettings> {
  enum Property : int32_t {
    kBorder = 8,
    kTextColour = 9,
    kTextBackground = 10,
    kBackground = 11,
    kFont = 12,
    kView = 13,
    kIconAlignment = 14,
    kAutoArrange = 15,
    kWrapLabels = 16,
    kColumns = 17,
    kHideHeader = 18,
    kHeaderImages = 19,
    kClickableHeader = 20,
    kFullRowSelect = 21,
    kGridLines = 22,
    kHeaderDragDrop = 23,
    kRowImages = 24,
    kStateImages = 25,
    kHotTracking = 26,
    kHandCursor = 27,
    kUnderlineCold = 28,
    kUnderlineHot = 29,
    kLabelEditing = 30,
    kSorting = 31,
    kCheckBoxes = 32,
    kFlatScrollBars = 33,
    kSingleSelection = 34,
    kCurrentRow = 35,
    kAlwaysShowSelection = 36,
    kInitialRows = 37,
  };
  static constexpr uint32_t kVersion = 1;
  static const KindTable<ListViewSettings> kTable;

  int32_t border = 1;
  uint32_t text_colour = 0;
  uint32_t text_background = kColourWhite;
  uint32_t background = kColourWhite;
  std::string font;  // empty: the default GUI font
  int32_t view = kListViewIcons;
  int32_t icon_alignment = 0;
  bool auto_arrange = true;
  bool wrap_labels = true;
  std::vector<ListColumn> columns;
  bool hide_header = false;
  std::string header_images;
  bool clickable_header = true;
  bool full_row_select = false;
  bool grid_lines = false;
  bool header_drag_drop = false;
  std::string row_images;
  std::string state_images;
  bool hot_tracking = false;
  bool hand_cursor = true;
  bool underline_cold = true;
  bool underline_hot = true;
  bool label_editing = false;
  int32_t sorting = 0;  // 0 none, 1 ascending, 2 descending
  bool check_boxes = false;
  bool flat_scroll_bars = false;
  bool single_selection = true;
  int32_t current_row = -1;
  bool always_show_selection = false;
  std::vector<ListRow> initial_rows;
};

}  // namespace pennacle
