#include "ui/fatal_box.h"

#include <QApplication>
#include <QMessageBox>
#include <chrono>
#include <memory>

#include "platform/mutex.h"
#include "runtime/fatal.h"
#include "ui/text_codec.h"
#include "ui/ui_commands.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

constexpr auto kUiThreadTakeUp = std::chrono::seconds(5);

FatalPresenter g_fallback = nullptr;  // the presenter before ours: standard error

void show_box_here(const QString& text, const QString& title) {
  QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  fit_box_to_title(box);
  box.exec();
}

// The box handed to the user-interface thread: the worker waits for it to be taken up, then for
// it to be closed.
struct Handoff {
  Mutex mu;
  CondVar cv;
  bool started GUARDED_BY(mu) = false;
  bool done GUARDED_BY(mu) = false;

  void mark_started() EXCLUDES(mu) {
    MutexLock lock(mu);
    started = true;
    cv.notify_all();
  }
  void mark_done() EXCLUDES(mu) {
    MutexLock lock(mu);
    done = true;
    cv.notify_all();
  }
  // False when the box was not taken up in time.
  bool wait_started() EXCLUDES(mu) {
    const auto deadline = std::chrono::steady_clock::now() + kUiThreadTakeUp;
    MutexLock lock(mu);
    while (!started)
      if (cv.wait_until(mu, deadline) == std::cv_status::timeout) return started;
    return true;
  }
  void wait_done() EXCLUDES(mu) {
    MutexLock lock(mu);
    while (!done) cv.wait(mu);
  }
};

}  // namespace

void show_fatal_box(std::string_view text, std::string_view title) {
  QString qtext = to_qstring(text);
  qtext.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QString qtitle = to_qstring(title);
  if (!QApplication::instance()) {
    if (g_fallback) g_fallback(text, title);
    return;
  }
  if (on_ui_thread()) {
    show_box_here(qtext, qtitle);
    return;
  }
  auto h = std::make_shared<Handoff>();
  post_to_ui_thread([h, qtext, qtitle] {
    h->mark_started();
    show_box_here(qtext, qtitle);
    h->mark_done();
  });
  if (!h->wait_started()) {
    if (g_fallback) g_fallback(text, title);
    return;
  }
  h->wait_done();
}

void install_fatal_box() {
  FatalPresenter previous = set_fatal_presenter(show_fatal_box);
  if (previous != show_fatal_box) g_fallback = previous;
}

}  // namespace pennacle
