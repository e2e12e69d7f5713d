// Property tables: one per control kind. A row names one of the kind's own properties (number 8
// on), the type its values have, the settings field that keeps it (and so its place in the stored
// settings block), where a read comes from and what a write does. Reading, writing, encoding and
// decoding are each one generic path over the rows, so adding a property is adding a row.
//
// A kind's stored settings block is its format version (a 32-bit word), then every row that has a
// field, in table order: integers and colours as 32-bit words, logicals as 32-bit 0/1, a one-byte
// field as that byte, texts and file names zero-terminated, fonts and other blobs count-prefixed
// (a font block is empty or one 60-byte font record), and list fields in their own forms (below).
// An empty block means every setting at its default; a version above the kind's is refused.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "ui/template/byte_stream.h"
#include "ui/template/setting_types.h"

namespace pennacle {

// How the runtime converts a property's raw data to and from a value record.
enum class PropType {
  Integer,  // Int
  Logical,  // Logical
  Text,     // Text (a new copy when read)
  Choice,   // Int; a negative value written becomes 0
  Colour,   // Int: 0x00BBGGRR, or 0xFF000000 for the button face
  Font,     // the 60-byte font record; a sub-field reads or writes one part
  Picture,  // byte blocks from here on
  Icon,
  Cursor,
  Sound,
  FileName,  // Text
  ImageList,
  Block,
};

// Raw property data: numbers in `number`, texts (GBK) and blocks in `bytes`.
struct PropertyData {
  int64_t number = 0;
  std::string bytes;
};

// Where a read of the property comes from.
enum class Kept : uint8_t {
  Settings,  // the settings the control keeps
  Live,      // the widget or the control's own store: the control reads it
};

// What a write of the property does.
enum class Apply : uint8_t {
  Widget,   // stores the value in the settings, then the control applies its settings
  Frame,    // the same, and the window's frame is rebuilt with its outer rectangle kept
  Control,  // the control writes it itself (live state, or an effect of its own)
};

// The field of a settings struct `S` that keeps a property; monostate for a property that is only
// live and never stored.
template <class S>
using SettingField =
    std::variant<std::monostate, int32_t S::*, uint32_t S::*, bool S::*, uint8_t S::*, std::string S::*,
                 std::vector<std::string> S::*, std::vector<int32_t> S::*, std::vector<StatusPane> S::*,
                 std::vector<ListColumn> S::*, std::vector<ListRow> S::*>;

template <class S>
struct PropertyRow {
  typename S::Property number;  // 8 on
  PropType type;                // how its values are converted, and its stored form
  SettingField<S> field;        // where the settings keep it
  Kept kept = Kept::Settings;   // where a read comes from
  Apply apply = Apply::Widget;  // what a write does
  // A number written above `top` gives the setting's default instead.
  int32_t top = std::numeric_limits<int32_t>::max();
};

template <class S>
struct KindTable {
  uint32_t version;
  std::span<const PropertyRow<S>> rows;  // in stored order
  bool whole = false;                    // bytes after the last field are refused
  bool (*valid)(const S&) = nullptr;     // a check across fields, after they are read
};

// ---- One field in its stored and its property forms ---------------------------------------
// Texts and file names are stored zero-terminated, other strings as count-prefixed blocks.

void put_field(ByteWriter& w, PropType t, int32_t v);
void put_field(ByteWriter& w, PropType t, uint32_t v);
void put_field(ByteWriter& w, PropType t, bool v);
void put_field(ByteWriter& w, PropType t, uint8_t v);
void put_field(ByteWriter& w, PropType t, const std::string& v);
void put_field(ByteWriter& w, PropType t, const std::vector<std::string>& v);  // count, texts
void put_field(ByteWriter& w, PropType t, const std::vector<int32_t>& v);      // count, words
void put_field(ByteWriter& w, PropType t, const std::vector<StatusPane>& v);   // the pane table
void put_field(ByteWriter& w, PropType t, const std::vector<ListColumn>& v);   // a block of columns
void put_field(ByteWriter& w, PropType t, const std::vector<ListRow>& v);      // a block of rows

bool take_field(ByteReader& r, PropType t, int32_t* v);
bool take_field(ByteReader& r, PropType t, uint32_t* v);
bool take_field(ByteReader& r, PropType t, bool* v);
bool take_field(ByteReader& r, PropType t, uint8_t* v);
bool take_field(ByteReader& r, PropType t, std::string* v);
bool take_field(ByteReader& r, PropType t, std::vector<std::string>* v);
bool take_field(ByteReader& r, PropType t, std::vector<int32_t>* v);
bool take_field(ByteReader& r, PropType t, std::vector<StatusPane>* v);
bool take_field(ByteReader& r, PropType t, std::vector<ListColumn>* v);
bool take_field(ByteReader& r, PropType t, std::vector<ListRow>* v);

// Property form: numbers as numbers, a one-byte field as a one-byte text, lists as their blocks.
void field_to_data(int32_t v, PropertyData* out);
void field_to_data(uint32_t v, PropertyData* out);
void field_to_data(bool v, PropertyData* out);
void field_to_data(uint8_t v, PropertyData* out);
void field_to_data(const std::string& v, PropertyData* out);

// From the property form; `fallback` (the setting's default) for a 32-bit number above `top`, an
// empty one-byte text, or a list block that does not read.
void field_from_data(const PropertyData& in, int32_t top, int32_t fallback, int32_t* v);
void field_from_data(const PropertyData& in, int32_t top, uint32_t fallback, uint32_t* v);
void field_from_data(const PropertyData& in, int32_t top, bool fallback, bool* v);
void field_from_data(const PropertyData& in, int32_t top, uint8_t fallback, uint8_t* v);
void field_from_data(const PropertyData& in, int32_t top, const std::string& fallback, std::string* v);

// A list field's property form: the block of setting_types.h for its element type.
template <class T>
std::string encode_list(const std::vector<T>& list) {
  if constexpr (std::is_same_v<T, std::string>) {
    return encode_items(list);
  } else if constexpr (std::is_same_v<T, int32_t>) {
    return encode_item_values(list);
  } else if constexpr (std::is_same_v<T, StatusPane>) {
    return encode_panes(list);
  } else if constexpr (std::is_same_v<T, ListColumn>) {
    return encode_columns(list);
  } else {
    static_assert(std::is_same_v<T, ListRow>);
    return encode_rows(list);
  }
}

template <class T>
std::optional<std::vector<T>> decode_list(std::string_view bytes) {
  if constexpr (std::is_same_v<T, std::string>) {
    return decode_items(bytes);
  } else if constexpr (std::is_same_v<T, int32_t>) {
    return decode_item_values(bytes);
  } else if constexpr (std::is_same_v<T, StatusPane>) {
    return decode_panes(bytes);
  } else if constexpr (std::is_same_v<T, ListColumn>) {
    return decode_columns(bytes);
  } else {
    static_assert(std::is_same_v<T, ListRow>);
    return decode_rows(bytes);
  }
}

template <class T>
void field_to_data(const std::vector<T>& v, PropertyData* out) {
  out->bytes = encode_list(v);
}

template <class T>
void field_from_data(const PropertyData& in, int32_t, const std::vector<T>& fallback, std::vector<T>* v) {
  auto list = decode_list<T>(in.bytes);
  *v = list ? std::move(*list) : fallback;
}

// ---- The generic paths ----------------------------------------------------------------------

// Calls fn(member) for a row's field; nothing for a live-only row.
template <class S, class Fn>
void with_field(const PropertyRow<S>& row, Fn&& fn) {
  std::visit(
      [&](auto member) {
        if constexpr (!std::is_same_v<decltype(member), std::monostate>) fn(member);
      },
      row.field);
}

template <class S>
const PropertyRow<S>* find_row(const KindTable<S>& table, int32_t number) {
  for (const PropertyRow<S>& row : table.rows)
    if (row.number == number) return &row;
  return nullptr;
}

// The value types of properties 8, 9, ... in number order. The table must number its rows from 8
// on without a gap.
template <class S>
std::vector<PropType> property_types(const KindTable<S>& table) {
  std::vector<PropType> types(table.rows.size(), PropType::Block);
  for (const PropertyRow<S>& row : table.rows) types.at(static_cast<size_t>(row.number - 8)) = row.type;
  return types;
}

template <class S>
void read_setting(const PropertyRow<S>& row, const S& s, PropertyData* out) {
  with_field(row, [&](auto member) { field_to_data(s.*member, out); });
}

template <class S>
void write_setting(const PropertyRow<S>& row, S& s, const PropertyData& in) {
  static const S kDefaults{};
  with_field(row, [&](auto member) { field_from_data(in, row.top, kDefaults.*member, &(s.*member)); });
}

template <class S>
std::string encode_settings(const S& s) {
  const KindTable<S>& table = S::kTable;
  ByteWriter w;
  w.u32(table.version);
  for (const PropertyRow<S>& row : table.rows)
    with_field(row, [&](auto member) { put_field(w, row.type, s.*member); });
  return w.take();
}

// nullopt for a version above the kind's, a field that does not read, or a block the table's
// checks refuse. Never reads outside `bytes`.
template <class S>
[[nodiscard]] std::optional<S> decode_settings(std::string_view bytes) {
  const KindTable<S>& table = S::kTable;
  S s;
  if (bytes.empty()) return s;
  ByteReader r(bytes);
  uint32_t version = 0;
  if (!r.u32(&version) || version > table.version) return std::nullopt;
  bool ok = true;
  for (const PropertyRow<S>& row : table.rows)
    with_field(row, [&](auto member) { ok = ok && take_field(r, row.type, &(s.*member)); });
  if (!ok || (table.whole && !r.at_end()) || (table.valid && !table.valid(s))) return std::nullopt;
  return s;
}

// The base of every kind's settings struct: its stored block through the kind's table.
template <class S>
struct StoredSettings {
  std::string encode() const { return encode_settings(static_cast<const S&>(*this)); }
  [[nodiscard]] static std::optional<S> decode(std::string_view bytes) { return decode_settings<S>(bytes); }
};

}  // namespace pennacle
