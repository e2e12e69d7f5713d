#include "ui/fatal_box.h"

#include <QApplication>
#include <QMessageBox>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "runtime/fatal.h"
#include "ui/text_codec.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

constexpr auto kUiThreadTakeUp = std::chrono::seconds(5);

FatalPresenter g_fallback = nullptr;  // the presenter before ours: standard error

void show_box_here(const QString& text, const QString& title) {
  QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

struct Handoff {
  std::mutex mu;
  std::condition_variable cv;
  bool started = false;  // GUARDED_BY(mu)
  bool done = false;     // GUARDED_BY(mu)
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
    {
      std::lock_guard lock(h->mu);
      h->started = true;
    }
    h->cv.notify_all();
    show_box_here(qtext, qtitle);
    {
      std::lock_guard lock(h->mu);
      h->done = true;
    }
    h->cv.notify_all();
  });
  std::unique_lock lock(h->mu);
  if (!h->cv.wait_for(lock, kUiThreadTakeUp, [&] { return h->started; })) {
    lock.unlock();
    if (g_fallback) g_fallback(text, title);
    return;
  }
  h->cv.wait(lock, [&] { return h->done; });
}

void install_fatal_box() {
  FatalPresenter previous = set_fatal_presenter(show_fatal_box);
  if (previous != show_fatal_box) g_fallback = previous;
}

}  // namespace pennacle
