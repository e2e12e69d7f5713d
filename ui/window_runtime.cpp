// Starting the window runtime, loading the start window and the message loop. The rest of the
// runtime: window_registry (loaded windows, lookups), window_loading, window_properties,
// window_events, window_menus, and ui_queue (the one queue to the user-interface thread).
#include "ui/window_runtime.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>

#include "runtime/commands.h"
#include "runtime/fatal.h"
#include "ui/fatal_box.h"
#include "ui/ui_queue.h"
#include "ui/window_registry.h"

namespace pennacle {
namespace {

constexpr std::string_view kTemplateError = "载入窗口模板数据段出错!";
constexpr std::string_view kStartWindowError = "载入启动窗口失败";

// An end of the program asked for on a worker thread, carried to the user-interface thread.
bool post_ui_call(UiCall call, int32_t argument) {
  if (!ui_queue_started()) return false;
  post_to_ui_thread([call, argument] { call(argument); });
  return true;
}

// The program ends: the message loop stops; windows are left as they are, the process goes next.
void end_notice() {
  if (rt().loop) rt().loop->quit();
}

void make_application() {
  if (QApplication::instance()) return;
  static int argc = 1;
  static char name[] = "pennacle";
  static char* argv[] = {name, nullptr};
  // Menu bars are never native (RuntimeWindow); said before the first one is made, Qt does not
  // ask the session bus for a global menu at all.
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
  new QApplication(argc, argv);
}

// Again (tests): every loaded window goes first, and the event state starts afresh.
void reset_runtime() {
  Runtime& r = rt();
  std::vector<int32_t> loaded;
  {
    MutexLock lock(g_registry_mu);
    for (auto& [id, w] : r.windows) loaded.push_back(id);
  }
  for (int32_t id : loaded) unload(id);
  r.idle.clear();
  r.blocked = 0;
  r.source = {};
}

// The hidden owner window, the queue and the hooks into the runtime services and Qt.
void connect_runtime() {
  Runtime& r = rt();
  if (!r.hidden_owner) {
    r.hidden_owner = new QWidget(nullptr, Qt::Tool);
    r.hidden_owner->setObjectName(QStringLiteral("_QZ_HideOwner"));
    r.hidden_owner->setFixedSize(0, 0);
  }
  start_ui_queue();
  set_ui_thread_here();
  set_ui_thread_poster(post_ui_call);
  set_window_runtime_end(end_notice);
  std::string dir_error;
  if (!init_program_directory(dir_error)) report_fatal_message(dir_error);
  if (!r.focus_connected) {
    QObject::connect(qApp, &QApplication::focusChanged, ui_queue_receiver(), on_focus_changed);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     ui_queue_receiver(), idle_time);
    r.focus_connected = true;
  }
  install_fatal_box();
  watch_outside_destroy();
  set_window_name_lookup(window_names);
}

// The templates with every handler offset inside the handler table; fatal otherwise.
TemplateSet read_start_templates(std::string_view templates, size_t handler_count) {
  auto set = read_templates(templates);
  if (!set) report_fatal_message(kTemplateError);
  auto resolvable = [&](int32_t off) {
    return off == kNoHandler || (off >= 0 && static_cast<size_t>(off) < handler_count);
  };
  for (const auto& w : set->windows)
    for (const auto& u : w.units) {
      if (!resolvable(u.handler)) report_fatal_message(kTemplateError);
      for (const Binding& b : u.bindings)
        if (!resolvable(b.handler)) report_fatal_message(kTemplateError);
    }
  return std::move(*set);
}

}  // namespace

void runtime_start(std::string_view templates, std::span<const EventHandler> handlers) {
  make_application();
  QApplication::setQuitOnLastWindowClosed(false);
  reset_runtime();
  register_builtin_kinds();
  connect_runtime();
  Runtime& r = rt();
  r.templates = read_start_templates(templates, handlers.size());
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
  Runtime& r = rt();
  if (!any_window_alive() || r.loop) return;
  QEventLoop loop;
  r.loop = &loop;
  loop.exec();
  r.loop = nullptr;
}

}  // namespace pennacle
