// Properties by number: the menu item's four, the common ones every window and control has, and
// the kind's own, converted between value records and the kind's raw data by the property's type.
#include <QPixmap>
#include <algorithm>
#include <cstdlib>

#include "runtime/convert.h"
#include "runtime/fatal.h"
#include "ui/cjk_face.h"
#include "ui/template/kind_settings.h"
#include "ui/window_registry.h"

namespace pennacle {
namespace {

constexpr std::string_view kNoControl = "指定窗口或窗口组件不存在或尚未载入";
constexpr std::string_view kWindowNotLoaded = "未载入欲访问窗口组件所在的窗口";
constexpr std::string_view kReadNotLoaded = "读取组件属性时发现指定窗口尚未载入";
constexpr std::string_view kWriteNotLoaded = "修改组件属性时发现指定窗口尚未载入";

// The screen the font records were made for has 96 pixels per inch.
constexpr int32_t kPixelsPerInch = 96;
constexpr int32_t kPointsPerInch = 72;
constexpr int32_t kDefaultFontHeight = -12;
constexpr int32_t kBoldWeight = 700;
constexpr int32_t kNormalWeight = 400;
constexpr int64_t kFullTurn = 3600;  // tenths of a degree
constexpr int64_t kMaxPoints = 16384;
constexpr size_t kMaxFaceBytes = 31;

// Numbers by the runtime's conversion (texts read as whole numbers, reals truncated).
int64_t value_as_int(const Value& v) { return value_to_int(v); }

std::string value_as_bytes(const Value& v) {
  if (v.is(Kind::Text)) return std::string(v.text());
  if (v.is(Kind::ByteSet)) return std::string(byteset_view(v.byteset()));
  return {};
}

// Font sizes in points against character heights in pixels, rounded to the nearest.
int32_t points_from_height(int32_t h) {
  return (std::abs(h) * kPointsPerInch + kPixelsPerInch / 2) / kPixelsPerInch;
}
int32_t height_from_points(int32_t p) {
  return -((p * kPixelsPerInch + kPointsPerInch / 2) / kPointsPerInch);
}

// The font record of a font property; the default GUI font when none is stored.
LogFont current_font(std::string_view block) {
  if (auto f = LogFont::decode(block)) return *f;
  LogFont f;
  f.height = kDefaultFontHeight;
  f.charset = kCharsetGb2312;
  return f;
}

Value font_part(std::string_view block, int32_t sub) {
  LogFont f = current_font(block);
  switch (sub) {
    case kFontAngle:
      return Value::of_int(f.escapement);
    case kFontBold:
      return Value::of_logical(f.weight >= kBoldWeight);
    case kFontItalic:
      return Value::of_logical(f.italic != 0);
    case kFontUnderline:
      return Value::of_logical(f.underline != 0);
    case kFontStrikeOut:
      return Value::of_logical(f.strike_out != 0);
    case kFontSize:
      return Value::of_int(points_from_height(f.height));
    case kFontFace:
      return Value::of_text_block(new_text_block(f.face));
    default:
      return Value::of_byteset_block(new_byteset_block(block));
  }
}

std::string with_font_part(std::string_view block, int32_t sub, const Value& v) {
  LogFont f = current_font(block);
  int64_t n = value_as_int(v);
  switch (sub) {
    case kFontAngle:
      f.escapement = f.orientation = static_cast<int32_t>(n % kFullTurn);
      break;
    case kFontBold:
      f.weight = n ? kBoldWeight : kNormalWeight;
      break;
    case kFontItalic:
      f.italic = n != 0;
      break;
    case kFontUnderline:
      f.underline = n != 0;
      break;
    case kFontStrikeOut:
      f.strike_out = n != 0;
      break;
    case kFontSize:
      f.height = height_from_points(static_cast<int32_t>(std::clamp<int64_t>(n, 0, kMaxPoints)));
      break;
    case kFontFace: {
      std::string face = value_as_bytes(v);
      f.face = !face.empty() && face.size() <= kMaxFaceBytes ? face : std::string("宋体");
      break;
    }
    default:
      return value_as_bytes(v);
  }
  return f.encode();
}

Value to_value(PropType type, const PropertyData& d, int32_t sub) {
  switch (type) {
    case PropType::Integer:
    case PropType::Choice:
    case PropType::Colour:
      return Value::of_int(static_cast<int32_t>(d.number));
    case PropType::Logical:
      return Value::of_logical(d.number != 0);
    case PropType::Text:
    case PropType::FileName:
      return Value::of_text_block(new_text_block(d.bytes));
    case PropType::Font:
      return font_part(d.bytes, sub);
    default:
      return Value::of_byteset_block(new_byteset_block(d.bytes));
  }
}
// ---- Reading ---------------------------------------------------------------------------------

// The unit of a loaded window for property access; fatal when the window is not loaded.
LiveWindow& window_for_property(int32_t window_id, int32_t unit_id, int* index) {
  LiveWindow* lw = live_window(window_id);
  if (!lw) report_fatal_message(kWindowNotLoaded);
  *index = unit_index(*lw, unit_id);
  if (*index < 0) report_fatal_message(kNoControl);
  return *lw;
}

Value get_menu_property(const UnitTemplate& u, int32_t property) {
  switch (property) {
    case kMenuPropCaption:
      return Value::of_text_block(new_text_block(u.caption));
    case kMenuPropChecked:
      return Value::of_logical(u.menu_flags & kMenuChecked);
    case kMenuPropDisabled:
      return Value::of_logical(u.menu_flags & kMenuDisabled);
    case kMenuPropVisible:
      return Value::of_logical(!(u.menu_flags & kMenuHidden));
    default:
      return Value{};
  }
}

// Left, top, width and height: of the live widget (the window's outer rectangle), else as stored.
QRect unit_geometry(const LiveWindow& lw, int index, const UnitTemplate& u, QWidget* w) {
  if (!w) return QRect(u.left, u.top, u.width, u.height);
  return index == 0 ? window_control(lw)->outer_geometry() : w->geometry();
}

Value get_common_property(const LiveWindow& lw, int index, const UnitTemplate& u, QWidget* w,
                          int32_t property) {
  switch (property) {
    case kPropLeft:
    case kPropTop:
    case kPropWidth:
    case kPropHeight: {
      const QRect g = unit_geometry(lw, index, u, w);
      const int parts[] = {g.x(), g.y(), g.width(), g.height()};
      return Value::of_int(parts[property]);
    }
    case kPropTag:
      return Value::of_text_block(new_text_block(u.tag));
    case kPropVisible:
      return Value::of_logical(w ? w->isVisible() : (u.state & kStateVisible) != 0);
    case kPropDisabled:
      return Value::of_logical(w ? w->testAttribute(Qt::WA_ForceDisabled) : (u.state & kStateDisabled) != 0);
    case kPropMousePointer:
      return Value::of_byteset_block(new_byteset_block(u.cursor));
    default:
      return Value{};
  }
}

Value get_kind_property(const UnitTemplate& u, Control* c, int32_t property, int32_t sub) {
  std::shared_ptr<const KindDescriptor> k = find_kind(u.kind);
  const auto i = static_cast<size_t>(property - kFirstKindProperty);
  if (!k || i >= k->properties.size()) return Value{};
  PropertyData d;
  if (!c->get(property, &d)) return Value{};
  return to_value(k->properties[i], d, sub);
}

// ---- Writing ---------------------------------------------------------------------------------

// False when nothing changed.
bool set_menu_property(UnitTemplate& u, int32_t property, const Value& value) {
  const bool on = value_as_int(value) != 0;
  auto flag = [&](int32_t bit, bool set) {
    u.menu_flags = set ? (u.menu_flags | bit) : (u.menu_flags & ~bit);
  };
  switch (property) {
    case kMenuPropCaption: {
      std::string caption = value_as_bytes(value);
      if (caption == u.caption) return false;
      u.caption = std::move(caption);
      return true;
    }
    case kMenuPropChecked:
      flag(kMenuChecked, on);
      return true;
    case kMenuPropDisabled:
      flag(kMenuDisabled, on);
      return true;
    case kMenuPropVisible:
      flag(kMenuHidden, !on);
      return true;
    default:
      return false;
  }
}

// One of left, top, width and height; the template copy follows the widget.
void set_geometry_part(const LiveWindow& lw, int index, UnitTemplate& u, QWidget* w, int32_t property,
                       int32_t n) {
  const QRect g = unit_geometry(lw, index, u, w);
  int32_t now[] = {g.x(), g.y(), g.width(), g.height()};
  now[property] = n;
  u.left = now[kPropLeft];
  u.top = now[kPropTop];
  u.width = now[kPropWidth];
  u.height = now[kPropHeight];
  const QRect r(u.left, u.top, u.width, u.height);
  if (!w) return;
  if (index == 0)
    window_control(lw)->set_outer_geometry(r);
  else
    w->setGeometry(r);
}

void set_cursor(QWidget* w, const std::string& image) {
  QPixmap pm;
  if (pm.loadFromData(reinterpret_cast<const uchar*>(image.data()), static_cast<uint>(image.size())))
    w->setCursor(QCursor(pm));
  else
    w->unsetCursor();
}

void set_common_property(const LiveWindow& lw, int index, UnitTemplate& u, QWidget* w, int32_t property,
                         const Value& value) {
  const int64_t n = value_as_int(value);
  auto state = [&](int32_t bit) { u.state = n ? (u.state | bit) : (u.state & ~bit); };
  switch (property) {
    case kPropLeft:
    case kPropTop:
    case kPropWidth:
    case kPropHeight:
      set_geometry_part(lw, index, u, w, property, static_cast<int32_t>(n));
      return;
    case kPropTag:
      u.tag = value_as_bytes(value);
      return;
    case kPropVisible:
      state(kStateVisible);
      if (w) w->setVisible(n != 0);
      return;
    case kPropDisabled:
      state(kStateDisabled);
      if (w) w->setEnabled(n == 0);
      return;
    case kPropMousePointer:
      u.cursor = value_as_bytes(value);
      if (w) set_cursor(w, u.cursor);
      return;
    default:
      return;
  }
}

// The raw data a kind takes for a value of this type; a font sub-field changes one part of the
// control's current font.
PropertyData to_data(PropType type, Control* c, int32_t property, int32_t sub, const Value& value) {
  PropertyData d;
  const int64_t n = value_as_int(value);
  switch (type) {
    case PropType::Logical:
      d.number = n != 0;
      break;
    case PropType::Choice:
      d.number = n < 0 ? 0 : n;
      break;
    case PropType::Integer:
    case PropType::Colour:
      d.number = n;
      break;
    case PropType::Font: {
      PropertyData current;
      c->get(property, &current);
      d.bytes = sub < 0 ? value_as_bytes(value) : with_font_part(current.bytes, sub, value);
      break;
    }
    default:  // texts, file names and blocks
      d.bytes = value_as_bytes(value);
      break;
  }
  return d;
}

void set_kind_property(const UnitTemplate& u, Control* c, int32_t property, int32_t sub, const Value& value) {
  std::shared_ptr<const KindDescriptor> k = find_kind(u.kind);
  const auto i = static_cast<size_t>(property - kFirstKindProperty);
  if (!k || i >= k->properties.size()) return;
  c->set(property, to_data(k->properties[i], c, property, sub, value));
}

}  // namespace

Value get_property(int32_t window_id, int32_t unit_id, int32_t property, int32_t sub) {
  if (!on_ui_thread()) {
    Value v;
    run_on_ui_thread([&] { v = get_property(window_id, unit_id, property, sub); });
    return v;
  }
  int index = 0;
  LiveWindow& lw = window_for_property(window_id, unit_id, &index);
  const UnitTemplate& u = lw.tmpl->units[index];
  if (u.is_menu()) return get_menu_property(u, property);
  std::shared_ptr<Control> c = control_at(lw, static_cast<size_t>(index));
  QWidget* w = c ? c->widget() : nullptr;
  if (property < kFirstKindProperty) return get_common_property(lw, index, u, w, property);
  if (!w) report_fatal_message(kReadNotLoaded);
  return get_kind_property(u, c.get(), property, sub);
}

void set_property(int32_t window_id, int32_t unit_id, int32_t property, int32_t sub, const Value& value) {
  if (!on_ui_thread()) {
    run_on_ui_thread([&] { set_property(window_id, unit_id, property, sub, value); });
    return;
  }
  int index = 0;
  LiveWindow& lw = window_for_property(window_id, unit_id, &index);
  UnitTemplate& u = lw.tmpl->units[index];
  if (u.is_menu()) {
    if (set_menu_property(u, property, value) && alive(&lw)) build_menu_bar(lw);
    return;
  }
  std::shared_ptr<Control> c = control_at(lw, static_cast<size_t>(index));
  QWidget* w = c ? c->widget() : nullptr;
  if (property < kFirstKindProperty) return set_common_property(lw, index, u, w, property, value);
  if (!w) report_fatal_message(kWriteNotLoaded);
  set_kind_property(u, c.get(), property, sub, value);
}

}  // namespace pennacle
