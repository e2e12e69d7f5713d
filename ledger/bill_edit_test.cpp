#include "ledger/bill_edit.h"

#include <gtest/gtest.h>

#include <limits>

#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class BillEditTest : public StoreTest {
 protected:
  // Bills 1..5: an expense of i by 微信 at 45000 + i, remark "r<i>".
  void SetUp() override {
    StoreTest::SetUp();
    p_ = ledger("b.kdb", bill_table_fields());
    ASSERT_TRUE(open_db(p_));
    std::vector<Bill> group;
    for (int i = 1; i <= 5; ++i)
      group.push_back({0, "支出", double(i), "微信", 45000.0 + i, "r" + std::to_string(i)});
    std::vector<int32_t> serials;
    ASSERT_EQ(append_bills(group, &serials), DbCode::Ok);
  }
  Bill bill(int32_t serial) {
    EXPECT_TRUE(go_to_bill(serial).ok());
    Bill b;
    EXPECT_EQ(read_current_bill(&b), std::nullopt);
    return b;
  }
  std::string p_;
};

TEST_F(BillEditTest, ChangesWhatIsSetAndReportsTheBillBeforeAndAfter) {
  BillChange c;
  c.amount = 88.5;
  c.remark = "改过";
  Result<BillEdit> e = edit_bill(3, c);
  ASSERT_TRUE(e.ok()) << e.status().message();
  EXPECT_EQ(e->before.serial, 3);
  EXPECT_EQ(e->before.amount, 3);
  EXPECT_EQ(e->before.remark, "r3");
  EXPECT_EQ(e->after.serial, 3);
  EXPECT_EQ(e->after.amount, 88.5);
  EXPECT_EQ(e->after.remark, "改过");
  EXPECT_EQ(e->after.type, "支出");
  EXPECT_EQ(e->after.channel, "微信");
  EXPECT_EQ(e->after.time, 45003);
  BillChange all;
  all.type = "收入";
  all.channel = "银行卡";
  all.time = 46000.5;
  all.remark = "";
  ASSERT_TRUE(edit_bill(5, all).ok());
  const Bill b = bill(5);
  EXPECT_EQ(b.type, "收入");
  EXPECT_EQ(b.channel, "银行卡");
  EXPECT_EQ(b.time, 46000.5);
  EXPECT_EQ(b.remark, "");
  EXPECT_EQ(b.amount, 5);
  // The others are as they were, and nothing moved.
  EXPECT_EQ(bill(4).remark, "r4");
  EXPECT_EQ(record_count(), 5);
}

TEST_F(BillEditTest, RefusesWhatANewBillCouldNotBeAndChangesNothing) {
  const std::string before = read_bytes(p_);
  auto refused = [&](BillChange c, const std::string& says) {
    Result<BillEdit> e = edit_bill(2, c);
    ASSERT_FALSE(e.ok());
    EXPECT_EQ(e.status().code(), StatusCode::Invalid);
    EXPECT_NE(e.status().message().find(says), std::string::npos) << e.status().message();
  };
  BillChange c;
  c.type = "";
  refused(c, "is empty");
  c = {};
  c.channel = "";
  refused(c, "is empty");
  for (double a : {0.0, -5.0, 0.0000001, std::numeric_limits<double>::quiet_NaN(),
                   std::numeric_limits<double>::infinity()}) {
    c = {};
    c.amount = a;
    refused(c, "not a number above");
  }
  c = {};
  c.channel = std::string(65, 'c');
  refused(c, "longer than its 64-byte field");
  c = {};
  c.remark = std::string(501, 'm');
  refused(c, "longer than its 500-byte limit");
  EXPECT_EQ(read_bytes(p_), before);
}

TEST_F(BillEditTest, NamesAnUnknownOrDeletedBillAndFindsOneAPurgeMoved) {
  BillChange c;
  c.amount = 7;
  for (int32_t serial : {0, -1, 6, 1000}) {
    Result<BillEdit> e = edit_bill(serial, c);
    ASSERT_FALSE(e.ok());
    EXPECT_EQ(e.status().code(), StatusCode::NotFound);
    EXPECT_EQ(e.status().message(), "no bill has the serial " + std::to_string(serial));
  }
  ASSERT_TRUE(go_to_bill(2).ok());
  ASSERT_TRUE(ok(db_delete));
  Result<BillEdit> e = edit_bill(2, c);
  ASSERT_FALSE(e.ok());
  EXPECT_EQ(e.status().message(), "bill 2 is deleted");
  ASSERT_TRUE(ok(db_purge));
  e = edit_bill(4, c);  // now in the third slot
  ASSERT_TRUE(e.ok()) << e.status().message();
  EXPECT_EQ(e->after.amount, 7);
  EXPECT_EQ(e->after.remark, "r4");
  EXPECT_EQ(edit_bill(2, c).status().message(), "no bill has the serial 2");
}

TEST_F(BillEditTest, ABillAnotherProgramHoldsIsLeftUnchangedWithTheLockCode) {
  DatabaseInfo info;
  ASSERT_TRUE(db_current_info(&info));
  std::unique_ptr<File> other;  // another open of the file, as a second process has
  ASSERT_EQ(posix_file_system().open(p_, FileAccess::ReadWrite, FileShare::DenyNone, &other),
            FileCause::None);
  ASSERT_EQ(other->lock(static_cast<uint64_t>(info.data_start + 2 * info.record_length), 1), FileCause::None);
  const std::string before = read_bytes(p_);
  BillChange c;
  c.amount = 9;
  Result<BillEdit> e = edit_bill(3, c);
  ASSERT_FALSE(e.ok());
  EXPECT_EQ(e.status().store_code(), code_number(DbCode::LockFile));
  EXPECT_EQ(e.status().message().rfind("bill 3 is unchanged: another program is using it: ", 0), 0u)
      << e.status().message();
  EXPECT_EQ(read_bytes(p_), before);
  other->close();
  EXPECT_TRUE(edit_bill(3, c).ok());
}

}  // namespace
}  // namespace pennacle
