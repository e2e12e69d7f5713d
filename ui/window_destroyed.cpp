// A window destroyed from outside the program (another X client destroys it, as `xdotool
// windowclose` does) ends as a window that closes: its Destroyed event fires, it unloads, and the
// message loop ends when it was the last. Its handlers are not asked first: nothing is left to keep.
#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QDialog>
#include <QThread>
#include <QTimer>
#include <vector>

#include "ui/runtime_internal.h"
#include "ui/window_registry.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

// How soon a window that could not go yet (a message box's loop was still running) is tried again.
constexpr int kRetryMs = 20;

// The loaded window whose own native window is `native`, or 0.
int32_t window_of_native(uintptr_t native) {
  std::vector<int32_t> ids;
  {
    MutexLock lock(g_registry_mu);
    for (const auto& [id, w] : rt().windows) ids.push_back(id);
  }
  for (int32_t id : ids) {
    // internalWinId, unlike winId, never makes a native window.
    if (QWidget* w = window_widget(id); w && w->internalWinId() == native) return id;
  }
  return 0;
}

void window_gone(int32_t window_id) {
  // A message box runs a loop of its own inside a handler and is owned by the window, so it is
  // answered (as by Escape) first, and the window goes only once every such loop has returned.
  if (QWidget* modal = QApplication::activeModalWidget()) {
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
  }
  const int base_level = rt().loop ? 1 : 0;
  if (QThread::currentThread()->loopLevel() > base_level || QApplication::activeModalWidget()) {
    QTimer::singleShot(kRetryMs, [window_id] { window_gone(window_id); });
    return;
  }
  window_closing(window_id);
}

class DestroyWatch final : public QAbstractNativeEventFilter {
 public:
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_DESTROY_NOTIFY) return false;
    const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
    // A window the program unloads itself is no longer registered when its notice comes.
    if (const int32_t id = window_of_native(destroyed->window)) {
      // Not from inside Qt's own handling of the event.
      QTimer::singleShot(0, [id] { window_gone(id); });
    }
    return false;
  }
};

}  // namespace

void watch_outside_destroy() {
  static DestroyWatch* watch = nullptr;
  if (watch || !QApplication::instance()) return;
  watch = new DestroyWatch;
  QApplication::instance()->installNativeEventFilter(watch);
}

}  // namespace pennacle
