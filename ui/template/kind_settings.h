// Stored settings of the window kind and the basic control kinds: the kind-specific tail of a unit
// record. Each block starts with the kind's format version; a block with a higher version than
// the one a kind knows is refused (the unit then fails to load). An empty block means every
// setting at its default. Fields follow in property-number order; integers and colours are 32-bit
// words, logicals 32-bit 0/1, texts zero-terminated, fonts and other blobs count-prefixed blocks.
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

// The 60-byte font record: height (negative: character height in pixels), width, escapement,
// orientation, weight, italic, underline, strike-out, character set, four precision/quality
// bytes and a 32-byte zero-padded face name. An empty font block means the default GUI font.
struct LogFont {
  static constexpr size_t kSize = 60;
  int32_t height = 0, width = 0, escapement = 0, orientation = 0, weight = 400;
  uint8_t italic = 0, underline = 0, strike_out = 0, charset = 0;
  uint8_t out_precision = 0, clip_precision = 0, quality = 0, pitch_family = 0;
  std::string face;  // GBK, at most 31 bytes

  std::string encode() const;
  static std::optional<LogFont> decode(std::string_view bytes);  // exactly 60 bytes
  bool operator==(const LogFont&) const = default;
};

struct WindowSettings {
  static constexpr uint32_t kVersion = 1;
  std::string caption;                      // 8
  int32_t border = 2;                       // 9
  uint32_t background = kColourButtonFace;  // 10
  std::string picture;                      // 11
  int32_t picture_mode = 1;                 // 12
  std::string sound;                        // 13
  int32_t sound_mode = 0;                   // 14
  bool control_box = true;                  // 15
  bool maximize_box = false;                // 16
  bool minimize_box = true;                 // 17
  int32_t position = 1;                     // 18
  bool movable = true;                      // 19
  std::string icon;                         // 20
  bool flag21 = false, flag22 = true, flag23 = false;
  std::string help_file;     // 24
  int32_t help_context = 0;  // 25
  bool taskbar = true;       // 26
  bool flag27 = false;
  int32_t shape = 0;     // 28
  bool topmost = false;  // 29
  bool flag30 = false;
  std::string class_name;  // 31

  std::string encode() const;
  static std::optional<WindowSettings> decode(std::string_view bytes);
};

enum EditInputMode : int32_t {
  kInputNormal = 0,
  kInputReadOnly = 1,
  kInputPassword = 2,
  kInputIntegerText = 3,
  kInputDecimalText = 4,
  kInputByte = 5,
  kInputShort = 6,
  kInputInt = 7,
  kInputInt64 = 8,
  kInputFloat = 9,
  kInputDouble = 10,
  kInputDateTime = 11,
};

struct EditBoxSettings {
  static constexpr uint32_t kVersion = 2;
  std::string content;                                  // 8
  int32_t border = 1;                                   // 9
  uint32_t text_colour = 0;                             // 10
  uint32_t background = kColourWhite;                   // 11
  std::string font;                                     // 12
  bool hide_selection = true;                           // 13
  int32_t max_length = 0;                               // 14, bytes
  bool multi_line = false;                              // 15
  int32_t scroll_bars = 0;                              // 16
  int32_t alignment = 0;                                // 17
  int32_t input_mode = 0;                               // 18
  uint8_t password_char = '*';                          // 19
  int32_t letter_case = 0;                              // 20
  int32_t spin_type = 0, spin_min = 0, spin_max = 100;  // 21..23
  int32_t sel_start = 0, sel_length = 0;                // 24, 25

  std::string encode() const;
  static std::optional<EditBoxSettings> decode(std::string_view bytes);
};

struct ComboBoxSettings {
  static constexpr uint32_t kVersion = 3;
  int32_t type = 1;                       // 8
  std::string content;                    // 9
  int32_t max_length = 0;                 // 10
  int32_t sel_start = 0, sel_length = 0;  // 11, 12
  bool sorted = false;                    // 14
  int32_t extra_height = 1;               // 15
  uint32_t text_colour = 0;               // 16
  uint32_t background = kColourWhite;     // 17
  std::string font;                       // 18
  int32_t current = -1;                   // 19
  std::vector<std::string> items;         // 20
  std::vector<int32_t> values;            // 21, empty or one per item

  std::string encode() const;
  static std::optional<ComboBoxSettings> decode(std::string_view bytes);
};

struct ButtonSettings {
  static constexpr uint32_t kVersion = 1;
  std::string picture;           // 8
  int32_t type = 0;              // 9
  std::string caption = "按钮";  // 10
  int32_t h_align = 1;           // 11
  int32_t v_align = 1;           // 12
  std::string font;              // 13

  std::string encode() const;
  static std::optional<ButtonSettings> decode(std::string_view bytes);
};

struct GroupBoxSettings {
  static constexpr uint32_t kVersion = 1;
  std::string caption;                      // 8
  int32_t alignment = 0;                    // 9
  uint32_t text_colour = 0;                 // 10
  uint32_t background = kColourButtonFace;  // 11
  std::string font;                         // 12

  std::string encode() const;
  static std::optional<GroupBoxSettings> decode(std::string_view bytes);
};

struct TransLabelSettings {
  static constexpr uint32_t kVersion = 1;
  std::string caption;       // 8
  int32_t effect = 0;        // 9, 0..3
  std::string font;          // 10
  uint32_t text_colour = 0;  // 11
  int32_t h_align = 0;       // 12, 0..2
  bool word_wrap = false;    // 13
  int32_t v_align = 1;       // 14, 0..2

  std::string encode() const;
  static std::optional<TransLabelSettings> decode(std::string_view bytes);
};

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

struct StatusBarSettings {
  static constexpr uint32_t kVersion = 1;
  uint32_t background = kColourButtonFace;  // 8
  int32_t position = 0;                     // 9: 0 bottom, 1 top, 2 free
  bool size_grip = false;                   // 10
  std::string font;                         // 11
  std::string image_list;                   // 12
  std::vector<StatusPane> panes;            // 13

  std::string encode() const;
  static std::optional<StatusBarSettings> decode(std::string_view bytes);
  // The pane table block alone (property 13).
  std::string encode_panes() const;
  static std::optional<std::vector<StatusPane>> decode_panes(std::string_view bytes);
};

// Item lists of a combo box (properties 20 and 21): a count, then the texts zero-terminated or
// the 32-bit values.
std::string encode_items(const std::vector<std::string>& items);
std::optional<std::vector<std::string>> decode_items(std::string_view bytes);
std::string encode_item_values(const std::vector<int32_t>& values);
std::optional<std::vector<int32_t>> decode_item_values(std::string_view bytes);

}  // namespace pennacle
