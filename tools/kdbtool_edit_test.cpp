#include "tools/kdbtool_edit.h"

#include <gtest/gtest.h>

#include "store/check.h"
#include "tools/kdbtool_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class KdbtoolEdit : public KdbtoolTest {
 protected:
  void SetUp() override {
    KdbtoolTest::SetUp();
    db_ = path("data.kdb");
    ASSERT_EQ(run({"create", db_}), 0) << err_.str();
    const std::string csv = path("b.csv");
    write_bytes(csv, u8("支出,12.5,微信,2024-03-01 08:30:00,午饭\n收入,1000,银行卡,2024-03-02 23:59:59,工资\n"
                        "支出,3,现金,2024-03-03 07:00:00,\n"));
    ASSERT_EQ(run({"import", db_, csv}), 0) << err_.str();
  }
  // The bills as 'kdbtool export' gives them, without the header row.
  std::string bills() {
    EXPECT_EQ(run({"export", db_}), 0) << err_.str();
    const std::string all = out_.str();
    return all.substr(all.find("\r\n") + 2);
  }
  std::string db_;
};

TEST_F(KdbtoolEdit, PrintsTheBillBeforeAndAfterAndTheLedgerKeepsIt) {
  ASSERT_EQ(run({"edit", db_, "2", "--amount", "999.5", "--channel", u8("支付宝"), "--time",
                 "2024-04-01 10:11:12", "--remark", u8("工资 四月"), "--type", u8("收入")}),
            0)
      << err_.str();
  EXPECT_EQ(out_.str(), u8("before  2  收入  1000.00  银行卡  2024-03-02 23:59:59  工资\n"
                           "after   2  收入  999.50  支付宝  2024-04-01 10:11:12  工资 四月\n"));
  ASSERT_EQ(run({"edit", db_, "3", "--remark", std::string(500, 'r')}), 0) << err_.str();
  EXPECT_EQ(bills(), u8("1,支出,12.50,微信,2024-03-01 08:30:00,午饭,未分类\r\n"
                        "2,收入,999.50,支付宝,2024-04-01 10:11:12,工资 四月,未分类\r\n"
                        "3,支出,3.00,现金,2024-03-03 07:00:00,") +
                         std::string(500, 'r') + u8(",未分类\r\n"));
  EXPECT_TRUE(check_database(db_).sound);
}

TEST_F(KdbtoolEdit, RefusesBadArgumentsAndValuesWithAMessageAndChangesNothing) {
  const std::string before = read_bytes(db_);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"edit", db_}, "edit needs FILE and SERIAL"},
      {{"edit", db_, "x2"}, "SERIAL 'x2' is not a bill's serial"},
      {{"edit", db_, "0", "--amount", "1"}, "SERIAL '0' is not a bill's serial"},
      {{"edit", db_, "2"}, "edit needs at least one of"},
      {{"edit", db_, "2", "--colour", "red"}, "unknown option '--colour'"},
      {{"edit", db_, "2", "--amount"}, "--amount needs a value"},
      {{"edit", db_, "2", "--amount", "12,5"}, "--amount '12,5' is not a number"},
      {{"edit", db_, "2", "--amount", "-3"}, u8("金额 is not a number above 0.0000001")},
      {{"edit", db_, "2", "--time", "2024-02-30"}, "--time '2024-02-30' is not YYYY-MM-DD"},
      {{"edit", db_, "2", "--type", ""}, u8("类型 is empty")},
      {{"edit", db_, "2", "--channel", std::string(65, 'c')}, "longer than its 64-byte field"},
      {{
           "edit", db_, "2", "--remark", "\xF0\x9F\x98\x80"  // U+1F600, outside GBK
       },
       "has characters GBK cannot hold"},
      {{"edit", db_, "9", "--amount", "1"}, "no bill has the serial 9"},
      {{"edit", path("none.kdb"), "1", "--amount", "1"}, "none.kdb"},
  };
  for (const auto& [args, says] : cases) {
    EXPECT_EQ(run(args), 1) << args.size();
    EXPECT_NE(err_.str().find(says), std::string::npos) << err_.str();
    EXPECT_EQ(out_.str(), "");
  }
  EXPECT_EQ(read_bytes(db_), before);
}

TEST_F(KdbtoolEdit, NamesADeletedBillAndABillAnotherProgramHolds) {
  ASSERT_TRUE(open_db(db_));
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(1)}));
  ASSERT_TRUE(ok(db_delete));
  DatabaseInfo info;
  ASSERT_TRUE(db_current_info(&info));
  close_db();
  EXPECT_EQ(run({"edit", db_, "1", "--amount", "5"}), 1);
  EXPECT_EQ(err_.str(), "kdbtool: " + db_ + ": bill 1 is deleted\n");
  // Another program holds bill 3's record lock (another open of the file, as a second process has):
  // the open for writing, which holds the whole file a moment, meets it first.
  std::unique_ptr<File> other;
  ASSERT_EQ(posix_file_system().open(db_, FileAccess::ReadWrite, FileShare::DenyNone, &other),
            FileCause::None);
  ASSERT_EQ(other->lock(static_cast<uint64_t>(info.data_start + 2 * info.record_length), 1), FileCause::None);
  const std::string before = read_bytes(db_);
  EXPECT_EQ(run({"edit", db_, "3", "--amount", "5"}), 1);
  EXPECT_NE(
      err_.str().find(u8("加锁文件失败 (-13): another program is changing the ledger; nothing was changed")),
      std::string::npos)
      << err_.str();
  EXPECT_EQ(read_bytes(db_), before);
  other->close();
  EXPECT_EQ(run({"edit", db_, "3", "--amount", "5"}), 0) << err_.str();
}

// A bill's category is keyed by its time, amount and side: it follows an edit of any of them, a
// category set by hand stays set by hand, and an edit of the channel alone leaves it in place.
TEST_F(KdbtoolEdit, TheCategoryFollowsTheEditedBill) {
  ASSERT_EQ(run({"category", db_, "2", u8("工资:奖金")}), 0) << err_.str();
  ASSERT_EQ(run({"category", db_, "1", u8("餐饮")}), 0) << err_.str();
  ASSERT_EQ(
      run({"edit", db_, "2", "--amount", "2000", "--time", "2024-05-01 09:00:00", "--type", u8("支出")}), 0)
      << err_.str();
  EXPECT_EQ(err_.str(), "");
  ASSERT_EQ(run({"edit", db_, "1", "--channel", u8("现金")}), 0) << err_.str();
  const std::string all = bills();
  EXPECT_NE(all.find(u8("2,支出,2000.00,银行卡,2024-05-01 09:00:00,工资,工资:奖金\r\n")), std::string::npos)
      << all;
  EXPECT_NE(all.find(u8("1,支出,12.50,现金,2024-03-01 08:30:00,午饭,餐饮\r\n")), std::string::npos) << all;
  // Still set by hand: rules never take it over.
  write_bytes(path("rules.yaml"), u8("pennacle:\n  rules:\n    - type: 支出\n      targetAccount: 其他\n"));
  ASSERT_EQ(run({"categorize", db_, "--all"}), 0) << err_.str();
  EXPECT_NE(bills().find(u8(",工资:奖金\r\n")), std::string::npos);
}

}  // namespace
}  // namespace pennacle
