#include "ui/ui_queue.h"

#include <atomic>
#include <functional>
#include <memory>

#include "platform/mutex.h"
#include "runtime/program_end.h"
#include "ui/call_queue.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

std::atomic<CallQueue*> g_receiver{nullptr};  // made once, never deleted

}  // namespace

void start_ui_queue() {
  if (!g_receiver.load()) g_receiver.store(new CallQueue);
}

bool ui_queue_started() { return g_receiver.load() != nullptr; }

QObject* ui_queue_receiver() { return g_receiver.load(); }

void post_to_ui_thread(std::function<void()> fn) {
  if (CallQueue* receiver = g_receiver.load()) receiver->post(std::move(fn));
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
