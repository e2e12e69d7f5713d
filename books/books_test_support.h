// Ledgers and an application for the second window's tests. These tests are compiled with UTF-8
// literals, as the window is: texts given here in UTF-8 are stored in GBK, as the ledger keeps them.
// Ledger files are written here while no session's store thread runs; once a session runs, reads
// go through on_store().
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPalette>
#include <QTest>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "books/book_session.h"
#include "ledger/bill.h"
#include "ledger/bill_edit.h"
#include "ledger/categories.h"
#include "platform/file.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "store/record_store.h"
#include "store/test_support.h"
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

inline std::string gbk(std::string_view utf8) {
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

// A dark desktop theme's palette, for pictures and for views that follow the palette.
inline QPalette dark_palette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
  p.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
  p.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
  p.setColor(QPalette::AlternateBase, QColor(0x2f, 0x2f, 0x2f));
  p.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
  p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
  p.setColor(QPalette::ButtonText, QColor(0xe6, 0xe6, 0xe6));
  p.setColor(QPalette::Highlight, QColor(0x3d, 0x7a, 0xd6));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::ToolTipBase, QColor(0x3a, 0x3a, 0x3a));
  p.setColor(QPalette::ToolTipText, QColor(0xe6, 0xe6, 0xe6));
  p.setColor(QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
  return p;
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

// Runs the event loop until `done` holds or `ms` pass; true when it held. The default leaves room
// for the store's thread on a loaded machine or under a sanitizer.
inline bool wait_until(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(10);
  }
  return true;
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

// The statistics' bills: a few hundred over 2023 and 2024 (amounts such as 0.1, 0.2 and 0.3 whose
// sums depend on their order, bills on the last second of a month and the first of the next, one
// NaN and one infinite amount), texts GBK, for fill_stats_ledger().
inline std::vector<Bill> stats_bills() {
  static const double kAmounts[] = {0.1, 0.2, 0.3, 19.99, 0.07, 1234.56, 3.3, 0.01, 88.8, 12.34};
  static const char* const kChannels[] = {"现金", "支付宝", "微信", "银行卡"};
  std::vector<Bill> bills;
  uint32_t x = 2463534242u;  // xorshift: months, sides and channels that do not follow one another
  auto next = [&x](uint32_t n) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return static_cast<int>(x % n);
  };
  for (int i = 0; i < 360; ++i) {
    Bill b;
    b.type = std::string(next(3) ? expense_type() : income_type());
    b.amount = kAmounts[next(10)] + next(7) * 0.01;
    b.channel = gbk(kChannels[next(4)]);
    b.time = make_date_time(2023 + next(2), 1 + next(12), 1 + next(28), next(24), next(60), next(60));
    b.remark = "r" + std::to_string(i);
    bills.push_back(b);
  }
  // The edges of months and years, and amounts no sum may take in.
  const double edges[] = {make_date_time(2024, 3, 31, 23, 59, 59), make_date_time(2024, 4, 1),
                          make_date_time(2023, 12, 31, 23, 59, 59), make_date_time(2024, 1, 1)};
  for (double t : edges) bills.push_back({0, std::string(expense_type()), 0.1, gbk("现金"), t, ""});
  bills.push_back({0, std::string(expense_type()), std::numeric_limits<double>::quiet_NaN(), gbk("现金"),
                   make_date_time(2024, 3, 9, 8), "nan"});
  bills.push_back({0, std::string(income_type()), std::numeric_limits<double>::infinity(), gbk("支付宝"),
                   make_date_time(2023, 7, 2, 8), "inf"});
  return bills;
}

// Writes `bills` (texts GBK) to the ledger `path` (made before, closed) with categories in the
// category file, some confirmed and some not; every fifth bill and every non-finite amount gets none.
inline void fill_stats_ledger(const std::string& path, const std::vector<Bill>& bills) {
  static const char* const kCategories[] = {"餐饮", "交通", "餐饮:午餐", "工资", "购物", "医疗"};
  ASSERT_TRUE(open_db(path));
  std::vector<int32_t> serials;
  ASSERT_EQ(append_bills(bills, &serials), DbCode::Ok);
  close_db(path);
  ASSERT_EQ(serials.size(), bills.size());
  std::vector<CategoryEntry> entries;
  for (size_t i = 0; i < bills.size(); ++i) {
    if (i % 5 == 0 || !std::isfinite(bills[i].amount)) continue;
    entries.push_back({category_key(serials[i], bills[i]), gbk(kCategories[i * 7 / 3 % 6]), i % 2 == 0});
  }
  CategoryFile categories;
  ASSERT_TRUE(categories.open(posix_file_system(), categories_path(path), true).ok());
  const Status written = categories.update(entries, nullptr);
  ASSERT_TRUE(written.ok()) << written.message();
}

}  // namespace pennacle::testing
