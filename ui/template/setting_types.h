// The records that list-shaped settings hold (status-bar panes, list-view columns and initial
// rows), the blocks that carry lists as property values, and the colours the settings name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pennacle {

// The system button-face colour.
inline constexpr uint32_t kColourButtonFace = 0xFF000000;
inline constexpr uint32_t kColourWhite = 0x00FFFFFF;

// One status-bar pane: width (4 bytes, signed), style (4 bytes), icon index (4 bytes, signed), text
// and tip zero-terminated.
struct StatusPane {
  int32_t width = 0;   // -1: to the right edge, and no pane after it gets a width
  uint32_t style = 0;  // 0 sunken, 256 no border, 512 raised
  int32_t icon = -1;
  std::string text;
  std::string tip;
  bool operator==(const StatusPane&) const = default;
};
inline constexpr uint32_t kPaneNoBorders = 256;
inline constexpr uint32_t kPanePopOut = 512;

// One list-view column record: right-image byte, image index, alignment (0 left, 1 centre,
// 2 right), width in pixels (0: present but not visible), zero-terminated title.
struct ListColumn {
  bool image_right = false;
  int32_t image = -1;
  int32_t alignment = 0;
  int32_t width = 0;
  std::string title;  // GBK
  bool operator==(const ListColumn&) const = default;
};

// One initial list-view row: its cells from column 0 on, and the row attributes list_insert_row
// takes.
struct ListRow {
  std::vector<std::string> cells;
  int32_t image = -1;
  int32_t state_image = 0;  // state-image number (0 none)
  int32_t indent = 0;
  int32_t value = 0;
  bool operator==(const ListRow&) const = default;
};

// Lists as property values. Combo-box items: a count, then the texts zero-terminated; item values:
// a count, then 32-bit words; panes: a count, then the pane records. The combo box and the status
// bar store them in these forms too. A decoder refuses a count beyond the bytes left.
std::string encode_items(const std::vector<std::string>& items);
[[nodiscard]] std::optional<std::vector<std::string>> decode_items(std::string_view bytes);
std::string encode_item_values(const std::vector<int32_t>& values);
[[nodiscard]] std::optional<std::vector<int32_t>> decode_item_values(std::string_view bytes);
std::string encode_panes(const std::vector<StatusPane>& panes);
[[nodiscard]] std::optional<std::vector<StatusPane>> decode_panes(std::string_view bytes);
// The column table: the column records one after the other.
std::string encode_columns(const std::vector<ListColumn>& columns);
[[nodiscard]] std::optional<std::vector<ListColumn>> decode_columns(std::string_view bytes);
// Initial rows: a row count, then per row image, state image, indent, value, a cell count and the
// cells zero-terminated; nothing may follow the last row. An empty block is no rows.
std::string encode_rows(const std::vector<ListRow>& rows);
[[nodiscard]] std::optional<std::vector<ListRow>> decode_rows(std::string_view bytes);

}  // namespace pennacle
