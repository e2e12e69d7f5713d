// Window template reader: any byte sequence is read or refused without reading outside it, and
// what is read writes back to a form that reads to the same templates. Each unit's kind settings
// go through their decoder too.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <tuple>

#include "ui/template/kind_settings.h"
#include "ui/template/list_view_settings.h"
#include "ui/template/window_template.h"

namespace {

void decode_settings(const pennacle::UnitTemplate& u) {
  using namespace pennacle;
  switch (u.kind) {
    case kKindWindow:
      std::ignore = WindowSettings::decode(u.settings);
      break;
    case kKindEditBox:
      std::ignore = EditBoxSettings::decode(u.settings);
      break;
    case kKindComboBox:
      std::ignore = ComboBoxSettings::decode(u.settings);
      break;
    case kKindButton:
      std::ignore = ButtonSettings::decode(u.settings);
      break;
    case kKindGroupBox:
      std::ignore = GroupBoxSettings::decode(u.settings);
      break;
    case kKindTransLabel:
      std::ignore = TransLabelSettings::decode(u.settings);
      break;
    case kKindStatusBar:
      std::ignore = StatusBarSettings::decode(u.settings);
      break;
    case kKindListView:
      // What the list view reads writes back to the same settings.
      if (auto s = ListViewSettings::decode(u.settings)) {
        auto again = ListViewSettings::decode(s->encode());
        if (!again || again->encode() != s->encode()) std::abort();
      }
      break;
    default:
      (void)decode_items(u.settings);
      (void)decode_item_values(u.settings);
      (void)LogFont::decode(u.settings);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto set = pennacle::read_templates(bytes);
  if (!set) return 0;
  for (const auto& w : set->windows)
    for (const auto& u : w.units) decode_settings(u);
  auto again = pennacle::read_templates(pennacle::write_templates(*set));
  if (!again || !(*again == *set)) std::abort();
  return 0;
}
