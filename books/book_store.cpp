#include "books/book_store.h"

namespace pennacle {

BookStore::BookStore(std::string ledger_utf8) : ledger_(std::move(ledger_utf8)) {
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

void BookStore::post_to_ui(std::function<void()> call) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
}

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
