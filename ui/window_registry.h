// The window runtime's own state, shared by its parts (loading, properties, events, menus): the
// registry of loaded windows and the user-interface thread's bookkeeping. Not for kinds or the
// application.
//
// Locking. The registry lock guards the loaded windows and each window's control slots, which
// find_control reads from any thread. Only the user-interface thread changes them, and it never
// holds the lock while it calls into Qt or a handler: the accessors below take the lock for the
// lookup alone. Everything else here belongs to the user-interface thread.
#pragma once

#include <QEventLoop>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/mutex.h"
#include "runtime/fatal.h"
#include "ui/kind.h"
#include "ui/kinds/window_kind.h"
#include "ui/window_runtime.h"

namespace pennacle {

extern Mutex g_registry_mu;

struct LiveWindow {
  int32_t id = 0;
  WindowTemplate* tmpl = nullptr;  // the runtime's template copy
  bool loading = true;
  // By unit index; menu items and units not created yet stay empty.
  std::vector<std::shared_ptr<Control>> controls GUARDED_BY(g_registry_mu);
  bool destroying GUARDED_BY(g_registry_mu) = false;
};

struct IdleCallback {
  int32_t window_id;
  IdleRoutine routine;
  intptr_t arg;
};

struct Runtime {
  std::map<int32_t, std::unique_ptr<LiveWindow>> windows GUARDED_BY(g_registry_mu);

  // User-interface thread only.
  TemplateSet templates;  // the structure is fixed after start; menu and common fields change
  std::vector<EventHandler> handlers;
  std::atomic<int> blocked{0};
  EventSource source;
  std::vector<IdleCallback> idle;
  QPointer<QWidget> hidden_owner;
  QEventLoop* loop = nullptr;
  bool focus_connected = false;
};

Runtime& rt();

// ---- Lookups (each takes the registry lock for itself) ----

// The registry entry of a window, or null. The entry stays valid on the user-interface thread until
// that thread unloads the window.
LiveWindow* live_window(int32_t window_id) EXCLUDES(g_registry_mu);
// The control of a unit index, or null.
std::shared_ptr<Control> control_at(const LiveWindow& w, size_t index) EXCLUDES(g_registry_mu);
// The window's own control (unit 0), or null.
WindowControl* window_control(const LiveWindow& w) EXCLUDES(g_registry_mu);
// A loaded window that is neither going nor without its widget.
bool alive(const LiveWindow* w) EXCLUDES(g_registry_mu);
// Whether any loaded window is alive.
bool any_window_alive() EXCLUDES(g_registry_mu);
// The unit index of a unit id (0: the window's own unit), or -1.
int unit_index(const LiveWindow& w, int32_t unit_id);
// Position of a menu item among the window's menu items, or -1.
int menu_position(const WindowTemplate& t, int index);
// The names the fatal error box gives for a window and a unit (any thread).
WindowNames window_names(int32_t window_id, int32_t unit_id) EXCLUDES(g_registry_mu);

// ---- The parts of the runtime ----

// Loading and unloading (window_loading.cpp).
bool load_impl(int32_t window_id);
void unload(int32_t window_id);
// The unit that owns a widget (the widget itself or its nearest tagged ancestor).
bool widget_unit(QWidget* w, int32_t* window_id, int32_t* unit_id);

// Menus (window_menus.cpp): the window's menu bar and shortcuts, from its template.
void build_menu_bar(LiveWindow& w);

// Events (window_events.cpp).
void on_focus_changed(QWidget* old_widget, QWidget* new_widget);
void idle_time();
// A window another X client destroys closes as if by its close box, unasked (window_destroyed.cpp).
void watch_outside_destroy();

}  // namespace pennacle
