// Window template reader: any byte sequence is read or refused without reading outside it, and
// what is read writes back to a form that reads to the same templates. Each unit's kind settings
// go through their kind's decoder, and what a decoder reads writes back to the same settings.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <tuple>

#include "ui/template/kind_settings.h"
#include "ui/template/list_view_settings.h"
#include "ui/template/window_template.h"

namespace {

using namespace pennacle;

template <class S>
void round_trip(std::string_view bytes) {
  auto s = S::decode(bytes);
  if (!s) return;
  const std::string written = s->encode();
  auto again = S::decode(written);
  if (!again || again->encode() != written) std::abort();
}

void decode_settings(const UnitTemplate& u) {
  switch (u.kind) {
    case kKindWindow:
      return round_trip<WindowSettings>(u.settings);
    case kKindEditBox:
      return round_trip<EditBoxSettings>(u.settings);
    case kKindComboBox:
      return round_trip<ComboBoxSettings>(u.settings);
    case kKindButton:
      return round_trip<ButtonSettings>(u.settings);
    case kKindGroupBox:
      return round_trip<GroupBoxSettings>(u.settings);
    case kKindTransLabel:
      return round_trip<TransLabelSettings>(u.settings);
    case kKindStatusBar:
      return round_trip<StatusBarSettings>(u.settings);
    case kKindListView:
      return round_trip<ListViewSettings>(u.settings);
    default:
      // Any other unit's settings go through every list block and the font record.
      std::ignore = decode_items(u.settings);
      std::ignore = decode_item_values(u.settings);
      std::ignore = decode_panes(u.settings);
      std::ignore = decode_columns(u.settings);
      std::ignore = decode_rows(u.settings);
      std::ignore = LogFont::decode(u.settings);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto set = read_templates(bytes);
  if (!set) return 0;
  for (const auto& w : set->windows)
    for (const auto& u : w.units) decode_settings(u);
  auto again = read_templates(write_templates(*set));
  if (!again || !(*again == *set)) std::abort();
  return 0;
}
