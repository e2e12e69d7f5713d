// Ledgers and an application for the second window's tests. These tests are compiled with UTF-8
// literals, as the window is: texts given here in UTF-8 are stored in GBK, as the ledger keeps them.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "ledger/bill.h"
#include "ledger/categories.h"
#include "platform/file.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "store/record_store.h"
#include "testing/temp_dir.h"

namespace pennacle::testing {

// One QApplication for the whole test program (offscreen, as CTest sets it).
inline void ensure_application() {
  static int argc = 1;
  static char name[] = "books_test";
  static char* argv[] = {name, nullptr};
  if (!qApp) new QApplication(argc, argv);
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string gbk(const std::string& utf8) {
  std::optional<std::string> g = utf8_to_gbk(utf8);
  EXPECT_TRUE(g.has_value()) << utf8;
  return g.value_or(std::string());
}

// A bill described in UTF-8, with its category ("" for none).
struct TestBill {
  bool expense = true;
  double amount = 0;
  std::string channel;  // UTF-8
  double time = 0;
  std::string remark;    // UTF-8
  std::string category;  // UTF-8
};

inline Bill gbk_bill(const TestBill& t) {
  return Bill{0,        std::string(t.expense ? expense_type() : income_type()),
              t.amount, gbk(t.channel),
              t.time,   gbk(t.remark)};
}

// Makes the ledger `path` (UTF-8 = GBK for the ASCII paths of tests) holding `bills`, with their
// categories in the category file beside it. Returns the serials given. Leaves no database open.
inline std::vector<int32_t> make_test_ledger(const std::string& path, const std::vector<TestBill>& bills) {
  std::vector<int32_t> serials;
  EXPECT_EQ(create_database(path, bill_table_fields()), DbCode::Ok);
  EXPECT_TRUE(open_record_file(path, false).ok());
  std::vector<Bill> group;
  for (const TestBill& t : bills) group.push_back(gbk_bill(t));
  EXPECT_EQ(append_bills(group, &serials), DbCode::Ok);
  call_command(db_close, {});
  std::vector<CategoryEntry> entries;
  for (size_t i = 0; i < bills.size() && i < serials.size(); ++i) {
    if (bills[i].category.empty()) continue;
    entries.push_back({category_key(serials[i], group[i]), gbk(bills[i].category), true});
  }
  if (!entries.empty()) {
    CategoryFile file;
    EXPECT_TRUE(file.open(posix_file_system(), categories_path(path), true).ok());
    EXPECT_TRUE(file.update(entries, nullptr).ok());
  }
  return serials;
}

// Runs the event loop until `done` holds or `ms` pass; true when it held.
inline bool wait_until(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(10);
  }
  return true;
}

}  // namespace pennacle::testing
