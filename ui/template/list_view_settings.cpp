#include "ui/template/list_view_settings.h"

#include "ui/template/byte_stream.h"

namespace pennacle {
namespace {

// A column record takes at least 14 bytes, a row at least 20: counts are checked against what is
// left before anything is reserved.
constexpr size_t kMinColumnBytes = 14;
constexpr size_t kMinRowBytes = 20;

}  // namespace

std::string encode_columns(const std::vector<ListColumn>& columns) {
  ByteWriter w;
  for (const ListColumn& c : columns) {
    w.u8(c.image_right ? 1 : 0);
    w.i32(c.image);
    w.i32(c.alignment);
    w.i32(c.width);
    w.cstr(c.title);
  }
  return w.take();
}

std::optional<std::vector<ListColumn>> decode_columns(std::string_view bytes) {
  ByteReader r(bytes);
  std::vector<ListColumn> out;
  while (r.remaining() > 0) {
    if (r.remaining() < kMinColumnBytes) return std::nullopt;
    ListColumn c;
    uint8_t right = 0;
    r.u8(&right);
    r.i32(&c.image);
    r.i32(&c.alignment);
    r.i32(&c.width);
    if (!r.cstr(&c.title)) return std::nullopt;
    c.image_right = right != 0;
    out.push_back(std::move(c));
  }
  if (!r.ok()) return std::nullopt;
  return out;
}

std::string encode_rows(const std::vector<ListRow>& rows) {
  ByteWriter w;
  w.u32(static_cast<uint32_t>(rows.size()));
  for (const ListRow& row : rows) {
    w.i32(row.image);
    w.i32(row.state_image);
    w.i32(row.indent);
    w.i32(row.value);
    w.u32(static_cast<uint32_t>(row.cells.size()));
    for (const std::string& c : row.cells) w.cstr(c);
  }
  return w.take();
}

std::optional<std::vector<ListRow>> decode_rows(std::string_view bytes) {
  std::vector<ListRow> out;
  if (bytes.empty()) return out;
  ByteReader r(bytes);
  uint32_t n = 0;
  if (!r.u32(&n) || n > r.remaining() / kMinRowBytes) return std::nullopt;
  out.resize(n);
  for (ListRow& row : out) {
    uint32_t cells = 0;
    r.i32(&row.image);
    r.i32(&row.state_image);
    r.i32(&row.indent);
    r.i32(&row.value);
    // Every cell takes at least its terminator.
    if (!r.u32(&cells) || cells > r.remaining()) return std::nullopt;
    row.cells.resize(cells);
    for (std::string& c : row.cells)
      if (!r.cstr(&c)) return std::nullopt;
  }
  if (!r.at_end()) return std::nullopt;
  return out;
}

std::string ListViewSettings::encode() const {
  ByteWriter w;
  w.u32(kVersion);
  w.i32(border);
  w.u32(text_colour);
  w.u32(text_background);
  w.u32(background);
  w.i32(view);
  w.i32(icon_alignment);
  w.flag(auto_arrange);
  w.flag(wrap_labels);
  w.flag(hide_header);
  w.flag(clickable_header);
  w.flag(full_row_select);
  w.flag(grid_lines);
  w.flag(header_drag_drop);
  w.flag(hot_tracking);
  w.flag(hand_cursor);
  w.flag(underline_cold);
  w.flag(underline_hot);
  w.flag(label_editing);
  w.i32(sorting);
  w.flag(check_boxes);
  w.flag(flat_scroll_bars);
  w.flag(single_selection);
  w.i32(current_row);
  w.flag(always_show_selection);
  w.block(font);
  w.block(header_images);
  w.block(row_images);
  w.block(encode_columns(columns));
  w.block(state_images);
  w.block(initial_rows.empty() ? std::string() : encode_rows(initial_rows));
  return w.take();
}

std::optional<ListViewSettings> ListViewSettings::decode(std::string_view bytes) {
  ListViewSettings s;
  if (bytes.empty()) return s;
  ByteReader r(bytes);
  uint32_t version = 0;
  if (!r.u32(&version) || version > kVersion) return std::nullopt;
  r.i32(&s.border);
  r.u32(&s.text_colour);
  r.u32(&s.text_background);
  r.u32(&s.background);
  r.i32(&s.view);
  r.i32(&s.icon_alignment);
  r.flag(&s.auto_arrange);
  r.flag(&s.wrap_labels);
  r.flag(&s.hide_header);
  r.flag(&s.clickable_header);
  r.flag(&s.full_row_select);
  r.flag(&s.grid_lines);
  r.flag(&s.header_drag_drop);
  r.flag(&s.hot_tracking);
  r.flag(&s.hand_cursor);
  r.flag(&s.underline_cold);
  r.flag(&s.underline_hot);
  r.flag(&s.label_editing);
  r.i32(&s.sorting);
  r.flag(&s.check_boxes);
  r.flag(&s.flat_scroll_bars);
  r.flag(&s.single_selection);
  r.i32(&s.current_row);
  r.flag(&s.always_show_selection);
  std::string_view columns, rows;
  r.block(&s.font);
  r.block(&s.header_images);
  r.block(&s.row_images);
  r.block(&columns);
  r.block(&s.state_images);
  r.block(&rows);
  if (!r.at_end()) return std::nullopt;
  if (!s.font.empty() && s.font.size() != LogFont::kSize) return std::nullopt;
  auto cols = decode_columns(columns);
  auto init = decode_rows(rows);
  if (!cols || !init) return std::nullopt;
  s.columns = std::move(*cols);
  s.initial_rows = std::move(*init);
  return s;
}

}  // namespace pennacle
