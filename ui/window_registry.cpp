#include "ui/window_registry.h"

#include "runtime/fatal.h"

namespace pennacle {
namespace {

constexpr std::string_view kNoControl = "指定窗口或窗口组件不存在或尚未载入";

LiveWindow* find_window(int32_t id) REQUIRES(g_registry_mu) {
  g_registry_mu.assert_held();
  auto& windows = rt().windows;
  auto it = windows.find(id);
  return it == windows.end() ? nullptr : it->second.get();
}

}  // namespace

constinit Mutex g_registry_mu;

Runtime& rt() {
  static Runtime* r = new Runtime;  // lives to the end: workers may still look things up
  return *r;
}

LiveWindow* live_window(int32_t window_id) {
  MutexLock lock(g_registry_mu);
  return find_window(window_id);
}

std::shared_ptr<Control> control_at(const LiveWindow& w, size_t index) {
  MutexLock lock(g_registry_mu);
  return index < w.controls.size() ? w.controls[index] : nullptr;
}

WindowControl* window_control(const LiveWindow& w) {
  return static_cast<WindowControl*>(control_at(w, 0).get());
}

bool alive(const LiveWindow* w) {
  if (!w) return false;
  {
    MutexLock lock(g_registry_mu);
    if (w->destroying) return false;
  }
  WindowControl* c = window_control(*w);
  return c && c->widget();
}

bool any_window_alive() {
  std::vector<LiveWindow*> loaded;
  {
    MutexLock lock(g_registry_mu);
    for (auto& [id, w] : rt().windows) loaded.push_back(w.get());
  }
  for (LiveWindow* w : loaded)
    if (alive(w)) return true;
  return false;
}

int unit_index(const LiveWindow& w, int32_t unit_id) { return unit_id == 0 ? 0 : w.tmpl->index_of(unit_id); }

int menu_position(const WindowTemplate& t, int index) {
  int pos = 0;
  for (int i = 0; i < static_cast<int>(t.units.size()); ++i) {
    if (!t.units[i].is_menu()) continue;
    if (i == index) return pos;
    ++pos;
  }
  return -1;
}

// ---- The public lookups -----------------------------------------------------------------------

std::shared_ptr<Control> find_control(int32_t window_id, int32_t unit_id) {
  {
    MutexLock lock(g_registry_mu);
    LiveWindow* lw = find_window(window_id);
    if (lw && !lw->destroying) {
      const int i = unit_index(*lw, unit_id);
      if (i >= 0 && lw->controls[i] && lw->controls[i]->widget()) return lw->controls[i];
    }
  }
  report_fatal_message(kNoControl);
}

std::shared_ptr<Control> find_control(const Value& unit_ref) {
  int32_t w = 0, u = 0;
  if (!read_unit_reference(unit_ref, &w, &u)) report_fatal_message(kNoControl);
  return find_control(w, u);
}

Value unit_reference(int32_t window_id, int32_t unit_id) {
  uint32_t kind = kKindWindow;
  if (const WindowTemplate* t = rt().templates.find(window_id))
    if (const UnitTemplate* u = unit_id == 0 ? &t->units[0] : t->find(unit_id)) kind = u->kind;
  Value v;
  v.lo = static_cast<uint32_t>(window_id);
  v.hi = static_cast<uint32_t>(unit_id);
  v.kind = kind;
  return v;
}

bool read_unit_reference(const Value& v, int32_t* window_id, int32_t* unit_id) {
  if (v.is_array() || !find_kind(v.kind)) return false;
  *window_id = static_cast<int32_t>(v.lo);
  *unit_id = static_cast<int32_t>(v.hi);
  return true;
}

bool is_window_loaded(int32_t window_id) {
  MutexLock lock(g_registry_mu);
  LiveWindow* lw = find_window(window_id);
  return lw && !lw->destroying;
}

QWidget* window_widget(int32_t window_id) {
  LiveWindow* lw = live_window(window_id);
  return alive(lw) ? window_control(*lw)->widget() : nullptr;
}

QWidget* unit_widget(int32_t window_id, int32_t unit_id) {
  LiveWindow* lw = live_window(window_id);
  if (!lw) return nullptr;
  const int i = unit_index(*lw, unit_id);
  if (i < 0) return nullptr;
  std::shared_ptr<Control> c = control_at(*lw, static_cast<size_t>(i));
  return c ? c->widget() : nullptr;
}

const WindowTemplate* window_template(int32_t window_id) { return rt().templates.find(window_id); }

WindowNames window_names(int32_t window_id, int32_t unit_id) {
  WindowNames names;
  MutexLock lock(g_registry_mu);
  LiveWindow* lw = find_window(window_id);
  if (!lw) return names;
  names.window_loaded = true;
  names.window = lw->tmpl->units[0].name;
  if (const UnitTemplate* u = lw->tmpl->find(unit_id)) {
    names.control_found = true;
    names.control = u->name;
  }
  return names;
}

}  // namespace pennacle
