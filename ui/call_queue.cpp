#include "ui/call_queue.h"

#include <QCoreApplication>

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

const QEvent::Type kRunCalls = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

void CallQueue::post(std::function<void()> call) {
  {
    MutexLock lock(mu_);
    calls_.push_back(std::move(call));
    if (wake_posted_) return;
    wake_posted_ = true;
  }
  auto* wake = new QEvent(kRunCalls);
  event_handed_over(wake);
  QCoreApplication::postEvent(this, wake);
}

bool CallQueue::event(QEvent* e) {
  event_taken_over(e);
  if (e->type() != kRunCalls) return QObject::event(e);
  // The batch is taken whole, so that a call running a nested event loop (a message box) does not
  // hold up calls queued after it: they get a wake-up of their own.
  std::deque<std::function<void()>> batch;
  {
    MutexLock lock(mu_);
    batch.swap(calls_);
    wake_posted_ = false;
  }
  for (auto& call : batch) call();
  return true;
}

}  // namespace pennacle
