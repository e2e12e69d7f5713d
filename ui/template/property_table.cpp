#include "ui/template/property_table.h"

namespace pennacle {
namespace {

// Each record takes at least this many bytes, so a count is checked against what is left before
// anything is reserved: a text its terminator, a pane three words and two terminators, a column
// record 14 bytes, a row four words and a cell count.
constexpr size_t kMinTextBytes = 1;
constexpr size_t kMinPaneBytes = 14;
constexpr size_t kMinColumnBytes = 14;
constexpr size_t kMinRowBytes = 20;
// A font block is empty (the default GUI font) or one font record.
constexpr size_t kFontRecordBytes = 60;

bool is_text(PropType t) { return t == PropType::Text || t == PropType::FileName; }

// Reads a count, refused when `min_bytes` each would not fit in what is left.
bool take_count(ByteReader& r, size_t min_bytes, uint32_t* n) {
  return r.u32(n) && *n <= r.remaining() / min_bytes;
}

void put_pane(ByteWriter& w, const StatusPane& p) {
  w.i32(p.width);
  w.u32(p.style);
  w.i32(p.icon);
  w.cstr(p.text);
  w.cstr(p.tip);
}

void take_pane(ByteReader& r, StatusPane* p) {
  r.i32(&p->width);
  r.u32(&p->style);
  r.i32(&p->icon);
  r.cstr(&p->text);
  r.cstr(&p->tip);
}

void put_row(ByteWriter& w, const ListRow& row) {
  w.i32(row.image);
  w.i32(row.state_image);
  w.i32(row.indent);
  w.i32(row.value);
  w.u32(static_cast<uint32_t>(row.cells.size()));
  for (const std::string& c : row.cells) w.cstr(c);
}

bool take_row(ByteReader& r, ListRow* row) {
  uint32_t cells = 0;
  r.i32(&row->image);
  r.i32(&row->state_image);
  r.i32(&row->indent);
  r.i32(&row->value);
  if (!take_count(r, kMinTextBytes, &cells)) return false;
  row->cells.resize(cells);
  for (std::string& c : row->cells)
    if (!r.cstr(&c)) return false;
  return true;
}

}  // namespace

// ---- Stored forms ----------------------------------------------------------------------------

void put_field(ByteWriter& w, PropType, int32_t v) { w.i32(v); }
void put_field(ByteWriter& w, PropType, uint32_t v) { w.u32(v); }
void put_field(ByteWriter& w, PropType, bool v) { w.flag(v); }
void put_field(ByteWriter& w, PropType, uint8_t v) { w.u8(v); }
void put_field(ByteWriter& w, PropType t, const std::string& v) { is_text(t) ? w.cstr(v) : w.block(v); }

void put_field(ByteWriter& w, PropType, const std::vector<std::string>& v) {
  w.u32(static_cast<uint32_t>(v.size()));
  for (const std::string& s : v) w.cstr(s);
}

void put_field(ByteWriter& w, PropType, const std::vector<int32_t>& v) {
  w.u32(static_cast<uint32_t>(v.size()));
  for (int32_t n : v) w.i32(n);
}

void put_field(ByteWriter& w, PropType, const std::vector<StatusPane>& v) {
  w.u32(static_cast<uint32_t>(v.size()));
  for (const StatusPane& p : v) put_pane(w, p);
}

void put_field(ByteWriter& w, PropType, const std::vector<ListColumn>& v) { w.block(encode_columns(v)); }

// No rows are stored as an empty block.
void put_field(ByteWriter& w, PropType, const std::vector<ListRow>& v) {
  w.block(v.empty() ? std::string() : encode_rows(v));
}

bool take_field(ByteReader& r, PropType, int32_t* v) { return r.i32(v); }
bool take_field(ByteReader& r, PropType, uint32_t* v) { return r.u32(v); }
bool take_field(ByteReader& r, PropType, bool* v) { return r.flag(v); }
bool take_field(ByteReader& r, PropType, uint8_t* v) { return r.u8(v); }

bool take_field(ByteReader& r, PropType t, std::string* v) {
  if (is_text(t)) return r.cstr(v);
  if (!r.block(v)) return false;
  return t != PropType::Font || v->empty() || v->size() == kFontRecordBytes;
}

bool take_field(ByteReader& r, PropType, std::vector<std::string>* v) {
  uint32_t n = 0;
  if (!take_count(r, kMinTextBytes, &n)) return false;
  v->resize(n);
  for (std::string& s : *v)
    if (!r.cstr(&s)) return false;
  return true;
}

bool take_field(ByteReader& r, PropType, std::vector<int32_t>* v) {
  uint32_t n = 0;
  if (!take_count(r, sizeof(int32_t), &n)) return false;
  v->resize(n);
  for (int32_t& x : *v) r.i32(&x);
  return r.ok();
}

bool take_field(ByteReader& r, PropType, std::vector<StatusPane>* v) {
  uint32_t n = 0;
  if (!take_count(r, kMinPaneBytes, &n)) return false;
  v->resize(n);
  for (StatusPane& p : *v) take_pane(r, &p);
  return r.ok();
}

bool take_field(ByteReader& r, PropType, std::vector<ListColumn>* v) {
  std::string_view block;
  if (!r.block(&block)) return false;
  auto columns = decode_columns(block);
  if (!columns) return false;
  *v = std::move(*columns);
  return true;
}

bool take_field(ByteReader& r, PropType, std::vector<ListRow>* v) {
  std::string_view block;
  if (!r.block(&block)) return false;
  auto rows = decode_rows(block);
  if (!rows) return false;
  *v = std::move(*rows);
  return true;
}

// ---- Property forms --------------------------------------------------------------------------

void field_to_data(int32_t v, PropertyData* out) { out->number = v; }
void field_to_data(uint32_t v, PropertyData* out) { out->number = v; }
void field_to_data(bool v, PropertyData* out) { out->number = v; }
void field_to_data(uint8_t v, PropertyData* out) { out->bytes.assign(1, static_cast<char>(v)); }
void field_to_data(const std::string& v, PropertyData* out) { out->bytes = v; }
void field_from_data(const PropertyData& in, int32_t top, int32_t fallback, int32_t* v) {
  const auto n = static_cast<int32_t>(in.number);
  *v = n > top ? fallback : n;
}

void field_from_data(const PropertyData& in, int32_t, uint32_t, uint32_t* v) {
  *v = static_cast<uint32_t>(in.number);
}

void field_from_data(const PropertyData& in, int32_t, bool, bool* v) { *v = in.number != 0; }

void field_from_data(const PropertyData& in, int32_t, uint8_t fallback, uint8_t* v) {
  *v = in.bytes.empty() ? fallback : static_cast<uint8_t>(in.bytes[0]);
}

void field_from_data(const PropertyData& in, int32_t, const std::string&, std::string* v) { *v = in.bytes; }

// ---- List blocks -----------------------------------------------------------------------------

namespace {

template <class T>
std::string list_block(const T& list) {
  ByteWriter w;
  put_field(w, PropType::Block, list);
  return w.take();
}

template <class T>
std::optional<T> read_list_block(std::string_view bytes) {
  ByteReader r(bytes);
  T list;
  if (!take_field(r, PropType::Block, &list)) return std::nullopt;
  return list;
}

}  // namespace

std::string encode_items(const std::vector<std::string>& items) { return list_block(items); }
std::optional<std::vector<std::string>> decode_items(std::string_view bytes) {
  return read_list_block<std::vector<std::string>>(bytes);
}

std::string encode_item_values(const std::vector<int32_t>& values) { return list_block(values); }
std::optional<std::vector<int32_t>> decode_item_values(std::string_view bytes) {
  return read_list_block<std::vector<int32_t>>(bytes);
}

std::string encode_panes(const std::vector<StatusPane>& panes) { return list_block(panes); }
std::optional<std::vector<StatusPane>> decode_panes(std::string_view bytes) {
  return read_list_block<std::vector<StatusPane>>(bytes);
}

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
  for (const ListRow& row : rows) put_row(w, row);
  return w.take();
}

std::optional<std::vector<ListRow>> decode_rows(std::string_view bytes) {
  std::vector<ListRow> out;
  if (bytes.empty()) return out;
  ByteReader r(bytes);
  uint32_t n = 0;
  if (!take_count(r, kMinRowBytes, &n)) return std::nullopt;
  out.resize(n);
  for (ListRow& row : out)
    if (!take_row(r, &row)) return std::nullopt;
  if (!r.at_end()) return std::nullopt;
  return out;
}

}  // namespace pennacle
