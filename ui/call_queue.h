// Calls handed from any thread to the thread a CallQueue lives on (the user-interface thread).
// Calls wait under a mutex of our own and one posted event wakes that thread to run them, in the
// order queued, so the hand-over is visible to the thread sanitizer (Qt's own queued calls
// synchronise inside Qt, where it cannot see). A wake-up is posted only when none is on its way.
#pragma once

#include <QEvent>
#include <QObject>
#include <deque>
#include <functional>

#include "platform/mutex.h"

namespace pennacle {

class CallQueue final : public QObject {
 public:
  // Queues `call` to run on this object's thread; callable from any thread.
  void post(std::function<void()> call) EXCLUDES(mu_);

 protected:
  // Runs the queued calls on the queue's own event; any other event is an ordinary QObject's.
  bool event(QEvent* e) override;

 private:
  Mutex mu_;
  std::deque<std::function<void()>> calls_ GUARDED_BY(mu_);
  bool wake_posted_ GUARDED_BY(mu_) = false;
};

}  // namespace pennacle
