// The record of imported bills as the import meets it: damaged, repaired, missing, or out of step
// with a ledger restored from an older copy; and what "already there" compares.
#include <gtest/gtest.h>

#include <filesystem>

#include "ledger/import/export_samples.h"
#include "tools/kdbtool_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

std::string counts(int added, int already) {
  return "added " + std::to_string(added) + ", already there " + std::to_string(already) +
         ", neutral skipped 0, failed or closed skipped 0, pending 0, unknown status 0, refund without its "
         "payment 0\n";
}

SampleRow bill_row(const std::string& order, const std::string& time, const std::string& amount) {
  return {time, "餐饮美食", "示例商户", "午餐", "支出", amount, "交易成功", order, ""};
}

class ImportLogFile : public ImportTest {
 protected:
  void SetUp() override {
    ImportTest::SetUp();
    db_ = make_ledger();
    empty_kdb_ = read_bytes(db_);
    empty_kdt_ = read_bytes(path("data.KDT"));
  }
  int import_rows(const std::string& name, const std::vector<SampleRow>& rows) {
    return run({"import", db_, write_export(name, alipay_2023_csv(rows))});
  }
  // The ledger as it was made, as a restore of a snapshot taken then leaves it; the log stays.
  void restore_empty_ledger() {
    write_bytes(db_, empty_kdb_);
    write_bytes(path("data.KDT"), empty_kdt_);
  }
  std::string log() const { return db_ + ".imports"; }
  std::string db_, empty_kdb_, empty_kdt_;
};

TEST_F(ImportLogFile, ADamagedLineStopsTheImportUntilTheLogIsRepaired) {
  const std::vector<SampleRow> rows = many_rows(0, 8);
  ASSERT_EQ(import_rows("a.csv", rows), 0) << err_.str();
  std::string bytes = read_bytes(log());
  const size_t line2 = bytes.find('\n') + 1;
  bytes[line2 + 5] ^= 0x01;
  write_bytes(log(), bytes);
  const std::string kdb = read_bytes(db_);
  for (std::vector<std::string> args :
       {std::vector<std::string>{"import", db_, path("a.csv")},
        std::vector<std::string>{"import", db_, path("a.csv"), "--dry-run"}}) {
    EXPECT_EQ(run(args), 1);
    EXPECT_NE(err_.str().find("line 2 is damaged"), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("kdbtool import --repair-log " + db_), std::string::npos) << err_.str();
  }
  EXPECT_EQ(read_bytes(db_), kdb);
  EXPECT_EQ(read_bytes(log()), bytes);
  ASSERT_EQ(run({"import", "--repair-log", db_}), 0) << err_.str();
  EXPECT_NE(out_.str().find("dropped 1 damaged line(s)"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("  line 2: "), std::string::npos) << out_.str();
  EXPECT_EQ(read_bytes(log() + ".damaged"), bytes);
  // The dropped line's bill is found by its values; nothing is added twice.
  ASSERT_EQ(import_rows("a.csv", rows), 0) << err_.str();
  EXPECT_EQ(out_.str(), counts(0, 8));
  EXPECT_EQ(bills(db_).size(), 8u);
  ASSERT_EQ(run({"import", "--repair-log", db_}), 0) << err_.str();
  EXPECT_NE(out_.str().find("is sound"), std::string::npos) << out_.str();
  EXPECT_EQ(run({"import", "--repair-log", db_, "a.csv"}), 1);
  EXPECT_NE(err_.str().find("--repair-log takes the ledger FILE only"), std::string::npos) << err_.str();
}

TEST_F(ImportLogFile, WithoutItsLogAReimportFindsTheBillsByTheirValues) {
  std::vector<SampleRow> rows = many_rows(0, 6);
  rows.push_back(rows[0]);  // the same values under another order number: another bill
  rows.back().order += "7";
  ASSERT_EQ(import_rows("a.csv", rows), 0) << err_.str();
  EXPECT_EQ(out_.str(), counts(7, 0));
  std::filesystem::remove(log());
  ASSERT_EQ(import_rows("a.csv", rows), 0) << err_.str();
  EXPECT_EQ(out_.str(), counts(0, 7));
  EXPECT_EQ(bills(db_).size(), 7u);
  // The matches are written down: the next import finds them in the log and writes nothing.
  const std::string settled = read_bytes(log());
  ASSERT_EQ(import_rows("a.csv", rows), 0) << err_.str();
  EXPECT_EQ(out_.str(), counts(0, 7));
  EXPECT_EQ(read_bytes(log()), settled);
}

TEST_F(ImportLogFile, ABillTypedWithAReusedSerialIsNotTakenForAnImportedOne) {
  const std::vector<SampleRow> rows = {
      bill_row("2023090122001400000000000601", "2023-09-01 12:00:00", "7.00")};
  ASSERT_EQ(import_rows("a.csv", rows), 0) << err_.str();
  const std::vector<std::string> imported = bills(db_);
  // An older snapshot comes back, and a bill typed since gets the imported bill's serial, with
  // its amount, side and channel, at another time.
  restore_empty_ledger();
  ASSERT_EQ(run({"import", db_, write_export("typed.csv", u8("支出,7,支付宝,2023-09-02 12:00:00,午餐\n"))}),
            0)
      << err_.str();
  ASSERT_EQ(import_rows("a.csv", rows), 0) << err_.str();
  EXPECT_EQ(out_.str(), counts(1, 0));
  expect_each_once(db_, {imported[0], u8("支出,7.00,支付宝,2023-09-02 12:00:00,午餐\r")});
}

TEST_F(ImportLogFile, OnlyABillWithTheSameTimeAmountSideAndChannelIsTakenForARow) {
  // Typed bills that differ from the row in one value each: the side, the channel, the time.
  ASSERT_EQ(run({"import", db_,
                 write_export("typed.csv", u8("收入,7,支付宝,2023-09-01 12:00:00,退款\n"
                                              "支出,7,微信,2023-09-01 12:00:00,午餐\n"
                                              "支出,7,支付宝,2023-09-01 12:00:01,午餐\n"))}),
            0)
      << err_.str();
  const std::vector<SampleRow> rows = {
      bill_row("2023090122001400000000000601", "2023-09-01 12:00:00", "7.00")};
  ASSERT_EQ(import_rows("a.csv", rows), 0) << err_.str();
  EXPECT_EQ(out_.str(), counts(1, 0));
  EXPECT_EQ(bills(db_).size(), 4u);
}

TEST_F(ImportLogFile, TwoRowsNeverClaimTheSameLedgerBill) {
  // Two trades with the same time, amount and side under different order numbers.
  const SampleRow a = bill_row("2023090222001400000000000701", "2023-09-02 12:00:00", "9.00");
  const SampleRow b = bill_row("2023090222001400000000000702", "2023-09-02 12:00:00", "9.00");
  // Without a log: the one bill the ledger holds answers for one row, not both.
  ASSERT_EQ(import_rows("a.csv", {a}), 0) << err_.str();
  std::filesystem::remove(log());
  ASSERT_EQ(import_rows("ab.csv", {a, b}), 0) << err_.str();
  EXPECT_EQ(out_.str(), counts(1, 1));
  EXPECT_EQ(bills(db_).size(), 2u);
  // With a log whose entries for both name one serial, handed out again after a restore.
  restore_empty_ledger();
  std::filesystem::remove(log());
  ASSERT_EQ(import_rows("a.csv", {a}), 0) << err_.str();
  restore_empty_ledger();
  ASSERT_EQ(import_rows("b.csv", {b}), 0) << err_.str();
  EXPECT_EQ(out_.str(), counts(1, 0));
  ASSERT_EQ(import_rows("ab.csv", {a, b}), 0) << err_.str();
  EXPECT_EQ(out_.str(), counts(1, 1));
  EXPECT_EQ(bills(db_).size(), 2u);
}

}  // namespace
}  // namespace pennacle
