#include "ui/window_runtime.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QKeySequence>
#include <QMenuBar>
#include <QPixmap>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "runtime/commands.h"
#include "runtime/convert.h"
#include "runtime/fatal.h"
#include "ui/fatal_box.h"
#include "ui/kinds/window_kind.h"
#include "ui/runtime_internal.h"
#include "ui/template/kind_settings.h"
#include "ui/text_codec.h"

namespace pennacle {
namespace {

constexpr std::string_view kTemplateError = "载入窗口模板数据段出错!";
constexpr std::string_view kStartWindowError = "载入启动窗口失败";
constexpr std::string_view kNoControl = "指定窗口或窗口组件不存在或尚未载入";
constexpr std::string_view kWindowNotLoaded = "未载入欲访问窗口组件所在的窗口";
constexpr std::string_view kReadNotLoaded = "读取组件属性时发现指定窗口尚未载入";
constexpr std::string_view kWriteNotLoaded = "修改组件属性时发现指定窗口尚未载入";
constexpr std::string_view kEventNoWindow = "未找到引发事件的窗口";
constexpr std::string_view kEventNoUnit = "未找到引发事件的窗口组件";
constexpr std::string_view kEventBadUnit = "引发事件的窗口组件无效";

constexpr const char* kWindowIdProperty = "pn_window";
constexpr const char* kUnitIdProperty = "pn_unit";
constexpr const char* kControlIdProperty = "pn_control_id";

struct LiveWindow {
  int32_t id = 0;
  WindowTemplate* tmpl = nullptr;
  // By unit index; menu items and units not created yet stay empty.
  std::vector<std::shared_ptr<Control>> controls;
  bool loading = true;
  bool destroying = false;

  WindowControl* window() const { return static_cast<WindowControl*>(controls[0].get()); }
};

struct IdleCallback {
  int32_t window_id;
  IdleRoutine routine;
  intptr_t arg;
};

// Calls queued for the user-interface thread. They wait in our own queue under a std::mutex and
// one plain event wakes the thread to run them, so the hand-over is visible to the thread
// sanitizer (Qt's own queued calls synchronise inside Qt, where it cannot see).
struct CallQueue {
  std::mutex mu;
  std::deque<std::function<void()>> calls;  // GUARDED_BY(mu)
  bool wake_posted = false;                 // GUARDED_BY(mu)
};

CallQueue& call_queue() {
  static auto* q = new CallQueue;
  return *q;
}

const QEvent::Type kRunCalls = static_cast<QEvent::Type>(QEvent::registerEventType());

class Dispatcher : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool event(QEvent* e) override {
    if (e->type() != kRunCalls) return QObject::event(e);
    // The batch is taken whole, so that a call running a nested event loop (a message box) does
    // not hold up calls queued after it: they get a wake-up of their own.
    std::deque<std::function<void()>> batch;
    {
      std::lock_guard lock(call_queue().mu);
      batch.swap(call_queue().calls);
      call_queue().wake_posted = false;
    }
    for (auto& call : batch) call();
    return true;
  }
};

struct Runtime {
  // Guards `windows` and the control tables, which find_control reads from any thread. Only the
  // user-interface thread changes them; it never runs a handler while holding the lock.
  std::mutex mu;
  std::map<int32_t, std::unique_ptr<LiveWindow>> windows;  // GUARDED_BY(mu)

  TemplateSet templates;  // the structure is fixed after start; menu and common fields change
  std::vector<EventHandler> handlers;
  std::atomic<int> blocked{0};
  EventSource source;
  std::vector<IdleCallback> idle;
  QPointer<QWidget> hidden_owner;
  std::atomic<Dispatcher*> dispatcher{nullptr};  // made once, never deleted
  QEventLoop* loop = nullptr;
  bool focus_connected = false;
};

Runtime& rt() {
  static Runtime* r = new Runtime;  // lives to the end: workers may still look things up
  return *r;
}

LiveWindow* live_window(int32_t id) {
  auto& r = rt();
  auto it = r.windows.find(id);
  return it == r.windows.end() ? nullptr : it->second.get();
}

// A loaded window that is neither loading nor going.
bool alive(const LiveWindow* w) { return w && !w->destroying && w->window() && w->window()->widget(); }

int unit_index(const LiveWindow& w, int32_t unit_id) { return unit_id == 0 ? 0 : w.tmpl->index_of(unit_id); }

// Position of a menu item among the window's menu items, or -1.
int menu_position(const WindowTemplate& t, int index) {
  int pos = 0;
  for (int i = 0; i < static_cast<int>(t.units.size()); ++i) {
    if (!t.units[i].is_menu()) continue;
    if (i == index) return pos;
    ++pos;
  }
  return -1;
}

// ---- Value conversions ----------------------------------------------------------------------

// Numbers by the runtime's conversion (texts read as whole numbers, reals truncated).
int64_t value_as_int(const Value& v) { return value_to_int(v); }

std::string value_as_bytes(const Value& v) {
  if (v.is(Kind::Text)) return std::string(v.text());
  if (v.is(Kind::ByteSet)) return std::string(byteset_view(v.byteset()));
  return {};
}

// Windows metrics: 96 pixels per inch.
int32_t points_from_height(int32_t h) { return (std::abs(h) * 72 + 48) / 96; }
int32_t height_from_points(int32_t p) { return -((p * 96 + 36) / 72); }

LogFont current_font(std::string_view block) {
  if (auto f = LogFont::decode(block)) return *f;
  LogFont f;
  f.height = -12;
  f.charset = 134;
  return f;
}

Value font_part(std::string_view block, int32_t sub) {
  LogFont f = current_font(block);
  switch (sub) {
    case 0:
      return Value::of_int(f.escapement);
    case 1:
      return Value::of_logical(f.weight >= 700);
    case 2:
      return Value::of_logical(f.italic != 0);
    case 3:
      return Value::of_logical(f.underline != 0);
    case 4:
      return Value::of_logical(f.strike_out != 0);
    case 5:
      return Value::of_int(points_from_height(f.height));
    case 6:
      return Value::of_text_block(new_text_block(f.face));
    default:
      return Value::of_byteset_block(new_byteset_block(block));
  }
}

std::string with_font_part(std::string_view block, int32_t sub, const Value& v) {
  LogFont f = current_font(block);
  int64_t n = value_as_int(v);
  switch (sub) {
    case 0:
      f.escapement = f.orientation = static_cast<int32_t>(n % 3600);
      break;
    case 1:
      f.weight = n ? 700 : 400;
      break;
    case 2:
      f.italic = n != 0;
      break;
    case 3:
      f.underline = n != 0;
      break;
    case 4:
      f.strike_out = n != 0;
      break;
    case 5:
      f.height = height_from_points(static_cast<int32_t>(std::clamp<int64_t>(n, 0, 16384)));
      break;
    case 6: {
      std::string face = value_as_bytes(v);
      f.face = !face.empty() && face.size() <= 31 ? face : std::string("宋体");
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

// ---- Menus ----------------------------------------------------------------------------------

// Key names of menu shortcuts: 1..26 Ctrl+A..Ctrl+Z, 27..38 F1..F12; anything else none.
QString shortcut_name(int32_t key) {
  if (key >= 1 && key <= 26) return QStringLiteral("Ctrl+") + QChar('A' + key - 1);
  if (key >= 27 && key <= 38) return QStringLiteral("F%1").arg(key - 26);
  return {};
}

struct MenuNode {
  int index;  // unit index
  int position;
  std::vector<int> children;  // node indices
};

// The window's menu items as a tree by level: an item belongs to the nearest preceding item of a
// lower level. Returns the nodes; `roots` gets the top-level ones.
std::vector<MenuNode> menu_tree(const WindowTemplate& t, std::vector<int>* roots) {
  std::vector<MenuNode> nodes;
  std::vector<int> stack;  // node indices of the open path
  for (int i = 0; i < static_cast<int>(t.units.size()); ++i) {
    const UnitTemplate& u = t.units[i];
    if (!u.is_menu()) continue;
    int node = static_cast<int>(nodes.size());
    nodes.push_back({i, node, {}});
    while (!stack.empty() && t.units[nodes[stack.back()].index].level >= u.level) stack.pop_back();
    if (stack.empty())
      roots->push_back(node);
    else
      nodes[stack.back()].children.push_back(node);
    stack.push_back(node);
  }
  return nodes;
}

QAction* add_menu_entry(QWidget* menu, const std::vector<MenuNode>& nodes, int node, const WindowTemplate& t,
                        int32_t window_id);

void fill_menu(QMenu* menu, const std::vector<MenuNode>& nodes, const std::vector<int>& children,
               const WindowTemplate& t, int32_t window_id) {
  for (int c : children) add_menu_entry(menu, nodes, c, t, window_id);
}

QAction* add_menu_entry(QWidget* menu, const std::vector<MenuNode>& nodes, int node, const WindowTemplate& t,
                        int32_t window_id) {
  const UnitTemplate& u = t.units[nodes[node].index];
  if (u.menu_flags & kMenuHidden) return nullptr;
  QAction* a = nullptr;
  if (u.caption == "-") {
    a = new QAction(menu);
    a->setSeparator(true);
    menu->addAction(a);
    return a;
  }
  QString text = to_qstring(u.caption);
  QString key = shortcut_name(u.shortcut);
  if (!key.isEmpty()) text += QLatin1Char('\t') + key;
  if (!nodes[node].children.empty()) {
    auto* sub = new QMenu(text, menu);
    fill_menu(sub, nodes, nodes[node].children, t, window_id);
    a = sub->menuAction();
  } else {
    a = new QAction(text, menu);
    const int command = kFirstMenuCommand + nodes[node].position;
    a->setData(command);
    QObject::connect(a, &QAction::triggered, a,
                     [window_id, command] { dispatch_menu_command(window_id, command); });
  }
  a->setEnabled(!(u.menu_flags & kMenuDisabled));
  if (u.menu_flags & kMenuChecked) {
    a->setCheckable(true);
    a->setChecked(true);
  }
  menu->addAction(a);
  return a;
}

void build_menu_bar(LiveWindow& w) {
  RuntimeWindow* win = w.window()->window();
  if (!win) return;
  QMenuBar* bar = win->menu_bar();
  bar->clear();
  // Shortcuts live on the window so that hidden items keep them.
  for (QAction* a : win->actions()) {
    win->removeAction(a);
    a->deleteLater();
  }
  std::vector<int> roots;
  std::vector<MenuNode> nodes = menu_tree(*w.tmpl, &roots);
  for (int r : roots) add_menu_entry(bar, nodes, r, *w.tmpl, w.id);
  for (const MenuNode& n : nodes) {
    const UnitTemplate& u = w.tmpl->units[n.index];
    QString key = shortcut_name(u.shortcut);
    if (key.isEmpty() || (u.menu_flags & kMenuDisabled)) continue;
    auto* a = new QAction(win);
    a->setShortcut(QKeySequence(key));
    const int command = kFirstMenuCommand + n.position;
    const int32_t id = w.id;
    QObject::connect(a, &QAction::triggered, a, [id, command] { dispatch_menu_command(id, command); });
    win->addAction(a);
  }
  win->relayout();
}

// ---- Loading --------------------------------------------------------------------------------

void tag_widget(QWidget* widget, int32_t window_id, int32_t unit_id) {
  widget->setProperty(kWindowIdProperty, window_id);
  widget->setProperty(kUnitIdProperty, unit_id);
}

// The unit that owns a widget (the widget itself or its nearest tagged ancestor).
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

void on_focus_changed(QWidget* old_widget, QWidget* new_widget) {
  int32_t w = 0, u = 0;
  if (old_widget && widget_unit(old_widget, &w, &u)) {
    LiveWindow* lw = live_window(w);
    if (lw && !lw->loading && !lw->destroying) fire_event(w, u, -8);
  }
  if (new_widget && widget_unit(new_widget, &w, &u)) {
    LiveWindow* lw = live_window(w);
    if (lw && !lw->loading && !lw->destroying) fire_event(w, u, -7);
  }
}

// Takes the window out of the registry and lets its widgets go.
void unload(int32_t id) {
  auto& r = rt();
  std::unique_ptr<LiveWindow> gone;
  {
    std::lock_guard lock(r.mu);
    auto it = r.windows.find(id);
    if (it == r.windows.end()) return;
    gone = std::move(it->second);
    r.windows.erase(it);
  }
  // Controls first, the window (which owns every widget) last.
  for (size_t i = gone->controls.size(); i-- > 0;)
    if (gone->controls[i]) gone->controls[i]->detach();
  gone->controls.clear();
  bool any_alive = false;
  for (auto& [wid, w] : r.windows) any_alive = any_alive || alive(w.get());
  if (!any_alive && r.loop) r.loop->quit();
}

bool load_impl(int32_t id) {
  auto& r = rt();
  auto* tmpl = const_cast<WindowTemplate*>(r.templates.find(id));
  if (!tmpl) return false;
  if (LiveWindow* existing = live_window(id)) {
    if (!alive(existing)) return false;
    QWidget* w = existing->window()->widget();
    if (w->isMinimized())
      w->showNormal();
    else
      w->activateWindow();
    return true;
  }
  block_events();
  auto owned = std::make_unique<LiveWindow>();
  LiveWindow* lw = owned.get();
  lw->id = id;
  lw->tmpl = tmpl;
  lw->controls.resize(tmpl->units.size());
  {
    std::lock_guard lock(r.mu);
    r.windows[id] = std::move(owned);
  }
  auto fail = [&] {
    unload(id);
    unblock_events();
    return false;
  };
  const auto& units = tmpl->units;
  // The window first.
  const KindDescriptor* wk = find_kind(units[0].kind);
  if (!wk || !wk->create) return fail();
  std::unique_ptr<Control> wc = wk->create(CreateParams{id, units[0], r.hidden_owner, 0});
  if (!wc || !dynamic_cast<WindowControl*>(wc.get())) return fail();
  {
    std::lock_guard lock(r.mu);
    lw->controls[0] = std::move(wc);
  }
  WindowControl* win = lw->window();
  tag_widget(win->widget(), id, units[0].id);
  win->widget()->setEnabled(!(units[0].state & kStateDisabled));
  build_menu_bar(*lw);
  // Then the controls from the last unit back to the second.
  int control_id = 100;
  for (size_t i = units.size(); i-- > 1;) {
    const UnitTemplate& u = units[i];
    if (u.is_menu()) continue;
    const KindDescriptor* k = find_kind(u.kind);
    if (!k || !k->create || k->menu_item) return fail();
    std::unique_ptr<Control> c = k->create(CreateParams{id, u, win->container(), control_id});
    control_id += 10;
    if (!c || !c->widget()) return fail();
    QWidget* w = c->widget();
    w->setParent(win->container());
    w->setGeometry(u.left, u.top, u.width, u.height);
    w->setEnabled(!(u.state & kStateDisabled));
    if (w->focusPolicy() != Qt::NoFocus)
      w->setFocusPolicy(u.state & kStateTabStop ? Qt::StrongFocus : Qt::ClickFocus);
    tag_widget(w, id, u.id);
    w->setProperty(kControlIdProperty, control_id - 10);
    std::lock_guard lock(r.mu);
    lw->controls[i] = std::move(c);
  }
  // Containers become parents.
  for (size_t i = 1; i < units.size(); ++i) {
    const UnitTemplate& u = units[i];
    if (u.is_menu() || u.parent == 0) continue;
    int p = tmpl->index_of(u.parent);
    QWidget* container = lw->controls[p]->container();
    QWidget* w = lw->controls[i]->widget();
    w->setParent(container);
    w->setGeometry(u.left, u.top, u.width, u.height);
  }
  // Z-order: each below the nearest preceding control of the same parent, the first on top.
  std::map<QWidget*, QWidget*> last;
  for (size_t i = 1; i < units.size(); ++i) {
    if (!lw->controls[i]) continue;
    QWidget* w = lw->controls[i]->widget();
    QWidget*& prev = last[w->parentWidget()];
    if (prev)
      w->stackUnder(prev);
    else
      w->raise();
    prev = w;
  }
  // Custom mouse pointers: an image the pointer is drawn from.
  for (size_t i = 0; i < units.size(); ++i) {
    if (!lw->controls[i] || units[i].cursor.empty()) continue;
    QPixmap pm;
    if (pm.loadFromData(reinterpret_cast<const uchar*>(units[i].cursor.data()),
                        static_cast<uint>(units[i].cursor.size())))
      lw->controls[i]->widget()->setCursor(QCursor(pm));
  }
  for (size_t i = units.size(); i-- > 0;)
    if (lw->controls[i]) lw->controls[i]->creation_finished();
  // Visibility; children after a page separator of a container start hidden.
  std::vector<bool> later_page(units.size(), false);
  for (const auto& u : units) {
    bool separator = false;
    for (int32_t c : u.children) {
      if (c == 0)
        separator = true;
      else if (separator)
        later_page[tmpl->index_of(c)] = true;
    }
  }
  for (size_t i = 1; i < units.size(); ++i)
    if (lw->controls[i])
      lw->controls[i]->widget()->setVisible((units[i].state & kStateVisible) && !later_page[i]);
  lw->loading = false;
  unblock_events();
  auto still_there = [&] {
    LiveWindow* w = live_window(id);
    return w == lw && alive(w);
  };
  for (int event : {0, 3, 4}) {
    if (!still_there()) return true;
    fire_event(id, 0, event);
  }
  if (!still_there()) return true;
  if (units[0].state & kStateVisible) {
    win->show_initially();
    int32_t fw = 0, fu = 0;
    if (widget_unit(QApplication::focusWidget(), &fw, &fu) && fw == id) fire_event(id, fu, -7);
  }
  if (!still_there()) return true;
  QPointer<QWidget> focus = QApplication::focusWidget();
  for (size_t i = units.size(); i-- > 0;)
    if (still_there() && lw->controls[i]) lw->controls[i]->window_ready();
  if (focus && still_there()) focus->setFocus();
  return true;
}

// The unit of a loaded window for property access; fatal when the window is not loaded.
LiveWindow& window_for_property(int32_t window_id, int32_t unit_id, int* index) {
  LiveWindow* lw = live_window(window_id);
  if (!lw) report_fatal_message(kWindowNotLoaded);
  *index = unit_index(*lw, unit_id);
  if (*index < 0) report_fatal_message(kNoControl);
  return *lw;
}

void idle_time() {
  auto& r = rt();
  if (!r.loop) return;
  // Last registered first; callbacks of windows that are gone are dropped.
  for (size_t i = r.idle.size(); i-- > 0;) {
    if (i >= r.idle.size()) continue;
    IdleCallback cb = r.idle[i];
    if (!alive(live_window(cb.window_id))) {
      r.idle.erase(r.idle.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    cb.routine(cb.arg);
  }
}

WindowNames window_names(int32_t window_id, int32_t unit_id) {
  auto& r = rt();
  WindowNames names;
  std::lock_guard lock(r.mu);
  LiveWindow* lw = live_window(window_id);
  if (!lw) return names;
  names.window_loaded = true;
  names.window = lw->tmpl->units[0].name;
  if (const UnitTemplate* u = lw->tmpl->find(unit_id)) {
    names.control_found = true;
    names.control = u->name;
  }
  return names;
}

// An end of the program asked for on a worker thread, carried to the user-interface thread.
bool post_ui_call(UiCall call, int32_t argument) {
  if (!rt().dispatcher) return false;
  post_to_ui_thread([call, argument] { call(argument); });
  return true;
}

// The program ends: the message loop stops; windows are left as they are, the process goes next.
void end_notice() {
  if (rt().loop) rt().loop->quit();
}

}  // namespace

// ---- Start ----------------------------------------------------------------------------------

void runtime_start(std::string_view templates, std::span<const EventHandler> handlers) {
  auto& r = rt();
  if (!QApplication::instance()) {
    static int argc = 1;
    static char name[] = "pennacle";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
  }
  QApplication::setQuitOnLastWindowClosed(false);
  // Again (tests): every loaded window goes first.
  std::vector<int32_t> loaded;
  for (auto& [id, w] : r.windows) loaded.push_back(id);
  for (int32_t id : loaded) unload(id);
  r.idle.clear();
  r.blocked = 0;
  r.source = {};

  register_builtin_kinds();
  if (!r.hidden_owner) {
    r.hidden_owner = new QWidget(nullptr, Qt::Tool);
    r.hidden_owner->setObjectName(QStringLiteral("_QZ_HideOwner"));
    r.hidden_owner->setFixedSize(0, 0);
  }
  if (!r.dispatcher) r.dispatcher = new Dispatcher;
  Dispatcher* dispatcher = r.dispatcher;
  set_ui_thread_here();
  set_ui_thread_poster(post_ui_call);
  set_window_runtime_end(end_notice);
  std::string dir_error;
  if (!init_program_directory(dir_error)) report_fatal_message(dir_error);
  if (!r.focus_connected) {
    QObject::connect(qApp, &QApplication::focusChanged, dispatcher, on_focus_changed);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     dispatcher, idle_time);
    r.focus_connected = true;
  }
  install_fatal_box();
  set_window_name_lookup(window_names);

  auto set = read_templates(templates);
  if (!set) report_fatal_message(kTemplateError);
  for (const auto& w : set->windows)
    for (const auto& u : w.units) {
      auto resolvable = [&](int32_t off) {
        return off == kNoHandler || (off >= 0 && static_cast<size_t>(off) < handlers.size());
      };
      if (!resolvable(u.handler)) report_fatal_message(kTemplateError);
      for (const Binding& b : u.bindings)
        if (!resolvable(b.handler)) report_fatal_message(kTemplateError);
    }
  r.templates = std::move(*set);
  r.handlers.assign(handlers.begin(), handlers.end());
}

void load_start_window(int32_t window_id) {
  if (!load_window(window_id)) report_fatal_message(kStartWindowError);
}

bool load_window(int32_t window_id) {
  bool ok = false;
  run_on_ui_thread([&] { ok = load_impl(window_id); });
  return ok;
}

void run_message_loop() {
  auto& r = rt();
  bool any = false;
  for (auto& [id, w] : r.windows) any = any || alive(w.get());
  if (!any || r.loop) return;
  QEventLoop loop;
  r.loop = &loop;
  loop.exec();
  r.loop = nullptr;
}

// ---- Properties -----------------------------------------------------------------------------

Value get_property(int32_t window_id, int32_t unit_id, int32_t property, int32_t sub) {
  if (!on_ui_thread()) {
    Value v;
    run_on_ui_thread([&] { v = get_property(window_id, unit_id, property, sub); });
    return v;
  }
  int index = 0;
  LiveWindow& lw = window_for_property(window_id, unit_id, &index);
  const UnitTemplate& u = lw.tmpl->units[index];
  if (u.is_menu()) {
    switch (property) {
      case 0:
        return Value::of_text_block(new_text_block(u.caption));
      case 1:
        return Value::of_logical(u.menu_flags & kMenuChecked);
      case 2:
        return Value::of_logical(u.menu_flags & kMenuDisabled);
      case 3:
        return Value::of_logical(!(u.menu_flags & kMenuHidden));
      default:
        return Value{};
    }
  }
  Control* c = lw.controls[index].get();
  QWidget* w = c ? c->widget() : nullptr;
  if (property >= 0 && property <= 3) {
    QRect g(u.left, u.top, u.width, u.height);
    if (w) g = index == 0 ? lw.window()->outer_geometry() : w->geometry();
    const int parts[] = {g.x(), g.y(), g.width(), g.height()};
    return Value::of_int(parts[property]);
  }
  switch (property) {
    case 4:
      return Value::of_text_block(new_text_block(u.tag));
    case 5:
      return Value::of_logical(w ? w->isVisible() : (u.state & kStateVisible) != 0);
    case 6:
      return Value::of_logical(w ? w->testAttribute(Qt::WA_ForceDisabled) : (u.state & kStateDisabled) != 0);
    case 7:
      return Value::of_byteset_block(new_byteset_block(u.cursor));
    default:
      break;
  }
  if (property < 8) return Value{};
  if (!w) report_fatal_message(kReadNotLoaded);
  const KindDescriptor* k = find_kind(u.kind);
  size_t i = static_cast<size_t>(property - 8);
  if (!k || i >= k->properties.size()) return Value{};
  PropertyData d;
  if (!c->get(static_cast<int>(i), &d)) return Value{};
  return to_value(k->properties[i], d, sub);
}

void set_property(int32_t window_id, int32_t unit_id, int32_t property, int32_t sub, const Value& value) {
  if (!on_ui_thread()) {
    run_on_ui_thread([&] { set_property(window_id, unit_id, property, sub, value); });
    return;
  }
  int index = 0;
  LiveWindow& lw = window_for_property(window_id, unit_id, &index);
  UnitTemplate& u = lw.tmpl->units[index];
  const int64_t n = value_as_int(value);
  if (u.is_menu()) {
    auto flag = [&](int32_t bit, bool on) {
      u.menu_flags = on ? (u.menu_flags | bit) : (u.menu_flags & ~bit);
    };
    switch (property) {
      case 0: {
        std::string caption = value_as_bytes(value);
        if (caption == u.caption) return;
        u.caption = caption;
        break;
      }
      case 1:
        flag(kMenuChecked, n != 0);
        break;
      case 2:
        flag(kMenuDisabled, n != 0);
        break;
      case 3:
        flag(kMenuHidden, n == 0);
        break;
      default:
        return;
    }
    if (alive(&lw)) build_menu_bar(lw);
    return;
  }
  Control* c = lw.controls[index].get();
  QWidget* w = c ? c->widget() : nullptr;
  if (property >= 0 && property <= 3) {
    int32_t* parts[] = {&u.left, &u.top, &u.width, &u.height};
    QRect g(u.left, u.top, u.width, u.height);
    if (w) g = index == 0 ? lw.window()->outer_geometry() : w->geometry();
    int32_t now[] = {g.x(), g.y(), g.width(), g.height()};
    now[property] = static_cast<int32_t>(n);
    for (int i = 0; i < 4; ++i) *parts[i] = now[i];
    QRect r(now[0], now[1], now[2], now[3]);
    if (w) index == 0 ? lw.window()->set_outer_geometry(r) : w->setGeometry(r);
    return;
  }
  switch (property) {
    case 4:
      u.tag = value_as_bytes(value);
      return;
    case 5:
      u.state = n ? (u.state | kStateVisible) : (u.state & ~kStateVisible);
      if (w) w->setVisible(n != 0);
      return;
    case 6:
      u.state = n ? (u.state | kStateDisabled) : (u.state & ~kStateDisabled);
      if (w) w->setEnabled(n == 0);
      return;
    case 7:
      u.cursor = value_as_bytes(value);
      if (w) {
        QPixmap pm;
        if (pm.loadFromData(reinterpret_cast<const uchar*>(u.cursor.data()),
                            static_cast<uint>(u.cursor.size())))
          w->setCursor(QCursor(pm));
        else
          w->unsetCursor();
      }
      return;
    default:
      break;
  }
  if (property < 8) return;
  if (!w) report_fatal_message(kWriteNotLoaded);
  const KindDescriptor* k = find_kind(u.kind);
  size_t i = static_cast<size_t>(property - 8);
  if (!k || i >= k->properties.size()) return;
  PropertyData d;
  switch (k->properties[i]) {
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
    case PropType::Text:
    case PropType::FileName:
      d.bytes = value_as_bytes(value);
      break;
    case PropType::Font: {
      PropertyData current;
      c->get(static_cast<int>(i), &current);
      d.bytes = sub < 0 ? value_as_bytes(value) : with_font_part(current.bytes, sub, value);
      break;
    }
    default:
      d.bytes = value_as_bytes(value);
      break;
  }
  c->set(static_cast<int>(i), d);
}

// ---- Registry -------------------------------------------------------------------------------

std::shared_ptr<Control> find_control(int32_t window_id, int32_t unit_id) {
  auto& r = rt();
  {
    std::lock_guard lock(r.mu);
    LiveWindow* lw = live_window(window_id);
    if (lw && !lw->destroying) {
      int i = unit_index(*lw, unit_id);
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
  std::lock_guard lock(rt().mu);
  LiveWindow* lw = live_window(window_id);
  return lw && !lw->destroying;
}

QWidget* window_widget(int32_t window_id) {
  LiveWindow* lw = live_window(window_id);
  return alive(lw) ? lw->window()->widget() : nullptr;
}

QWidget* unit_widget(int32_t window_id, int32_t unit_id) {
  LiveWindow* lw = live_window(window_id);
  if (!lw) return nullptr;
  int i = unit_index(*lw, unit_id);
  return i >= 0 && lw->controls[i] ? lw->controls[i]->widget() : nullptr;
}

const WindowTemplate* window_template(int32_t window_id) { return rt().templates.find(window_id); }

// ---- Events ---------------------------------------------------------------------------------

EventResult fire_event(int32_t window_id, int32_t unit_id, int32_t event,
                       std::initializer_list<int32_t> args) {
  auto& r = rt();
  if (!on_ui_thread()) {
    EventResult out;
    std::vector<int32_t> copy(args);
    run_on_ui_thread([&] {
      int32_t a[5] = {};
      std::copy_n(copy.begin(), std::min<size_t>(copy.size(), 5), a);
      switch (copy.size()) {
        case 0:
          out = fire_event(window_id, unit_id, event);
          break;
        case 1:
          out = fire_event(window_id, unit_id, event, {a[0]});
          break;
        case 2:
          out = fire_event(window_id, unit_id, event, {a[0], a[1]});
          break;
        case 3:
          out = fire_event(window_id, unit_id, event, {a[0], a[1], a[2]});
          break;
        case 4:
          out = fire_event(window_id, unit_id, event, {a[0], a[1], a[2], a[3]});
          break;
        default:
          out = fire_event(window_id, unit_id, event, {a[0], a[1], a[2], a[3], a[4]});
          break;
      }
    });
    return out;
  }
  if (r.blocked > 0) return {};
  LiveWindow* lw = live_window(window_id);
  if (!lw) report_fatal_message(kEventNoWindow);
  int index = unit_index(*lw, unit_id);
  if (index < 0) report_fatal_message(kEventNoUnit);
  const WindowTemplate& t = *lw->tmpl;
  const UnitTemplate* u = &t.units[index];
  // Shared bindings, followed while the linked unit exists and is of the same kind.
  for (size_t steps = 0; u->shared != 0 && steps < t.units.size(); ++steps) {
    const UnitTemplate* next = t.find(u->shared);
    if (!next || next->kind != u->kind) break;
    u = next;
  }
  const KindDescriptor* k = find_kind(u->kind);
  if (!k || !(k->window_unit || k->menu_item)) report_fatal_message(kEventBadUnit);
  int32_t offset = kNoHandler;
  if (u->is_menu()) {
    offset = u->handler;
  } else {
    for (const Binding& b : u->bindings)
      if (b.event == event) {
        offset = b.handler;
        break;
      }
  }
  if (offset < 0 || static_cast<size_t>(offset) >= r.handlers.size() || !r.handlers[offset]) return {};
  Value argv[5];
  int argc = 0;
  for (int32_t a : args) {
    if (argc == 5) break;
    argv[argc++] = Value::of_int(a);
  }
  EventSource saved = r.source;
  r.source = {window_id, unit_id};
  EventResult out;
  out.ran = true;
  r.handlers[offset](argc, argv, &out.result);
  r.source = saved;
  out.has_result = out.result.kind != 0;
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

// ---- Menus and closing ----------------------------------------------------------------------

void dispatch_menu_command(int32_t window_id, int32_t command_id) {
  if (command_id < kFirstMenuCommand || command_id >= kFirstSystemCommand) return;
  LiveWindow* lw = live_window(window_id);
  if (!alive(lw)) return;
  const int position = command_id - kFirstMenuCommand;
  const auto& units = lw->tmpl->units;
  for (int i = 0; i < static_cast<int>(units.size()); ++i)
    if (units[i].is_menu() && menu_position(*lw->tmpl, i) == position) {
      fire_event(window_id, units[i].id, 0);
      return;
    }
}

bool build_popup_menu(int32_t window_id, int32_t item_unit_id, QMenu* menu) {
  LiveWindow* lw = live_window(window_id);
  if (!alive(lw)) return false;
  int index = lw->tmpl->index_of(item_unit_id);
  if (index < 0 || !lw->tmpl->units[index].is_menu()) return false;
  std::vector<int> roots;
  std::vector<MenuNode> nodes = menu_tree(*lw->tmpl, &roots);
  for (const MenuNode& n : nodes)
    if (n.index == index) {
      fill_menu(menu, nodes, n.children, *lw->tmpl, window_id);
      return true;
    }
  return false;
}

void close_window(int32_t window_id) {
  run_on_ui_thread([&] {
    if (QWidget* w = window_widget(window_id)) w->close();
  });
}

bool window_close_requested(int32_t window_id) {
  for (int event : {12, 1}) {
    EventResult res = fire_event(window_id, 0, event);
    bool refused = res.has_result && res.result.is(Kind::Logical) && res.result.lo == 0;
    release_value(res.result);
    if (refused) return false;
  }
  return true;
}

void window_closing(int32_t window_id) {
  LiveWindow* lw = live_window(window_id);
  if (!lw || lw->destroying) return;
  fire_event(window_id, 0, 2);
  {
    std::lock_guard lock(rt().mu);
    lw->destroying = true;
  }
  unload(window_id);
}

// ---- Threads --------------------------------------------------------------------------------

void run_on_ui_thread(const std::function<void()>& fn) {
  if (on_ui_thread() || !rt().dispatcher) {
    fn();
    return;
  }
  struct Done {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;  // GUARDED_BY(mu)
  };
  auto done = std::make_shared<Done>();
  post_to_ui_thread([&fn, done] {
    fn();
    std::lock_guard lock(done->mu);
    done->done = true;
    done->cv.notify_all();
  });
  std::unique_lock lock(done->mu);
  done->cv.wait(lock, [&] { return done->done; });
}

void post_to_ui_thread(std::function<void()> fn) {
  Dispatcher* dispatcher = rt().dispatcher;
  if (!dispatcher) return;
  {
    std::lock_guard lock(call_queue().mu);
    call_queue().calls.push_back(std::move(fn));
    if (call_queue().wake_posted) return;
    call_queue().wake_posted = true;
  }
  QCoreApplication::postEvent(dispatcher, new QEvent(kRunCalls));
}

}  // namespace pennacle
