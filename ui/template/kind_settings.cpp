#include "ui/template/kind_settings.h"

#include <algorithm>

#include "ui/template/byte_stream.h"

namespace pennacle {
namespace {

// The version word, refused when above `known`.
bool read_version(ByteReader& r, uint32_t known) {
  uint32_t v = 0;
  return r.u32(&v) && v <= known;
}

// A font block is empty (default font) or one font record.
bool read_font(ByteReader& r, std::string* out) {
  if (!r.block(out)) return false;
  return out->empty() || out->size() == LogFont::kSize;
}

bool read_items(ByteReader& r, std::vector<std::string>* items) {
  uint32_t n = 0;
  // Every item takes at least its terminator.
  if (!r.u32(&n) || n > r.remaining()) return false;
  items->resize(n);
  for (auto& s : *items)
    if (!r.cstr(&s)) return false;
  return true;
}

void write_items(ByteWriter& w, const std::vector<std::string>& items) {
  w.u32(static_cast<uint32_t>(items.size()));
  for (const auto& s : items) w.cstr(s);
}

bool read_values(ByteReader& r, std::vector<int32_t>* values) {
  uint32_t n = 0;
  if (!r.u32(&n) || n > r.remaining() / 4) return false;
  values->resize(n);
  for (auto& v : *values) r.i32(&v);
  return r.ok();
}

void write_values(ByteWriter& w, const std::vector<int32_t>& values) {
  w.u32(static_cast<uint32_t>(values.size()));
  for (int32_t v : values) w.i32(v);
}

bool read_panes(ByteReader& r, std::vector<StatusPane>* panes) {
  uint32_t n = 0;
  // A pane takes at least 14 bytes.
  if (!r.u32(&n) || n > r.remaining() / 14) return false;
  panes->resize(n);
  for (auto& p : *panes) {
    r.i32(&p.width);
    r.u32(&p.style);
    r.i32(&p.icon);
    r.cstr(&p.text);
    r.cstr(&p.tip);
  }
  return r.ok();
}

void write_panes(ByteWriter& w, const std::vector<StatusPane>& panes) {
  w.u32(static_cast<uint32_t>(panes.size()));
  for (const auto& p : panes) {
    w.i32(p.width);
    w.u32(p.style);
    w.i32(p.icon);
    w.cstr(p.text);
    w.cstr(p.tip);
  }
}

}  // namespace

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

std::string WindowSettings::encode() const {
  ByteWriter w;
  w.u32(kVersion);
  w.cstr(caption);
  w.i32(border);
  w.u32(background);
  w.block(picture);
  w.i32(picture_mode);
  w.block(sound);
  w.i32(sound_mode);
  w.flag(control_box);
  w.flag(maximize_box);
  w.flag(minimize_box);
  w.i32(position);
  w.flag(movable);
  w.block(icon);
  w.flag(flag21);
  w.flag(flag22);
  w.flag(flag23);
  w.cstr(help_file);
  w.i32(help_context);
  w.flag(taskbar);
  w.flag(flag27);
  w.i32(shape);
  w.flag(topmost);
  w.flag(flag30);
  w.cstr(class_name);
  return w.take();
}

std::optional<WindowSettings> WindowSettings::decode(std::string_view bytes) {
  WindowSettings s;
  if (bytes.empty()) return s;
  ByteReader r(bytes);
  if (!read_version(r, kVersion)) return std::nullopt;
  r.cstr(&s.caption);
  r.i32(&s.border);
  r.u32(&s.background);
  r.block(&s.picture);
  r.i32(&s.picture_mode);
  r.block(&s.sound);
  r.i32(&s.sound_mode);
  r.flag(&s.control_box);
  r.flag(&s.maximize_box);
  r.flag(&s.minimize_box);
  r.i32(&s.position);
  r.flag(&s.movable);
  r.block(&s.icon);
  r.flag(&s.flag21);
  r.flag(&s.flag22);
  r.flag(&s.flag23);
  r.cstr(&s.help_file);
  r.i32(&s.help_context);
  r.flag(&s.taskbar);
  r.flag(&s.flag27);
  r.i32(&s.shape);
  r.flag(&s.topmost);
  r.flag(&s.flag30);
  r.cstr(&s.class_name);
  if (!r.ok()) return std::nullopt;
  return s;
}

std::string EditBoxSettings::encode() const {
  ByteWriter w;
  w.u32(kVersion);
  w.cstr(content);
  w.i32(border);
  w.u32(text_colour);
  w.u32(background);
  w.block(font);
  w.flag(hide_selection);
  w.i32(max_length);
  w.flag(multi_line);
  w.i32(scroll_bars);
  w.i32(alignment);
  w.i32(input_mode);
  w.u8(password_char);
  w.i32(letter_case);
  w.i32(spin_type);
  w.i32(spin_min);
  w.i32(spin_max);
  w.i32(sel_start);
  w.i32(sel_length);
  return w.take();
}

std::optional<EditBoxSettings> EditBoxSettings::decode(std::string_view bytes) {
  EditBoxSettings s;
  if (bytes.empty()) return s;
  ByteReader r(bytes);
  if (!read_version(r, kVersion)) return std::nullopt;
  r.cstr(&s.content);
  r.i32(&s.border);
  r.u32(&s.text_colour);
  r.u32(&s.background);
  if (!read_font(r, &s.font)) return std::nullopt;
  r.flag(&s.hide_selection);
  r.i32(&s.max_length);
  r.flag(&s.multi_line);
  r.i32(&s.scroll_bars);
  r.i32(&s.alignment);
  r.i32(&s.input_mode);
  r.u8(&s.password_char);
  r.i32(&s.letter_case);
  r.i32(&s.spin_type);
  r.i32(&s.spin_min);
  r.i32(&s.spin_max);
  r.i32(&s.sel_start);
  r.i32(&s.sel_length);
  if (!r.ok()) return std::nullopt;
  return s;
}

std::string ComboBoxSettings::encode() const {
  ByteWriter w;
  w.u32(kVersion);
  w.i32(type);
  w.cstr(content);
  w.i32(max_length);
  w.i32(sel_start);
  w.i32(sel_length);
  w.flag(sorted);
  w.i32(extra_height);
  w.u32(text_colour);
  w.u32(background);
  w.block(font);
  w.i32(current);
  write_items(w, items);
  write_values(w, values);
  return w.take();
}

std::optional<ComboBoxSettings> ComboBoxSettings::decode(std::string_view bytes) {
  ComboBoxSettings s;
  if (bytes.empty()) return s;
  ByteReader r(bytes);
  if (!read_version(r, kVersion)) return std::nullopt;
  r.i32(&s.type);
  r.cstr(&s.content);
  r.i32(&s.max_length);
  r.i32(&s.sel_start);
  r.i32(&s.sel_length);
  r.flag(&s.sorted);
  r.i32(&s.extra_height);
  r.u32(&s.text_colour);
  r.u32(&s.background);
  if (!read_font(r, &s.font)) return std::nullopt;
  r.i32(&s.current);
  if (!read_items(r, &s.items) || !read_values(r, &s.values)) return std::nullopt;
  // Values are stored one per item, or not at all.
  if (!s.values.empty() && s.values.size() != s.items.size()) return std::nullopt;
  return s;
}

std::string ButtonSettings::encode() const {
  ByteWriter w;
  w.u32(kVersion);
  w.block(picture);
  w.i32(type);
  w.cstr(caption);
  w.i32(h_align);
  w.i32(v_align);
  w.block(font);
  return w.take();
}

std::optional<ButtonSettings> ButtonSettings::decode(std::string_view bytes) {
  ButtonSettings s;
  if (bytes.empty()) return s;
  ByteReader r(bytes);
  if (!read_version(r, kVersion)) return std::nullopt;
  r.block(&s.picture);
  r.i32(&s.type);
  r.cstr(&s.caption);
  r.i32(&s.h_align);
  r.i32(&s.v_align);
  if (!read_font(r, &s.font)) return std::nullopt;
  return s;
}

std::string GroupBoxSettings::encode() const {
  ByteWriter w;
  w.u32(kVersion);
  w.cstr(caption);
  w.i32(alignment);
  w.u32(text_colour);
  w.u32(background);
  w.block(font);
  return w.take();
}

std::optional<GroupBoxSettings> GroupBoxSettings::decode(std::string_view bytes) {
  GroupBoxSettings s;
  if (bytes.empty()) return s;
  ByteReader r(bytes);
  if (!read_version(r, kVersion)) return std::nullopt;
  r.cstr(&s.caption);
  r.i32(&s.alignment);
  r.u32(&s.text_colour);
  r.u32(&s.background);
  if (!read_font(r, &s.font)) return std::nullopt;
  return s;
}

std::string TransLabelSettings::encode() const {
  ByteWriter w;
  w.u32(kVersion);
  w.cstr(caption);
  w.i32(effect);
  w.block(font);
  w.u32(text_colour);
  w.i32(h_align);
  w.flag(word_wrap);
  w.i32(v_align);
  return w.take();
}

std::optional<TransLabelSettings> TransLabelSettings::decode(std::string_view bytes) {
  TransLabelSettings s;
  if (bytes.empty()) return s;
  ByteReader r(bytes);
  if (!read_version(r, kVersion)) return std::nullopt;
  r.cstr(&s.caption);
  r.i32(&s.effect);
  if (!read_font(r, &s.font)) return std::nullopt;
  r.u32(&s.text_colour);
  r.i32(&s.h_align);
  r.flag(&s.word_wrap);
  r.i32(&s.v_align);
  if (!r.ok()) return std::nullopt;
  return s;
}

std::string StatusBarSettings::encode() const {
  ByteWriter w;
  w.u32(kVersion);
  w.u32(background);
  w.i32(position);
  w.flag(size_grip);
  w.block(font);
  w.block(image_list);
  write_panes(w, panes);
  return w.take();
}

std::optional<StatusBarSettings> StatusBarSettings::decode(std::string_view bytes) {
  StatusBarSettings s;
  if (bytes.empty()) return s;
  ByteReader r(bytes);
  if (!read_version(r, kVersion)) return std::nullopt;
  r.u32(&s.background);
  r.i32(&s.position);
  r.flag(&s.size_grip);
  if (!read_font(r, &s.font)) return std::nullopt;
  r.block(&s.image_list);
  if (!read_panes(r, &s.panes)) return std::nullopt;
  return s;
}

std::string StatusBarSettings::encode_panes() const {
  ByteWriter w;
  write_panes(w, panes);
  return w.take();
}

std::optional<std::vector<StatusPane>> StatusBarSettings::decode_panes(std::string_view bytes) {
  ByteReader r(bytes);
  std::vector<StatusPane> panes;
  if (!read_panes(r, &panes)) return std::nullopt;
  return panes;
}

std::string encode_items(const std::vector<std::string>& items) {
  ByteWriter w;
  write_items(w, items);
  return w.take();
}

std::optional<std::vector<std::string>> decode_items(std::string_view bytes) {
  ByteReader r(bytes);
  std::vector<std::string> items;
  if (!read_items(r, &items)) return std::nullopt;
  return items;
}

std::string encode_item_values(const std::vector<int32_t>& values) {
  ByteWriter w;
  write_values(w, values);
  return w.take();
}

std::optional<std::vector<int32_t>> decode_item_values(std::string_view bytes) {
  ByteReader r(bytes);
  std::vector<int32_t> values;
  if (!read_values(r, &values)) return std::nullopt;
  return values;
}

}  // namespace pennacle
