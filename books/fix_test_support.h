// What the tests of fixing bills share: the application, a ledger of a few bills in a temporary
// folder, a wait for the store's thread, and reads of the file through the ledger.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "books/book_session.h"
#include "ledger/bill.h"
#include "ledger/bill_changes.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "store/record_store.h"
#include "testing/temp_dir.h"

namespace pennacle::testing {

inline void ensure_application() {
  static int argc = 1;
  static char name[] = "books_fix_test";
  static char* argv[] = {name, nullptr};
  if (!qApp) new QApplication(argc, argv);
}

inline std::string gbk(const char* utf8) { return utf8_to_gbk(utf8).value_or(""); }

// Serves the event loop until `done` holds; false when it still does not after `ms`.
inline bool wait_until(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

// A new ledger `name` in `dir` holding `bills` (texts UTF-8 here, GBK in the file), closed.
inline std::string make_ledger(const TempDir& dir, const std::vector<Bill>& bills,
                               const std::string& name = "data.kdb") {
  const std::string path = dir.file(name);
  EXPECT_EQ(create_database(path, bill_table_fields()), DbCode::Ok);
  EXPECT_TRUE(open_record_file(path, false).ok());
  std::vector<Bill> group = bills;
  for (Bill& b : group) {
    b.type = gbk(b.type.c_str());
    b.channel = gbk(b.channel.c_str());
    b.remark = gbk(b.remark.c_str());
  }
  std::vector<int32_t> serials;
  EXPECT_EQ(append_bills(group, &serials), DbCode::Ok);
  call_command(db_close, {});
  return path;
}

// Runs `work` on the session's store thread, after every job queued, and gives its result.
template <class T>
T on_store(BookSession& session, std::function<T()> work) {
  auto result = std::make_shared<std::optional<T>>();
  QObject context;
  session.store().run<T>(&context, std::move(work), [result](T r) { *result = std::move(r); });
  EXPECT_TRUE(wait_until([&] { return result->has_value(); }));
  return result->has_value() ? std::move(**result) : T{};
}

// The live bill with `serial` as the file holds it (texts GBK); serial 0 when there is none.
inline Bill stored_bill(BookSession& session, int32_t serial) {
  const std::string ledger = session.ledger();
  return on_store<Bill>(session, [ledger, serial] {
    Bill b;
    if (open_record_file(ledger, true).ok() && go_to_bill(serial).ok() && !read_current_bill(&b))
      b.serial = serial;
    call_command(db_close, {});
    return b;
  });
}

}  // namespace pennacle::testing
