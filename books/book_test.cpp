// The load of a ledger into the window's rows, and the rows themselves.
#include "books/book.h"

#include <cmath>
#include <limits>

#include "books/books_test_support.h"
#include "ledger/bill_edit.h"
#include "ledger/bin_ledger.h"
#include "runtime/value.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class BookTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string path_ = dir_.path() + "/data.kdb";
};

TEST_F(BookTest, HoldsEveryLiveBillWithItsCategoryAndTexts) {
  const double t = make_date_time(2026, 3, 5, 12, 30);
  const std::vector<int32_t> serials =
      make_test_ledger(path_, {{true, 28.5, "微信", t, "美团 · 午餐", "餐饮:午餐"},
                               {false, 5000, "银行卡", t + 1, "工资", ""},
                               {true, 0.1, "支付宝", t + 2, std::string(490, 'x') + "尾", "交通"}});
  Result<std::shared_ptr<const Book>> book = load_book(path_, nullptr);
  ASSERT_TRUE(book.ok()) << book.status().message();
  const BookRows& rows = (*book)->rows;
  ASSERT_EQ(rows.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(rows[i].serial, serials[i]);
  EXPECT_TRUE(rows[0].is_expense());
  EXPECT_FALSE(rows[1].is_expense());
  EXPECT_EQ(rows.text(rows[0].channel), gbk("微信"));
  EXPECT_EQ(rows.text(rows[0].category), gbk("餐饮:午餐"));
  EXPECT_TRUE(rows[0].category_by_hand());
  EXPECT_EQ(rows.text(rows[1].category), uncategorized());
  EXPECT_FALSE(rows[1].category_by_hand());
  EXPECT_EQ(rows.remark(rows[0]), gbk("美团 · 午餐"));
  EXPECT_EQ(rows.remark(rows[2]).size(), 492u);
  // The whole bill comes back as the ledger holds it.
  const Bill b = rows.bill(2);
  EXPECT_EQ(b.serial, serials[2]);
  EXPECT_EQ(b.amount, 0.1);
  EXPECT_EQ(b.time, t + 2);
  EXPECT_EQ(b.type, expense_type());
  EXPECT_EQ(rows.find(serials[1]), std::optional<size_t>(1));
  EXPECT_EQ(rows.find(serials[2] + 1), std::nullopt);
  // The category file's names come along for the filters and the edit dialog.
  EXPECT_NE(std::find((*book)->category_names.begin(), (*book)->category_names.end(), gbk("交通")),
            (*book)->category_names.end());
}

TEST_F(BookTest, LeavesDeletedRecordsOutAndKeepsAnAmountNoSumCanHold) {
  const double t = make_date_time(2026, 1, 1);
  const std::vector<int32_t> serials = make_test_ledger(
      path_, {{true, 1, "微信", t, "", ""}, {true, 2, "微信", t, "", ""}, {true, 3, "微信", t, "", ""}});
  ASSERT_TRUE(open_record_file(path_, false).ok());
  ASSERT_TRUE(go_to_bill(serials[1]).ok());
  ASSERT_TRUE(delete_current_bill(posix_file_system(), t).ok());
  // The window's entry refuses such an amount; another program may still have written one.
  Bill odd = gbk_bill({true, 0, "微信", t, "", ""});
  odd.amount = std::numeric_limits<double>::quiet_NaN();
  std::array<Text, 3> texts;
  const BillRow row = bill_row(odd, 4, &texts);
  ASSERT_TRUE(call_command(db_append, {row[0], row[1], row[2], row[3], row[4], row[5]}).lo != 0);
  call_command(db_close, {});
  Result<std::shared_ptr<const Book>> book = load_book(path_, nullptr);
  ASSERT_TRUE(book.ok()) << book.status().message();
  ASSERT_EQ((*book)->rows.size(), 3u);
  EXPECT_EQ((*book)->rows[0].serial, serials[0]);
  EXPECT_EQ((*book)->rows[1].serial, serials[2]);
  EXPECT_TRUE(std::isnan((*book)->rows[2].amount));
}

TEST_F(BookTest, ReportsProgressUpToTheRecordCount) {
  std::vector<TestBill> many(20000, TestBill{true, 1, "微信", make_date_time(2026, 1, 1), "", ""});
  make_test_ledger(path_, many);
  int32_t last_done = -1, last_total = -1, calls = 0;
  Result<std::shared_ptr<const Book>> book = load_book(path_, [&](int32_t done, int32_t total) {
    EXPECT_GE(done, last_done);
    last_done = done;
    last_total = total;
    ++calls;
  });
  ASSERT_TRUE(book.ok());
  EXPECT_GT(calls, 1);
  EXPECT_EQ(last_done, 20000);
  EXPECT_EQ(last_total, 20000);
}

TEST_F(BookTest, AFailureNamesTheLedgerAndADamagedCategoryFileIsOne) {
  Result<std::shared_ptr<const Book>> missing = load_book(path_, nullptr);
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.status().message().find(path_), std::string::npos) << missing.status().message();

  make_test_ledger(path_, {{true, 1, "微信", make_date_time(2026, 1, 1), "", "餐饮"}});
  std::string bytes = read_file(categories_path(path_));
  ASSERT_GT(bytes.size(), 40u);
  bytes[bytes.size() / 3] ^= 0x20;  // damage well before the last write's mark
  bytes += "E\tmore\n";
  write_file(categories_path(path_), bytes);
  Result<std::shared_ptr<const Book>> damaged = load_book(path_, nullptr);
  ASSERT_FALSE(damaged.ok());
  EXPECT_EQ(damaged.status().code(), StatusCode::Corrupt) << damaged.status().message();
  // The store is left closed: the next load of a sound ledger works.
  write_file(categories_path(path_), "");
  std::remove(categories_path(path_).c_str());
  EXPECT_TRUE(load_book(path_, nullptr).ok());
}

}  // namespace
}  // namespace pennacle
