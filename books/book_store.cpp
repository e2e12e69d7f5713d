#include "books/book_store.h"

#include <QCoreApplication>
#include <QEvent>

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

// Qt hands a posted event over under locks of its own, which the thread sanitizer cannot see: these
// tell it that posting the wake-up orders its making before its delivery.
void handed_over([[maybe_unused]] QEvent* e) {
#ifdef PN_THREAD_SANITIZER
  __tsan_release(e);
#endif
}
void taken_over([[maybe_unused]] QEvent* e) {
#ifdef PN_THREAD_SANITIZER
  __tsan_acquire(e);
#endif
}

const QEvent::Type kAnswers = static_cast<QEvent::Type>(QEvent::registerEventType());

// Calls for the user-interface thread wait here under a mutex of our own, and one posted event
// wakes that thread to run them all: the hand-over is ours, not only Qt's, so the thread sanitizer
// sees it. A wake-up is posted only when none is on its way.
class Answers final : public QObject {
 public:
  void push(std::function<void()> call) {
    {
      std::lock_guard lock(mu_);
      calls_.push_back(std::move(call));
      if (wake_posted_) return;
      wake_posted_ = true;
    }
    auto* wake = new QEvent(kAnswers);
    handed_over(wake);
    QCoreApplication::postEvent(this, wake);
  }

 protected:
  bool event(QEvent* e) override {
    taken_over(e);
    if (e->type() != kAnswers) return QObject::event(e);
    std::deque<std::function<void()>> batch;
    {
      std::lock_guard lock(mu_);
      batch.swap(calls_);
      wake_posted_ = false;
    }
    for (auto& call : batch) call();
    return true;
  }

 private:
  std::mutex mu_;
  std::deque<std::function<void()>> calls_;  // guarded by mu_
  bool wake_posted_ = false;                 // guarded by mu_
};

// Made by the first store, on the user-interface thread, and kept to the end: a store's thread may
// still answer while the program ends.
Answers& answers() {
  static auto* a = new Answers;
  return *a;
}

}  // namespace

BookStore::BookStore(std::string ledger_utf8) : ledger_(std::move(ledger_utf8)) {
  answers();  // made here, so it lives on this (the user-interface) thread
  thread_ = std::thread([this] { serve(); });
}

BookStore::~BookStore() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void BookStore::post(std::function<void()> job) {
  {
    std::lock_guard lock(mu_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void BookStore::post_to_ui(std::function<void()> call) { answers().push(std::move(call)); }

void BookStore::serve() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mu_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // stopping, and everything asked for is done
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}

}  // namespace pennacle
