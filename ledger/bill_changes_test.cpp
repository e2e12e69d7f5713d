#include "ledger/bill_changes.h"

#include <gtest/gtest.h>

#include "ledger/bin_ledger.h"
#include "ledger/categories.h"
#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr double kNow = 45600.5;

class BillChanges : public StoreTest {
 protected:
  // Bills 1..4 of a ledger, closed: an expense of 10 * i by 微信 at 45000 + i, remark "r<i>".
  void SetUp() override {
    StoreTest::SetUp();
    db_ = ledger("data.kdb", bill_table_fields());
    ASSERT_TRUE(open_db(db_));
    std::vector<Bill> group;
    for (int i = 1; i <= 4; ++i)
      group.push_back({0, "支出", 10.0 * i, "微信", 45000.0 + i, "r" + std::to_string(i)});
    std::vector<int32_t> serials;
    ASSERT_EQ(append_bills(group, &serials), DbCode::Ok);
    close_db();
  }
  // The live bill with `serial` as the file holds it; serial 0 when there is none.
  Bill stored(int32_t serial) {
    EXPECT_TRUE(open_record_file(db_, true).ok());
    Bill b;
    if (go_to_bill(serial).ok() && !read_current_bill(&b)) b.serial = serial;
    close_db();
    return b;
  }
  std::string db_;
};

TEST_F(BillChanges, AnEditAndTheEditBackLeaveTheFileAsItWas) {
  BillChange c;
  c.amount = 12.5;
  c.remark = "改过";
  c.type = "收入";
  Result<BillEdit> e = edit_ledger_bill(db_, 2, c);
  ASSERT_TRUE(e.ok()) << e.status().message();
  EXPECT_EQ(stored(2).amount, 12.5);
  EXPECT_EQ(stored(2).remark, "改过");
  EXPECT_FALSE(stored(2).is_expense());
  BillChange back;
  back.amount = e->before.amount;
  back.remark = e->before.remark;
  back.type = e->before.type;
  ASSERT_TRUE(edit_ledger_bill(db_, 2, back).ok());
  const Bill b = stored(2);
  EXPECT_TRUE(same_bill_values(b, e->before));
  // The ledger is closed after each change: another program may open it for writing at once.
  DatabaseInfo info;
  EXPECT_FALSE(db_current_info(&info));
  EXPECT_EQ(edit_ledger_bill(db_, 9, c).status().code(), StatusCode::NotFound);
}

TEST_F(BillChanges, ADeleteGoesIntoTheBinWithItsCategoryAndOnlyThatBill) {
  ASSERT_TRUE(set_ledger_category(db_, 3, {true, "餐饮:午餐", true}).ok());
  Result<BinEntry> gone = delete_ledger_bill(db_, 3, kNow);
  ASSERT_TRUE(gone.ok()) << gone.status().message();
  EXPECT_EQ(gone->bill.serial, 3);
  EXPECT_EQ(gone->bill.remark, "r3");
  EXPECT_EQ(gone->deleted_at, kNow);
  EXPECT_EQ(gone->category, "餐饮:午餐");
  EXPECT_TRUE(gone->category_by_hand);
  EXPECT_EQ(stored(3).serial, 0);
  EXPECT_EQ(stored(4).remark, "r4");
  Result<std::vector<BinEntry>> bin = bin_bills_of(db_, nullptr);
  ASSERT_TRUE(bin.ok());
  ASSERT_EQ(bin->size(), 1u);
  EXPECT_EQ(bin->front().id, gone->id);
  // Gone already: named, and the bin gets nothing more.
  Result<BinEntry> again = delete_ledger_bill(db_, 3, kNow);
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.status().code(), StatusCode::NotFound);
  EXPECT_NE(again.status().message().find("bill 3"), std::string::npos) << again.status().message();
  EXPECT_EQ(bin_bills_of(db_, nullptr)->size(), 1u);
}

TEST_F(BillChanges, ACategoryStateComesBackExactlyIncludingNoEntry) {
  Result<CategoryState> before = set_ledger_category(db_, 1, {true, "交通", false});
  ASSERT_TRUE(before.ok()) << before.status().message();
  EXPECT_FALSE(before->has_entry);
  Result<CategoryState> ruled = set_ledger_category(db_, 1, {true, "购物", true});
  ASSERT_TRUE(ruled.ok());
  EXPECT_EQ(*ruled, (CategoryState{true, "交通", false}));
  ASSERT_TRUE(set_ledger_category(db_, 1, *ruled).ok());
  EXPECT_EQ(*ledger_category(db_, 1), (CategoryState{true, "交通", false}));
  ASSERT_TRUE(set_ledger_category(db_, 1, *before).ok());
  EXPECT_EQ(*ledger_category(db_, 1), CategoryState{});
  // Read from the disk anew: the drop is in the file, and the name stays known.
  CategoryFile file;
  ASSERT_TRUE(file.open(posix_file_system(), categories_path(db_), false).ok());
  EXPECT_EQ(file.entries().count(1), 0u);
  EXPECT_NE(std::find(file.names().begin(), file.names().end(), "购物"), file.names().end());
  // No entry to drop is no change.
  EXPECT_TRUE(set_ledger_category(db_, 2, {}).ok());
}

TEST_F(BillChanges, ARefusedCategoryOrAGoneBillWritesNothing) {
  const std::string path = categories_path(db_);
  ASSERT_TRUE(set_ledger_category(db_, 1, {true, "交通", true}).ok());
  const std::string before = read_bytes(path);
  Result<CategoryState> bad = set_ledger_category(db_, 1, {true, "餐饮::午餐", true});
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.status().code(), StatusCode::Invalid);
  EXPECT_EQ(bad.status().message().rfind("bill 1: ", 0), 0u) << bad.status().message();
  Result<CategoryState> gone = set_ledger_category(db_, 7, {true, "交通", true});
  EXPECT_EQ(gone.status().code(), StatusCode::NotFound);
  EXPECT_NE(gone.status().message().find("bill 7"), std::string::npos);
  EXPECT_EQ(read_bytes(path), before);
}

TEST_F(BillChanges, AnotherProgramHoldingTheRecordLeavesEveryChangeUndone) {
  ASSERT_TRUE(open_record_file(db_, true).ok());
  DatabaseInfo info;
  ASSERT_TRUE(db_current_info(&info));
  close_db();
  std::unique_ptr<File> other;  // another open of the file, as a second process has
  ASSERT_EQ(posix_file_system().open(db_, FileAccess::ReadWrite, FileShare::DenyNone, &other),
            FileCause::None);
  ASSERT_EQ(other->lock(static_cast<uint64_t>(info.data_start + 1 * info.record_length), 1), FileCause::None);
  const std::string bytes = read_bytes(db_);
  BillChange c;
  c.amount = 99;
  Result<BillEdit> e = edit_ledger_bill(db_, 2, c);
  ASSERT_FALSE(e.ok());
  EXPECT_EQ(e.status().store_code(), code_number(DbCode::LockFile));
  EXPECT_NE(e.status().message().find("bill 2"), std::string::npos) << e.status().message();
  Result<BinEntry> d = delete_ledger_bill(db_, 2, kNow);
  ASSERT_FALSE(d.ok());
  EXPECT_NE(d.status().message().find("bill 2 was not deleted"), std::string::npos) << d.status().message();
  EXPECT_EQ(read_bytes(db_), bytes);
  other->close();
  EXPECT_TRUE(bin_bills_of(db_, nullptr)->empty());
  EXPECT_EQ(stored(2).amount, 20);
}

TEST_F(BillChanges, TextsAreCutOnACharacterToTheirField) {
  ASSERT_TRUE(open_record_file(db_, true).ok());
  Result<BillTable> t = current_bill_table();
  close_db();
  ASSERT_TRUE(t.ok());
  EXPECT_EQ(bill_text_limit(*t, BillField::Remark), t->remark_limit);
  std::string s = "a餐饮";  // 5 bytes: a cut at 4 would split 饮
  EXPECT_TRUE(cut_bill_text(4, &s));
  EXPECT_EQ(s, "a餐");
  EXPECT_FALSE(cut_bill_text(3, &s));
  EXPECT_EQ(entry_channels().size(), 6u);
  EXPECT_EQ(entry_channels().front(), "支付宝");
}

}  // namespace
}  // namespace pennacle
