// Loading a window from its template, in phases: the window unit with its menu bar, the controls
// from the last unit back to the second, containers, z-order, mouse pointers, the creation-finished
// notice, visibility; then, with events unblocked, the window's first events, showing it, and the
// window-ready notice. Unloading takes the window out of the registry and lets its widgets go.
#include <QApplication>
#include <QPixmap>
#include <map>

#include "ui/template/unit_events.h"
#include "ui/window_registry.h"

namespace pennacle {
namespace {

constexpr const char* kWindowIdProperty = "pn_window";
constexpr const char* kUnitIdProperty = "pn_unit";
constexpr const char* kControlIdProperty = "pn_control_id";
// Controls get identifiers 100, 110, 120, ... in creation order.
constexpr int kFirstControlId = 100;
constexpr int kControlIdStep = 10;

void tag_widget(QWidget* widget, int32_t window_id, int32_t unit_id) {
  widget->setProperty(kWindowIdProperty, window_id);
  widget->setProperty(kUnitIdProperty, unit_id);
}

void put_control(LiveWindow& lw, size_t index, std::unique_ptr<Control> c) EXCLUDES(g_registry_mu) {
  MutexLock lock(g_registry_mu);
  lw.controls[index] = std::move(c);
}

// A window that is loaded already is restored when minimized, else activated.
bool show_loaded(LiveWindow* existing) {
  if (!alive(existing)) return false;
  QWidget* w = window_control(*existing)->widget();
  if (w->isMinimized())
    w->showNormal();
  else
    w->activateWindow();
  return true;
}

LiveWindow* register_window(int32_t id, WindowTemplate* tmpl) {
  auto owned = std::make_unique<LiveWindow>();
  LiveWindow* lw = owned.get();
  lw->id = id;
  lw->tmpl = tmpl;
  MutexLock lock(g_registry_mu);
  lw->controls.resize(tmpl->units.size());
  rt().windows[id] = std::move(owned);
  return lw;
}

// The window unit, a child of the hidden owner until it is shown, with its menu bar.
bool create_window_unit(LiveWindow& lw) {
  const UnitTemplate& u = lw.tmpl->units[0];
  std::shared_ptr<const KindDescriptor> k = find_kind(u.kind);
  if (!k || !k->create) return false;
  std::unique_ptr<Control> c = k->create(CreateParams{lw.id, u, rt().hidden_owner, 0});
  if (!c || !dynamic_cast<WindowControl*>(c.get())) return false;
  tag_widget(c->widget(), lw.id, u.id);
  c->widget()->setEnabled(!(u.state & kStateDisabled));
  put_control(lw, 0, std::move(c));
  build_menu_bar(lw);
  return true;
}

// The controls, from the last unit back to the second, in the window's client area.
bool create_controls(LiveWindow& lw) {
  QWidget* client = window_control(lw)->container();
  const auto& units = lw.tmpl->units;
  int control_id = kFirstControlId;
  for (size_t i = units.size(); i-- > 1;) {
    const UnitTemplate& u = units[i];
    if (u.is_menu()) continue;
    std::shared_ptr<const KindDescriptor> k = find_kind(u.kind);
    if (!k || !k->create || k->menu_item) return false;
    std::unique_ptr<Control> c = k->create(CreateParams{lw.id, u, client, control_id});
    if (!c || !c->widget()) return false;
    QWidget* w = c->widget();
    w->setParent(client);
    w->setGeometry(u.left, u.top, u.width, u.height);
    w->setEnabled(!(u.state & kStateDisabled));
    if (w->focusPolicy() != Qt::NoFocus)
      w->setFocusPolicy(u.state & kStateTabStop ? Qt::StrongFocus : Qt::ClickFocus);
    tag_widget(w, lw.id, u.id);
    w->setProperty(kControlIdProperty, control_id);
    control_id += kControlIdStep;
    put_control(lw, i, std::move(c));
  }
  return true;
}

// Every control whose parent unit is a container goes into it.
void place_in_containers(LiveWindow& lw) {
  const auto& units = lw.tmpl->units;
  for (size_t i = 1; i < units.size(); ++i) {
    const UnitTemplate& u = units[i];
    if (u.is_menu() || u.parent == 0) continue;
    QWidget* container = control_at(lw, static_cast<size_t>(lw.tmpl->index_of(u.parent)))->container();
    QWidget* w = control_at(lw, i)->widget();
    w->setParent(container);
    w->setGeometry(u.left, u.top, u.width, u.height);
  }
}

// Z-order: each control below the nearest preceding control of the same parent, the first on top.
void stack_controls(LiveWindow& lw) {
  std::map<QWidget*, QWidget*> last;
  for (size_t i = 1; i < lw.tmpl->units.size(); ++i) {
    std::shared_ptr<Control> c = control_at(lw, i);
    if (!c) continue;
    QWidget* w = c->widget();
    QWidget*& prev = last[w->parentWidget()];
    if (prev)
      w->stackUnder(prev);
    else
      w->raise();
    prev = w;
  }
}

// Custom mouse pointers: an image the pointer is drawn from.
void set_mouse_pointers(LiveWindow& lw) {
  const auto& units = lw.tmpl->units;
  for (size_t i = 0; i < units.size(); ++i) {
    std::shared_ptr<Control> c = control_at(lw, i);
    if (!c || units[i].cursor.empty()) continue;
    QPixmap pm;
    if (pm.loadFromData(reinterpret_cast<const uchar*>(units[i].cursor.data()),
                        static_cast<uint>(units[i].cursor.size())))
      c->widget()->setCursor(QCursor(pm));
  }
}

// Each control shown by its visible flag; children after a page separator of a container start
// hidden.
void set_visibility(LiveWindow& lw) {
  const auto& units = lw.tmpl->units;
  std::vector<bool> later_page(units.size(), false);
  for (const auto& u : units) {
    bool separator = false;
    for (int32_t child : u.children) {
      if (child == 0)
        separator = true;
      else if (separator)
        later_page[lw.tmpl->index_of(child)] = true;
    }
  }
  for (size_t i = 1; i < units.size(); ++i)
    if (std::shared_ptr<Control> c = control_at(lw, i))
      c->widget()->setVisible((units[i].state & kStateVisible) && !later_page[i]);
}

// Every unit of the window made and set up, with events blocked. False when a unit cannot be made.
bool build_window(LiveWindow& lw) {
  if (!create_window_unit(lw) || !create_controls(lw)) return false;
  place_in_containers(lw);
  stack_controls(lw);
  set_mouse_pointers(lw);
  for (size_t i = lw.tmpl->units.size(); i-- > 0;)
    if (std::shared_ptr<Control> c = control_at(lw, i)) c->creation_finished();
  set_visibility(lw);
  return true;
}

// The loaded window's first events, then it shows; each step only while it is still there (a
// handler may close it).
void open_window(LiveWindow* lw) {
  const int32_t id = lw->id;
  auto still_there = [&] { return live_window(id) == lw && alive(lw); };
  for (WindowEvent event : {kWindowCreated, kWindowMoved, kWindowResized}) {
    if (!still_there()) return;
    fire_event(id, 0, event);
  }
  if (!still_there()) return;
  if (lw->tmpl->units[0].state & kStateVisible) {
    window_control(*lw)->show_initially();
    int32_t fw = 0, fu = 0;
    if (widget_unit(QApplication::focusWidget(), &fw, &fu) && fw == id) fire_event(id, fu, kFocusGained);
  }
  if (!still_there()) return;
  QPointer<QWidget> focus = QApplication::focusWidget();
  for (size_t i = lw->tmpl->units.size(); i-- > 0;)
    if (still_there())
      if (std::shared_ptr<Control> c = control_at(*lw, i)) c->window_ready();
  if (focus && still_there()) focus->setFocus();
}

}  // namespace

bool widget_unit(QWidget* w, int32_t* window_id, int32_t* unit_id) {
  for (; w; w = w->parentWidget()) {
    QVariant u = w->property(kUnitIdProperty);
    if (u.isValid()) {
      *window_id = w->property(kWindowIdProperty).toInt();
      *unit_id = u.toInt();
      return true;
    }
  }
  return false;
}

bool load_impl(int32_t id) {
  auto* tmpl = const_cast<WindowTemplate*>(rt().templates.find(id));
  if (!tmpl) return false;
  if (LiveWindow* existing = live_window(id)) return show_loaded(existing);
  block_events();
  LiveWindow* lw = register_window(id, tmpl);
  if (!build_window(*lw)) {
    unload(id);
    unblock_events();
    return false;
  }
  lw->loading = false;
  unblock_events();
  open_window(lw);
  return true;
}

void unload(int32_t id) {
  Runtime& r = rt();
  std::unique_ptr<LiveWindow> gone;
  std::vector<std::shared_ptr<Control>> controls;
  {
    MutexLock lock(g_registry_mu);
    auto it = r.windows.find(id);
    if (it == r.windows.end()) return;
    gone = std::move(it->second);
    r.windows.erase(it);
    controls.swap(gone->controls);
  }
  // Controls first, the window (which owns every widget) last.
  for (size_t i = controls.size(); i-- > 0;)
    if (controls[i]) controls[i]->detach();
  controls.clear();
  if (!any_window_alive() && r.loop) r.loop->quit();
}

}  // namespace pennacle
