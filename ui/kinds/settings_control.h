// The base of every control kind: its own properties follow its kind's property table. A read of a
// property kept in the settings, and a write that applies to the widget, go through the table; a
// property kept live, or written with an effect of its own, goes to the control's hooks.
#pragma once

#include <memory>
#include <utility>

#include "ui/kind.h"
#include "ui/template/property_table.h"

namespace pennacle {

template <class S>
class SettingsControl : public Control {
 public:
  using Settings = S;
  using Property = typename S::Property;

  bool get(int number, PropertyData* out) final {
    const PropertyRow<S>* row = find_row(S::kTable, number);
    if (!row) return false;
    if (row->kept == Kept::Live) return read_live(row->number, out);
    read_setting(*row, settings_, out);
    return true;
  }

  bool set(int number, const PropertyData& in) final {
    const PropertyRow<S>* row = find_row(S::kTable, number);
    if (!row) return false;
    if (row->apply == Apply::Control) return write_live(row->number, in);
    before_apply(row->apply);
    write_setting(*row, settings_, in);
    apply(row->apply);
    return true;
  }

 protected:
  SettingsControl(const CreateParams& p, S settings)
      : Control(p.window_id, p.unit.id), settings_(std::move(settings)) {}

  // A property the table keeps live (Kept::Live).
  virtual bool read_live(Property, PropertyData*) { return false; }
  // A property the table leaves to the control (Apply::Control).
  virtual bool write_live(Property, const PropertyData&) { return false; }
  // Before a setting changes; the settings are still the old ones.
  virtual void before_apply(Apply) {}
  // After a setting changed: shows the settings on the widget (nothing once the widget is gone).
  virtual void apply(Apply how) = 0;

  S settings_;
};

// The control of a unit made from its stored settings; nullptr when they do not read.
template <class C>
std::unique_ptr<Control> create_from_settings(const CreateParams& p) {
  auto s = C::Settings::decode(p.unit.settings);
  if (!s) return nullptr;
  return std::make_unique<C>(p, std::move(*s));
}

// A window-unit kind whose properties are those of the settings' table.
template <class S>
KindDescriptor settings_kind(uint32_t reference, const char* name, CreateControl create) {
  return {reference, name, true, false, property_types(S::kTable), create};
}

}  // namespace pennacle
