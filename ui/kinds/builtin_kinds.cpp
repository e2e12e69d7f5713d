#include <map>
#include <mutex>

#include "ui/kind.h"
#include "ui/kinds/basic_kinds.h"
#include "ui/kinds/list_view.h"
#include "ui/kinds/window_kind.h"

namespace pennacle {
namespace {

std::mutex g_mu;
std::map<uint32_t, KindDescriptor>& kinds() {
  static auto* k = new std::map<uint32_t, KindDescriptor>;
  return *k;
}

KindDescriptor menu_kind() { return KindDescriptor{kKindMenu, "menu", false, true, {}, nullptr}; }

}  // namespace

void register_kind(KindDescriptor kind) {
  std::lock_guard lock(g_mu);
  kinds()[kind.reference] = std::move(kind);
}

const KindDescriptor* find_kind(uint32_t reference) {
  // Entries are never removed, and std::map keeps element addresses stable.
  std::lock_guard lock(g_mu);
  auto it = kinds().find(reference);
  return it == kinds().end() ? nullptr : &it->second;
}

void register_builtin_kinds() {
  for (KindDescriptor (*make)() : {window_kind, menu_kind, edit_box_kind, combo_box_kind, button_kind,
                                   group_box_kind, trans_label_kind, status_bar_kind, list_view_kind})
    register_kind(make());
}

}  // namespace pennacle
