// Events: a unit's event runs the handler its template binds, with the unit as the current event
// source. Also the focus events, idle callbacks and the close of a window.
#include <QApplication>
#include <span>
#include <vector>

#include "runtime/fatal.h"
#include "ui/runtime_internal.h"
#include "ui/template/unit_events.h"
#include "ui/window_registry.h"

namespace pennacle {
namespace {

constexpr std::string_view kEventNoWindow = "未找到引发事件的窗口";
constexpr std::string_view kEventNoUnit = "未找到引发事件的窗口组件";
constexpr std::string_view kEventBadUnit = "引发事件的窗口组件无效";
constexpr size_t kMaxEventArgs = 5;

// The unit whose bindings a unit uses: the shared-bindings link is followed while the linked unit
// exists and is of the same kind.
const UnitTemplate& binding_unit(const WindowTemplate& t, const UnitTemplate& unit) {
  const UnitTemplate* u = &unit;
  for (size_t steps = 0; u->shared != 0 && steps < t.units.size(); ++steps) {
    const UnitTemplate* next = t.find(u->shared);
    if (!next || next->kind != u->kind) break;
    u = next;
  }
  return *u;
}

// The handler slot an event of a unit runs, or kNoHandler; fatal when the window or the unit does
// not exist or the unit's kind has no events.
int32_t handler_slot(int32_t window_id, int32_t unit_id, int32_t event) {
  LiveWindow* lw = live_window(window_id);
  if (!lw) report_fatal_message(kEventNoWindow);
  const int index = unit_index(*lw, unit_id);
  if (index < 0) report_fatal_message(kEventNoUnit);
  const UnitTemplate& u = binding_unit(*lw->tmpl, lw->tmpl->units[index]);
  std::shared_ptr<const KindDescriptor> k = find_kind(u.kind);
  if (!k || !(k->window_unit || k->menu_item)) report_fatal_message(kEventBadUnit);
  if (u.is_menu()) return u.handler;
  for (const Binding& b : u.bindings)
    if (b.event == event) return b.handler;
  return kNoHandler;
}

// fire_event on the user-interface thread.
EventResult fire_here(int32_t window_id, int32_t unit_id, int32_t event, std::span<const int32_t> args) {
  Runtime& r = rt();
  if (r.blocked > 0) return {};
  const int32_t slot = handler_slot(window_id, unit_id, event);
  if (slot < 0 || static_cast<size_t>(slot) >= r.handlers.size() || !r.handlers[slot]) return {};
  Value argv[kMaxEventArgs];
  int argc = 0;
  for (int32_t a : args.first(std::min(args.size(), kMaxEventArgs))) argv[argc++] = Value::of_int(a);
  const EventSource saved = r.source;
  r.source = {window_id, unit_id};
  EventResult out;
  out.ran = true;
  r.handlers[slot](argc, argv, &out.result);
  r.source = saved;
  out.has_result = out.result.kind != 0;
  return out;
}

// Fires a focus event unless the unit's window is loading or going.
void fire_focus_event(QWidget* widget, FocusEvent event) {
  int32_t w = 0, u = 0;
  if (!widget || !widget_unit(widget, &w, &u)) return;
  LiveWindow* lw = live_window(w);
  if (!lw || lw->loading) return;
  {
    MutexLock lock(g_registry_mu);
    if (lw->destroying) return;
  }
  fire_event(w, u, event);
}

}  // namespace

EventResult fire_event(int32_t window_id, int32_t unit_id, int32_t event,
                       std::initializer_list<int32_t> args) {
  if (on_ui_thread()) return fire_here(window_id, unit_id, event, {args.begin(), args.size()});
  EventResult out;
  const std::vector<int32_t> copy(args);
  run_on_ui_thread([&] { out = fire_here(window_id, unit_id, event, copy); });
  return out;
}

void block_events() { ++rt().blocked; }

void unblock_events() {
  if (rt().blocked > 0) --rt().blocked;
}

EventSource current_event_source() { return rt().source; }

void add_idle_callback(int32_t window_id, IdleRoutine routine, intptr_t arg) {
  run_on_ui_thread([&] { rt().idle.push_back({window_id, routine, arg}); });
}

void Control::fire(int32_t event, std::initializer_list<int32_t> args) const {
  fire_event(window_id_, unit_id_, event, args);
}

void on_focus_changed(QWidget* old_widget, QWidget* new_widget) {
  fire_focus_event(old_widget, kFocusLost);
  fire_focus_event(new_widget, kFocusGained);
}

void idle_time() {
  Runtime& r = rt();
  if (!r.loop) return;
  // Last registered first; callbacks of windows that are gone are dropped.
  for (size_t i = r.idle.size(); i-- > 0;) {
    if (i >= r.idle.size()) continue;
    const IdleCallback cb = r.idle[i];
    if (!alive(live_window(cb.window_id))) {
      r.idle.erase(r.idle.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    cb.routine(cb.arg);
  }
}

// ---- Closing ------------------------------------------------------------------------------------

void close_window(int32_t window_id) {
  run_on_ui_thread([&] {
    if (QWidget* w = window_widget(window_id)) w->close();
  });
}

bool handler_refused(EventResult result) {
  const bool refused = result.has_result && result.result.is(Kind::Logical) && result.result.lo == 0;
  release_value(result.result);
  return refused;
}

bool window_close_requested(int32_t window_id) {
  for (WindowEvent event : {kWindowCloseRequest, kWindowCloseQuery})
    if (handler_refused(fire_event(window_id, 0, event))) return false;
  return true;
}

void window_closing(int32_t window_id) {
  LiveWindow* lw = live_window(window_id);
  if (!lw) return;
  {
    MutexLock lock(g_registry_mu);
    if (lw->destroying) return;
  }
  fire_event(window_id, 0, kWindowDestroyed);
  {
    MutexLock lock(g_registry_mu);
    lw->destroying = true;
  }
  unload(window_id);
}

}  // namespace pennacle
