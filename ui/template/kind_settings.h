// Stored settings of the window kind and the basic control kinds: the kind-specific tail of a unit
// record, read and written through each kind's property table (ui/template/property_table.h).
// Fields follow the table's order; each struct names its property numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/template/property_table.h"

namespace pennacle {

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
  [[nodiscard]] static std::optional<LogFont> decode(std::string_view bytes);  // exactly 60 bytes
  bool operator==(const LogFont&) const = default;
};

struct WindowSettings : StoredSettings<WindowSettings> {
  enum Property : int32_t {
    kCaption = 8,
    kBorder = 9,
    kBackground = 10,
    kPicture = 11,
    kPictureMode = 12,
    kSound = 13,
    kSoundMode = 14,
    kControlBox = 15,
    kMaximizeBox = 16,
    kMinimizeBox = 17,
    kPosition = 18,
    kMovable = 19,
    kIcon = 20,
    kFlag21 = 21,
    kFlag22 = 22,
    kFlag23 = 23,
    kHelpFile = 24,
    kHelpContext = 25,
    kTaskbar = 26,
    kFlag27 = 27,
    kShape = 28,
    kTopmost = 29,
    kFlag30 = 30,
    kClassName = 31,
  };
  static constexpr uint32_t kVersion = 1;
  static const KindTable<WindowSettings> kTable;

  std::string caption;
  int32_t border = 2;  // 0 none, 1 resizable, 2 fixed, 3 and 4 thin, 5 and 6 sunken edge
  uint32_t background = kColourButtonFace;
  std::string picture;
  int32_t picture_mode = 1;
  std::string sound;
  int32_t sound_mode = 0;
  bool control_box = true;
  bool maximize_box = false;
  bool minimize_box = true;
  int32_t position = 1;  // 0 as stored, 1 centred, 2 minimized, 3 maximized
  bool movable = true;
  std::string icon;
  bool flag21 = false, flag22 = true, flag23 = false;
  std::string help_file;
  int32_t help_context = 0;
  bool taskbar = true;
  bool flag27 = false;
  int32_t shape = 0;
  bool topmost = false;
  bool flag30 = false;
  std::string class_name;
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

struct EditBoxSettings : StoredSettings<EditBoxSettings> {
  enum Property : int32_t {
    kContent = 8,
    kBorder = 9,
    kTextColour = 10,
    kBackground = 11,
    kFont = 12,
    kHideSelection = 13,
    kMaxLength = 14,
    kMultiLine = 15,
    kScrollBars = 16,
    kAlignment = 17,
    kInputMode = 18,
    kPasswordChar = 19,
    kLetterCase = 20,
    kSpinType = 21,
    kSpinMin = 22,
    kSpinMax = 23,
    kSelStart = 24,
    kSelLength = 25,
    kSelectedText = 26,  // live only
  };
  static constexpr uint32_t kVersion = 2;
  static const KindTable<EditBoxSettings> kTable;

  std::string content;
  int32_t border = 1;
  uint32_t text_colour = 0;
  uint32_t background = kColourWhite;
  std::string font;
  bool hide_selection = true;
  int32_t max_length = 0;  // bytes
  bool multi_line = false;
  int32_t scroll_bars = 0;
  int32_t alignment = 0;
  int32_t input_mode = 0;
  uint8_t password_char = '*';
  int32_t letter_case = 0;
  int32_t spin_type = 0, spin_min = 0, spin_max = 100;
  int32_t sel_start = 0, sel_length = 0;
};

struct ComboBoxSettings : StoredSettings<ComboBoxSettings> {
  enum Property : int32_t {
    kType = 8,
    kContent = 9,
    kMaxLength = 10,
    kSelStart = 11,
    kSelLength = 12,
    kSelectedText = 13,  // live only
    kSorted = 14,
    kExtraHeight = 15,
    kTextColour = 16,
    kBackground = 17,
    kFont = 18,
    kCurrent = 19,
    kItems = 20,
    kItemValues = 21,
  };
  static constexpr uint32_t kVersion = 3;
  static const KindTable<ComboBoxSettings> kTable;

  int32_t type = 1;  // 0 simple, 1 drop-down with a text field, 2 drop-down list
  std::string content;
  int32_t max_length = 0;
  int32_t sel_start = 0, sel_length = 0;
  bool sorted = false;
  int32_t extra_height = 1;
  uint32_t text_colour = 0;
  uint32_t background = kColourWhite;
  std::string font;
  int32_t current = -1;
  std::vector<std::string> items;
  std::vector<int32_t> values;  // empty or one per item
};

struct ButtonSettings : StoredSettings<ButtonSettings> {
  enum Property : int32_t {
    kPicture = 8,
    kType = 9,
    kCaption = 10,
    kHorizontalAlign = 11,
    kVerticalAlign = 12,
    kFont = 13,
  };
  static constexpr uint32_t kVersion = 1;
  static const KindTable<ButtonSettings> kTable;

  std::string picture;
  int32_t type = 0;  // 1: the default button
  std::string caption = "按钮";
  int32_t h_align = 1;
  int32_t v_align = 1;
  std::string font;
};

struct GroupBoxSettings : StoredSettings<GroupBoxSettings> {
  enum Property : int32_t {
    kCaption = 8,
    kAlignment = 9,
    kTextColour = 10,
    kBackground = 11,
    kFont = 12,
  };
  static constexpr uint32_t kVersion = 1;
  static const KindTable<GroupBoxSettings> kTable;

  std::string caption;
  int32_t alignment = 0;
  uint32_t text_colour = 0;
  uint32_t background = kColourButtonFace;
  std::string font;
};

struct TransLabelSettings : StoredSettings<TransLabelSettings> {
  enum Property : int32_t {
    kCaption = 8,
    kEffect = 9,
    kFont = 10,
    kTextColour = 11,
    kHorizontalAlign = 12,
    kWordWrap = 13,
    kVerticalAlign = 14,
  };
  static constexpr uint32_t kVersion = 1;
  static const KindTable<TransLabelSettings> kTable;

  std::string caption;
  int32_t effect = 0;  // 0..3
  std::string font;
  uint32_t text_colour = 0;
  int32_t h_align = 0;  // 0..2
  bool word_wrap = false;
  int32_t v_align = 1;  // 0..2
};

struct StatusBarSettings : StoredSettings<StatusBarSettings> {
  enum Property : int32_t {
    kBackground = 8,
    kPosition = 9,
    kSizeGrip = 10,
    kFont = 11,
    kImageList = 12,
    kPanes = 13,
  };
  static constexpr uint32_t kVersion = 1;
  static const KindTable<StatusBarSettings> kTable;

  uint32_t background = kColourButtonFace;
  int32_t position = 0;  // 0 bottom, 1 top, 2 free
  bool size_grip = false;
  std::string font;
  std::string image_list;
  std::vector<StatusPane> panes;
};

}  // namespace pennacle
