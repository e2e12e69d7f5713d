#include "books/book_store.h"

#include "ui/call_queue.h"

namespace pennacle {
namespace {

// Made by the first store, on the user-interface thread, and kept to the end: a store's thread may
// still answer while the program ends.
CallQueue& answers() {
  static auto* a = new CallQueue;
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

void BookStore::post_to_ui(std::function<void()> call) { answers().post(std::move(call)); }

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
