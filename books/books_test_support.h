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

// A WeChat Pay export as the app writes it (UTF-8 with a byte-order mark), made-up names; `rows` are
// its bill lines.
inline std::string wechat_export(const std::vector<std::string>& rows) {
  std::string s =
      "\xEF\xBB\xBF微信支付账单明细,,,,,,,,,,\n微信昵称：[小王],,,,,,,,,,\n"
      "起始时间：[2024-05-01 00:00:00] 终止时间：[2024-05-31 23:59:59],,,,,,,,,,\n"
      "----------------------微信支付账单明细列表--------------------,,,,,,,,,,\n"
      "交易时间,交易类型,交易对方,商品,收/支,金额(元),支付方式,当前状态,交易单号,商户单号,备注\n";
  for (const std::string& r : rows) s += r + "\n";
  return s;
}
inline std::vector<std::string> wechat_sample_rows() {
  return {
      "2024-05-02 12:01:00,商户消费,示例面馆,牛肉面,支出,¥18.50,零钱,支付成功,4200000001,m1,/",
      "2024-05-03 08:30:00,商户消费,示例地铁,地铁票,支出,¥4.00,零钱,支付成功,4200000002,m2,/",
      "2024-05-04 19:00:00,转账,李小红,转账备注:饭钱,收入,¥60.00,零钱,已存入零钱,1000000003,/,/",
      "2024-05-05 09:00:00,零钱提现,示例银行(0000),/,/,¥100.00,零钱,提现已到账,1300000004,/,/",
      "2024-05-06 10:00:00,商户消费,示例书店,笔记本,支出,¥12.00,零钱,支付失败,4200000005,m5,/",
  };
}

// The control of kind T under `root` with the accessible name `name`.
template <class T>
T* named(QWidget* root, const QString& name) {
  for (T* w : root->findChildren<T*>()) {
    if (w->accessibleName() == name) return w;
  }
  ADD_FAILURE() << "no control named " << name.toStdString();
  return nullptr;
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
