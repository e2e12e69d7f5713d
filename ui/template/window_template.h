// Window templates: the model of every window the program can load, and its serialized form.
//
// Serialized form (little-endian 32-bit words; a block is a word N then N bytes; a text is a
// word N then N bytes without terminator):
//   window table: block of 8*n bytes: n window ids, then n placeholder words
//   per window, in table order:
//     two header words; two texts (empty); unit count C;
//     block: C unit ids, C record offsets (from the end of the offsets), the unit records,
//            each a word length and its bytes
//   unit record:
//     kind reference, shared-bindings unit id, 4 reserved words, name\0, comment\0, then
//     menu item:  shortcut key, level, flags, caption\0, handler offset, runtime word, 12 reserved
//     otherwise:  runtime word, left, top, width, height, runtime word, parent id, child count,
//                 child ids, mouse pointer block, tag\0, reserved word, state flags, tab position,
//                 binding count, (event, handler offset) pairs, 20 reserved bytes, kind settings
//                 up to the end of the record
//
// Handler offsets designate slots of the application's handler table; -1 is no handler.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pennacle {

// Kind references: library * 65536 + kind number, both from 1.
inline constexpr uint32_t kKindWindow = 0x00010001;
inline constexpr uint32_t kKindMenu = 0x00010003;
inline constexpr uint32_t kKindEditBox = 0x00010005;
inline constexpr uint32_t kKindGroupBox = 0x00010009;
inline constexpr uint32_t kKindButton = 0x0001000B;
inline constexpr uint32_t kKindComboBox = 0x0001000E;
inline constexpr uint32_t kKindStatusBar = 0x00020002;
inline constexpr uint32_t kKindListView = 0x00020004;
inline constexpr uint32_t kKindTransLabel = 0x00020005;

// Identifiers carry a kind in bits 24..27 (2 window, 6 unit); a unit id says in bits 28..31 what
// it is.
enum class UnitType { Window = 0, Control = 1, MenuItem = 2, Invalid = -1 };
constexpr bool is_window_id(int32_t id) { return ((static_cast<uint32_t>(id) >> 24) & 0xF) == 2; }
constexpr bool is_unit_id(int32_t id) { return ((static_cast<uint32_t>(id) >> 24) & 0xF) == 6; }
constexpr UnitType unit_type(int32_t id) {
  if (!is_unit_id(id)) return UnitType::Invalid;
  switch (static_cast<uint32_t>(id) >> 28) {
    case 0:
      return UnitType::Window;
    case 1:
      return UnitType::Control;
    case 2:
      return UnitType::MenuItem;
    default:
      return UnitType::Invalid;
  }
}

// Unit state flags.
inline constexpr int32_t kStateVisible = 1;
inline constexpr int32_t kStateDisabled = 2;
inline constexpr int32_t kStateTabStop = 4;
// Menu item flags.
inline constexpr int32_t kMenuHidden = 1;
inline constexpr int32_t kMenuDisabled = 2;
inline constexpr int32_t kMenuChecked = 4;

inline constexpr int32_t kNoHandler = -1;

struct Binding {
  int32_t event = 0;
  int32_t handler = kNoHandler;  // handler table slot
  bool operator==(const Binding&) const = default;
};

struct UnitTemplate {
  int32_t id = 0;
  uint32_t kind = 0;
  int32_t shared = 0;  // unit whose bindings this one uses, 0 for its own
  std::string name;    // GBK, shown in error reports
  std::string comment;

  // Menu items.
  int32_t shortcut = 0;
  int32_t level = 0;
  int32_t menu_flags = 0;
  std::string caption;
  int32_t handler = kNoHandler;  // selected event

  // The window and controls.
  int32_t left = 0, top = 0, width = 0, height = 0;
  int32_t parent = 0;             // 0: the window
  std::vector<int32_t> children;  // containers; 0 separates pages
  std::string cursor;             // mouse pointer block, empty for the arrow
  std::string tag;
  int32_t state = kStateVisible;
  int32_t tab = 0;
  std::vector<Binding> bindings;
  std::string settings;  // kind settings, starting with the kind's format version

  bool is_menu() const { return unit_type(id) == UnitType::MenuItem; }
  bool operator==(const UnitTemplate&) const = default;
};

struct WindowTemplate {
  int32_t id = 0;
  uint32_t header[2] = {0, 0};
  std::vector<UnitTemplate> units;  // units[0] is the window itself

  // Index of a unit, or -1.
  int index_of(int32_t unit_id) const;
  const UnitTemplate* find(int32_t unit_id) const;
  UnitTemplate* find(int32_t unit_id);
  bool operator==(const WindowTemplate&) const = default;
};

struct TemplateSet {
  std::vector<WindowTemplate> windows;
  const WindowTemplate* find(int32_t window_id) const;
  bool operator==(const TemplateSet&) const = default;
};

// Reads the serialized templates. nullopt for any malformed byte sequence: short data, trailing
// bytes, a count or offset beyond the data, ids of the wrong form or repeated, a first unit that is
// not the window, menu items not consecutive, a parent or child that is not a control of the same
// window, or a parent chain that loops. Never reads outside `data`.
[[nodiscard]] std::optional<TemplateSet> read_templates(std::string_view data);

// The serialized form of `set`; read_templates gives it back unchanged.
std::string write_templates(const TemplateSet& set);

// The structural checks read_templates applies, for templates made in code.
bool check_template(const WindowTemplate& w);

}  // namespace pennacle
