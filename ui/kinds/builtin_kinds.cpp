#include <map>

#include "platform/mutex.h"
#include "ui/kind.h"
#include "ui/kinds/basic_kinds.h"
#include "ui/kinds/list_view.h"
#include "ui/kinds/window_kind.h"

namespace pennacle {
namespace {

// Descriptors are shared and never changed once registered: registering a reference again puts a
// new descriptor in its place, and whoever holds the old one keeps it.
struct KindRegistry {
  Mutex mu;
  std::map<uint32_t, std::shared_ptr<const KindDescriptor>> kinds GUARDED_BY(mu);
};

KindRegistry& registry() {
  static auto* r = new KindRegistry;  // lives to the end: workers may still look kinds up
  return *r;
}

KindDescriptor menu_kind() { return KindDescriptor{kKindMenu, "menu", false, true, {}, nullptr}; }

}  // namespace

void register_kind(KindDescriptor kind) {
  auto shared = std::make_shared<const KindDescriptor>(std::move(kind));
  KindRegistry& r = registry();
  MutexLock lock(r.mu);
  r.kinds[shared->reference] = std::move(shared);
}

std::shared_ptr<const KindDescriptor> find_kind(uint32_t reference) {
  KindRegistry& r = registry();
  MutexLock lock(r.mu);
  auto it = r.kinds.find(reference);
  return it == r.kinds.end() ? nullptr : it->second;
}

void register_builtin_kinds() {
  for (KindDescriptor (*make)() : {window_kind, menu_kind, edit_box_kind, combo_box_kind, button_kind,
                                   group_box_kind, trans_label_kind, status_bar_kind, list_view_kind})
    register_kind(make());
}

}  // namespace pennacle
