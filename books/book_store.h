// The one thread that uses the store in this program. The store's current database belongs to the
// whole process, so every load and change runs here, one after another; the window never waits
// for the disk or for another program's locks.
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace pennacle {

class BookStore {
 public:
  explicit BookStore(std::string ledger_utf8);
  BookStore(const BookStore&) = delete;
  BookStore& operator=(const BookStore&) = delete;
  // Finishes the job running and those queued: a change asked for is never dropped.
  ~BookStore();

  // The ledger's record file, as the user names it (UTF-8).
  const std::string& ledger() const { return ledger_; }

  // Runs `work` on the store's thread after every job queued before it, then `done` with its result
  // on `context`'s thread; `done` is dropped when `context` is gone by then.
  template <class T>
  void run(QObject* context, std::function<T()> work, std::function<void(T)> done) {
    QPointer<QObject> guard(context);
    post([guard, work = std::move(work), done = std::move(done)] {
      T result = work();
      // The guard is read on the user-interface thread only, where `context` would be deleted.
      post_to_ui([guard, done, result = std::move(result)]() mutable {
        if (guard) done(std::move(result));
      });
    });
  }

  // Runs `call` on the user-interface thread, from any thread, after the calls posted before it.
  static void post_to_ui(std::function<void()> call);

 private:
  void post(std::function<void()> job);
  void serve();

  const std::string ledger_;
  std::mutex mu_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;  // guarded by mu_
  bool stopping_ = false;                   // guarded by mu_
  std::thread thread_;
};

}  // namespace pennacle
