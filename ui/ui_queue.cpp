#include "ui/ui_queue.h"

#include <QCoreApplication>
#include <QEvent>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>

#include "platform/mutex.h"
#include "runtime/program_end.h"
#include "ui/window_runtime.h"

#if defined(__SANITIZE_THREAD__)
#define PN_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PN_THREAD_SANITIZER 1
#endif
#endif
#ifdef PN_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

namespace pennacle {
namespace {

// Qt hands a posted event to the receiving thread under locks of its own, which the thread
// sanitizer cannot see; these two tell it that posting an event orders its making before its
// delivery.
void event_handed_over([[maybe_unused]] QEvent* e) {
#ifdef PN_THREAD_SANITIZER
  __tsan_release(e);
#endif
}
void event_taken_over([[maybe_unused]] QEvent* e) {
#ifdef PN_THREAD_SANITIZER
  __tsan_acquire(e);
#endif
}

// Calls wait here under a mutex of our own and one posted event wakes the user-interface thread to
// run them, so the hand-over is visible to the thread sanitizer (Qt's own queued calls synchronise
// inside Qt, where it cannot see). A wake-up is posted only when none is on its way.
class CallQueue {
 public:
  // Queues `fn`; true when the caller must post a wake-up.
  bool push(std::function<void()> fn) EXCLUDES(mu_) {
    MutexLock lock(mu_);
    calls_.push_back(std::move(fn));
    if (wake_posted_) return false;
    wake_posted_ = true;
    return true;
  }
  // Every queued call; calls queued after this get a wake-up of their own.
  std::deque<std::function<void()>> take_all() EXCLUDES(mu_) {
    std::deque<std::function<void()>> batch;
    MutexLock lock(mu_);
    batch.swap(calls_);
    wake_posted_ = false;
    return batch;
  }

 private:
  Mutex mu_;
  std::deque<std::function<void()>> calls_ GUARDED_BY(mu_);
  bool wake_posted_ GUARDED_BY(mu_) = false;
};

CallQueue& call_queue() {
  static auto* q = new CallQueue;  // lives to the end: workers may still queue calls
  return *q;
}

const QEvent::Type kRunCalls = static_cast<QEvent::Type>(QEvent::registerEventType());

class Receiver : public QObject {
 protected:
  bool event(QEvent* e) override {
    event_taken_over(e);
    // Any other event is an ordinary QObject's and leaves the queue alone.
    if (e->type() != kRunCalls) return QObject::event(e);
    // The batch is taken whole, so that a call running a nested event loop (a message box) does
    // not hold up calls queued after it: they get a wake-up of their own.
    for (auto& call : call_queue().take_all()) call();
    return true;
  }
};

std::atomic<Receiver*> g_receiver{nullptr};  // made once, never deleted

}  // namespace

void start_ui_queue() {
  if (!g_receiver.load()) g_receiver.store(new Receiver);
}

bool ui_queue_started() { return g_receiver.load() != nullptr; }

QObject* ui_queue_receiver() { return g_receiver.load(); }

void post_to_ui_thread(std::function<void()> fn) {
  Receiver* receiver = g_receiver.load();
  if (!receiver) return;
  if (!call_queue().push(std::move(fn))) return;
  auto* wake = new QEvent(kRunCalls);
  event_handed_over(wake);
  QCoreApplication::postEvent(receiver, wake);
}

void run_on_ui_thread(const std::function<void()>& fn) {
  if (on_ui_thread() || !ui_queue_started()) {
    fn();
    return;
  }
  struct Done {
    Mutex mu;
    CondVar cv;
    bool done GUARDED_BY(mu) = false;
  };
  auto done = std::make_shared<Done>();
  post_to_ui_thread([&fn, done] {
    fn();
    MutexLock lock(done->mu);
    done->done = true;
    done->cv.notify_all();
  });
  MutexLock lock(done->mu);
  while (!done->done) done->cv.wait(done->mu);
}

}  // namespace pennacle
