#include "ui/template/kind_settings.h"

#include <algorithm>

namespace pennacle {

std::string LogFont::encode() const {
  ByteWriter w;
  w.i32(height);
  w.i32(width);
  w.i32(escapement);
  w.i32(orientation);
  w.i32(weight);
  for (uint8_t b :
       {italic, underline, strike_out, charset, out_precision, clip_precision, quality, pitch_family})
    w.u8(b);
  std::string name = face.substr(0, std::min<size_t>(face.find('\0'), 31));
  w.bytes(name);
  w.zeros(32 - name.size());
  return w.take();
}

std::optional<LogFont> LogFont::decode(std::string_view bytes) {
  if (bytes.size() != kSize) return std::nullopt;
  ByteReader r(bytes);
  LogFont f;
  r.i32(&f.height);
  r.i32(&f.width);
  r.i32(&f.escapement);
  r.i32(&f.orientation);
  r.i32(&f.weight);
  for (uint8_t* b : {&f.italic, &f.underline, &f.strike_out, &f.charset, &f.out_precision, &f.clip_precision,
                     &f.quality, &f.pitch_family})
    r.u8(b);
  std::string_view name;
  r.bytes(32, &name);
  f.face.assign(name.substr(0, name.find('\0')));
  if (f.face.size() > 31) f.face.resize(31);
  return f;
}

// ---- Property tables --------------------------------------------------------------------------

namespace {

using P = PropType;

namespace window {
using S = WindowSettings;
constexpr PropertyRow<S> kRows[] = {
    {S::kCaption, P::Text, &S::caption, Kept::Live},
    {S::kBorder, P::Choice, &S::border, Kept::Settings, Apply::Frame, 6},
    {S::kBackground, P::Colour, &S::background},
    {S::kPicture, P::Picture, &S::picture},
    {S::kPictureMode, P::Choice, &S::picture_mode},
    {S::kSound, P::Sound, &S::sound},
    {S::kSoundMode, P::Choice, &S::sound_mode},
    {S::kControlBox, P::Logical, &S::control_box, Kept::Settings, Apply::Frame},
    {S::kMaximizeBox, P::Logical, &S::maximize_box, Kept::Settings, Apply::Frame},
    {S::kMinimizeBox, P::Logical, &S::minimize_box, Kept::Settings, Apply::Frame},
    {S::kPosition, P::Choice, &S::position, Kept::Live, Apply::Control},
    {S::kMovable, P::Logical, &S::movable},
    {S::kIcon, P::Icon, &S::icon},
    {S::kFlag21, P::Logical, &S::flag21},
    {S::kFlag22, P::Logical, &S::flag22},
    {S::kFlag23, P::Logical, &S::flag23},
    {S::kHelpFile, P::FileName, &S::help_file},
    {S::kHelpContext, P::Integer, &S::help_context},
    {S::kTaskbar, P::Logical, &S::taskbar, Kept::Settings, Apply::Frame},
    {S::kFlag27, P::Logical, &S::flag27},
    {S::kShape, P::Choice, &S::shape},
    {S::kTopmost, P::Logical, &S::topmost, Kept::Settings, Apply::Frame},
    {S::kFlag30, P::Logical, &S::flag30},
    {S::kClassName, P::Text, &S::class_name},
};
}  // namespace window

namespace edit_box {
using S = EditBoxSettings;
constexpr PropertyRow<S> kRows[] = {
    {S::kContent, P::Text, &S::content, Kept::Live, Apply::Control},
    {S::kBorder, P::Choice, &S::border},
    {S::kTextColour, P::Colour, &S::text_colour},
    {S::kBackground, P::Colour, &S::background},
    {S::kFont, P::Font, &S::font},
    {S::kHideSelection, P::Logical, &S::hide_selection},
    {S::kMaxLength, P::Integer, &S::max_length},
    {S::kMultiLine, P::Logical, &S::multi_line},  // the box keeps the form it was made with
    {S::kScrollBars, P::Choice, &S::scroll_bars},
    {S::kAlignment, P::Choice, &S::alignment},
    {S::kInputMode, P::Choice, &S::input_mode},
    {S::kPasswordChar, P::Text, &S::password_char},
    {S::kLetterCase, P::Choice, &S::letter_case},
    {S::kSpinType, P::Choice, &S::spin_type},
    {S::kSpinMin, P::Integer, &S::spin_min},
    {S::kSpinMax, P::Integer, &S::spin_max},
    {S::kSelStart, P::Integer, &S::sel_start, Kept::Live, Apply::Control},
    {S::kSelLength, P::Integer, &S::sel_length, Kept::Live, Apply::Control},
    {S::kSelectedText, P::Text, {}, Kept::Live, Apply::Control},
};
}  // namespace edit_box

namespace combo_box {
using S = ComboBoxSettings;
constexpr PropertyRow<S> kRows[] = {
    {S::kType, P::Choice, &S::type, Kept::Settings, Apply::Control},
    {S::kContent, P::Text, &S::content, Kept::Live, Apply::Control},
    {S::kMaxLength, P::Integer, &S::max_length},
    {S::kSelStart, P::Integer, &S::sel_start, Kept::Live, Apply::Control},
    {S::kSelLength, P::Integer, &S::sel_length, Kept::Live, Apply::Control},
    {S::kSelectedText, P::Text, {}, Kept::Live, Apply::Control},
    {S::kSorted, P::Logical, &S::sorted, Kept::Settings, Apply::Control},
    {S::kExtraHeight, P::Integer, &S::extra_height},
    {S::kTextColour, P::Colour, &S::text_colour},
    {S::kBackground, P::Colour, &S::background},
    {S::kFont, P::Font, &S::font},
    {S::kCurrent, P::Integer, &S::current, Kept::Live, Apply::Control},
    {S::kItems, P::Block, &S::items, Kept::Live, Apply::Control},
    {S::kItemValues, P::Block, &S::values, Kept::Live, Apply::Control},
};

// Values are stored one per item, or not at all.
bool valid(const S& s) { return s.values.empty() || s.values.size() == s.items.size(); }
}  // namespace combo_box

namespace button {
using S = ButtonSettings;
constexpr PropertyRow<S> kRows[] = {
    {S::kPicture, P::Picture, &S::picture},      {S::kType, P::Choice, &S::type},
    {S::kCaption, P::Text, &S::caption},         {S::kHorizontalAlign, P::Choice, &S::h_align},
    {S::kVerticalAlign, P::Choice, &S::v_align}, {S::kFont, P::Font, &S::font},
};
}  // namespace button

namespace group_box {
using S = GroupBoxSettings;
constexpr PropertyRow<S> kRows[] = {
    {S::kCaption, P::Text, &S::caption},
    {S::kAlignment, P::Choice, &S::alignment},
    {S::kTextColour, P::Colour, &S::text_colour},
    {S::kBackground, P::Colour, &S::background},
    {S::kFont, P::Font, &S::font},
};
}  // namespace group_box

namespace trans_label {
using S = TransLabelSettings;
constexpr PropertyRow<S> kRows[] = {
    {S::kCaption, P::Text, &S::caption},
    {S::kEffect, P::Choice, &S::effect},
    {S::kFont, P::Font, &S::font},
    {S::kTextColour, P::Colour, &S::text_colour},
    {S::kHorizontalAlign, P::Choice, &S::h_align},
    {S::kWordWrap, P::Logical, &S::word_wrap},
    {S::kVerticalAlign, P::Choice, &S::v_align},
};
}  // namespace trans_label

namespace status_bar {
using S = StatusBarSettings;
constexpr PropertyRow<S> kRows[] = {
    {S::kBackground, P::Colour, &S::background},
    {S::kPosition, P::Choice, &S::position, Kept::Settings, Apply::Widget, 2},
    {S::kSizeGrip, P::Logical, &S::size_grip},
    {S::kFont, P::Font, &S::font},
    {S::kImageList, P::ImageList, &S::image_list},
    {S::kPanes, P::Block, &S::panes, Kept::Live, Apply::Control},
};
}  // namespace status_bar

}  // namespace
const KindTable<WindowSettings> WindowSettings::kTable{kVersion, window::kRows};
const KindTable<EditBoxSettings> EditBoxSettings::kTable{kVersion, edit_box::kRows};
const KindTable<ComboBoxSettings> ComboBoxSettings::kTable{kVersion, combo_box::kRows, false,
                                                           combo_box::valid};
const KindTable<ButtonSettings> ButtonSettings::kTable{kVersion, button::kRows};
const KindTable<GroupBoxSettings> GroupBoxSettings::kTable{kVersion, group_box::kRows};
const KindTable<TransLabelSettings> TransLabelSettings::kTable{kVersion, trans_label::kRows};
const KindTable<StatusBarSettings> StatusBarSettings::kTable{kVersion, status_bar::kRows};

}  // namespace pennacle
