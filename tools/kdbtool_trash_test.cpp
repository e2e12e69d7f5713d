// kdbtool trash and undelete: what a delete put in the recycle bin comes back whole, once, and is
// never imported a second time; the bin goes with snapshots and comes back with a restore.
#include <gtest/gtest.h>

#include <filesystem>

#include "ledger/bin_ledger.h"
#include "ledger/import/export_samples.h"
#include "store/backup.h"
#include "tools/kdbtool_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr double kDeletedAt = 45500.5;  // 2024-07-29 12:00:00

std::string counts(int added, int already) {
  return "added " + std::to_string(added) + ", already there " + std::to_string(already) + ",";
}

class KdbtoolTrash : public ImportTest {
 protected:
  void SetUp() override {
    ImportTest::SetUp();
    db_ = make_ledger();
  }
  void delete_serial(int32_t serial) { ImportTest::delete_serial(db_, serial, kDeletedAt); }
  std::string bin() const { return db_ + ".trash"; }
  std::string db_;
};

TEST_F(KdbtoolTrash, DeleteThenUndeleteBringsBackEveryValue) {
  const std::string typed =
      u8("支出,12.34,微信,2024-05-01 08:09:10,早饭 · 包子\n"
         "收入,0.01,银行卡,2024-05-02 23:59:59,\n"
         "支出,99999.99,现金,2024-05-03 00:00:00,\"a,b\"\"c\"\n");
  ASSERT_EQ(run({"import", db_, write_export("typed.csv", typed)}), 0) << err_.str();
  const std::vector<std::string> before = bills(db_);
  ASSERT_EQ(before.size(), 3u);
  delete_serial(1);
  delete_serial(3);
  ASSERT_EQ(bills(db_).size(), 1u);
  ASSERT_EQ(run({"trash", db_}), 0) << err_.str();
  // Newest first, with when each went and every value.
  const std::string listed = out_.str();
  const size_t third = listed.find("99999.99"), first = listed.find("12.34");
  ASSERT_NE(third, std::string::npos) << listed;
  ASSERT_NE(first, std::string::npos) << listed;
  EXPECT_LT(third, first) << listed;
  EXPECT_NE(listed.find(u8("早饭 · 包子")), std::string::npos) << listed;
  EXPECT_NE(listed.find("2024-05-01 08:09:10"), std::string::npos) << listed;
  EXPECT_NE(listed.find("2 bill(s) in the recycle bin"), std::string::npos) << listed;

  ASSERT_EQ(run({"undelete", db_, "3"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("is back as serial 4"), std::string::npos) << out_.str();
  ASSERT_EQ(run({"undelete", db_, "1"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("is back as serial 5"), std::string::npos) << out_.str();
  expect_each_once(db_, before);
  ASSERT_EQ(run({"trash", db_}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "0 bill(s) in the recycle bin\n");
  // Once out, a bill is not in the bin to come back a second time.
  EXPECT_EQ(run({"undelete", db_, "3"}), 1);
  EXPECT_NE(err_.str().find("no bill with serial 3 is in the recycle bin"), std::string::npos) << err_.str();
  EXPECT_EQ(bills(db_).size(), 3u);
  for (const char* bad : {"0", "x", "-2", "4x"}) {
    EXPECT_EQ(run({"undelete", db_, bad}), 1) << bad;
    EXPECT_NE(err_.str().find("SERIAL must be a number above 0"), std::string::npos) << err_.str();
  }
}

// A bill's category goes into the bin with it and comes back with it, set by hand or not, whatever
// the category file did meanwhile (a write that dropped the entries of bills that are gone).
TEST_F(KdbtoolTrash, TheCategoryComesBackWithTheBill) {
  const std::string typed =
      u8("支出,12.34,微信,2024-05-01 08:09:10,早饭\n收入,500,银行卡,2024-05-02 09:00:00,\n");
  ASSERT_EQ(run({"import", db_, write_export("typed.csv", typed)}), 0) << err_.str();
  ASSERT_EQ(run({"category", db_, "1", u8("餐饮:早餐")}), 0) << err_.str();
  ASSERT_EQ(run({"category", db_, "2", u8("工资")}), 0) << err_.str();
  delete_serial(1);
  // Rules over every bill rewrite the file without the deleted bill's entry.
  write_bytes(path("rules.yaml"), u8("pennacle:\n  rules:\n    - type: 收入\n      targetAccount: 理财\n"));
  ASSERT_EQ(run({"categorize", db_, "--all"}), 0) << err_.str();
  ASSERT_EQ(run({"undelete", db_, "1"}), 0) << err_.str();
  EXPECT_EQ(categories_of(db_), (std::vector<std::string>{u8("工资"), u8("餐饮:早餐")}));
  // Still set by hand: the rules leave it alone.
  write_bytes(path("rules.yaml"), u8("pennacle:\n  rules:\n    - type: 支出\n      targetAccount: 其他\n"));
  ASSERT_EQ(run({"categorize", db_, "--all"}), 0) << err_.str();
  EXPECT_EQ(categories_of(db_).back(), u8("餐饮:早餐"));
}

// An undelete tells the record of imported bills the new serial: importing the export again books
// nothing new and needs no second look by the bills' values (the record is not written).
TEST_F(KdbtoolTrash, AnUndeletedBillIsNotImportedAgain) {
  const std::string export_file = write_export("march.csv", alipay_2023_csv(alipay_rows()));
  ASSERT_EQ(run({"import", db_, export_file}), 0) << err_.str();
  const std::vector<std::string> imported = bills(db_);
  ASSERT_GE(imported.size(), 3u);
  delete_serial(1);
  delete_serial(2);
  ASSERT_EQ(run({"undelete", db_, "2"}), 0) << err_.str();
  ASSERT_EQ(run({"undelete", db_, "1"}), 0) << err_.str();
  expect_each_once(db_, imported);
  const std::string log = read_bytes(db_ + ".imports");
  ASSERT_EQ(run({"import", db_, export_file}), 0) << err_.str();
  EXPECT_NE(out_.str().find(counts(0, static_cast<int>(imported.size()))), std::string::npos) << out_.str();
  expect_each_once(db_, imported);
  EXPECT_EQ(read_bytes(db_ + ".imports"), log) << "every bill found under the serial the undelete gave it";
  // A bill deleted and left in the bin is imported again, as before.
  delete_serial(4);
  ASSERT_EQ(run({"import", db_, export_file}), 0) << err_.str();
  EXPECT_NE(out_.str().find(counts(1, static_cast<int>(imported.size()) - 1)), std::string::npos)
      << out_.str();
  expect_each_once(db_, imported);
}

// A damaged record of imported bills does not keep the bill from coming back; the import finds it
// by its values once the record is repaired.
TEST_F(KdbtoolTrash, AnUndeleteGoesOnPastADamagedImportRecordAndSaysSo) {
  const std::string export_file = write_export("march.csv", alipay_2023_csv(many_rows(0, 6)));
  ASSERT_EQ(run({"import", db_, export_file}), 0) << err_.str();
  ASSERT_EQ(run({"import", db_, write_export("april.csv", alipay_2023_csv(many_rows(6, 2)))}), 0);
  const std::vector<std::string> imported = bills(db_);
  delete_serial(2);
  std::string log = read_bytes(db_ + ".imports");
  log[log.find('\n') + 5] ^= 0x01;  // the first entry, below the marks of later syncs
  write_bytes(db_ + ".imports", log);
  ASSERT_EQ(run({"undelete", db_, "2"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("is back as serial 9"), std::string::npos) << out_.str();
  EXPECT_NE(err_.str().find("kdbtool: note: "), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("is damaged"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("kdbtool import --repair-log " + db_), std::string::npos) << err_.str();
  EXPECT_EQ(read_bytes(db_ + ".imports"), log) << "left as it is";
  ASSERT_EQ(run({"import", "--repair-log", db_}), 0) << err_.str();
  ASSERT_EQ(run({"import", db_, export_file}), 0) << err_.str();
  EXPECT_NE(out_.str().find(counts(0, 6)), std::string::npos) << out_.str();
  expect_each_once(db_, imported);
}

TEST_F(KdbtoolTrash, ARestoreOfASnapshotBringsItsBinBack) {
  ASSERT_EQ(run({"import", db_,
                 write_export("typed.csv", u8("支出,5,微信,2024-05-01 08:00:00,x\n"
                                              "支出,6,微信,2024-05-01 09:00:00,y\n"))}),
            0)
      << err_.str();
  delete_serial(2);
  ASSERT_EQ(run({"backup", db_}), 0) << err_.str();
  const SnapshotName snap = list_snapshots(db_, path("backups")).at(0);
  EXPECT_NE(out_.str().find("with: " + snap.side_path("trash")), std::string::npos) << out_.str();
  const std::string bin_then = read_bytes(bin());
  ASSERT_EQ(run({"undelete", db_, "2"}), 0) << err_.str();
  ASSERT_NE(read_bytes(bin()), bin_then);
  ASSERT_EQ(run({"restore", snap.path, db_}), 0) << err_.str();
  EXPECT_EQ(read_bytes(bin()), bin_then);
  ASSERT_EQ(run({"trash", db_}), 0) << err_.str();
  EXPECT_NE(out_.str().find("1 bill(s) in the recycle bin"), std::string::npos) << out_.str();
  ASSERT_EQ(run({"undelete", db_, "2"}), 0) << err_.str();
  EXPECT_EQ(bills(db_).size(), 2u);
}

TEST_F(KdbtoolTrash, ADamagedBinIsNamedAndLeftAsItIs) {
  ASSERT_EQ(run({"import", db_,
                 write_export("typed.csv", u8("支出,5,微信,2024-05-01 08:00:00,x\n"
                                              "支出,6,微信,2024-05-01 09:00:00,y\n"
                                              "支出,7,微信,2024-05-01 10:00:00,z\n"))}),
            0)
      << err_.str();
  delete_serial(1);
  delete_serial(2);
  std::string bytes = read_bytes(bin());
  bytes[bytes.find("\nD\t1\t") + 7] ^= 0x01;
  write_bytes(bin(), bytes);
  for (std::vector<std::string> args : {std::vector<std::string>{"trash", db_}, {"undelete", db_, "1"}}) {
    EXPECT_EQ(run(args), 1) << args[0];
    EXPECT_NE(err_.str().find(bin() + ": line 3 is damaged"), std::string::npos) << err_.str();
    EXPECT_EQ(read_bytes(bin()), bytes);
  }
  EXPECT_EQ(bills(db_).size(), 1u);
  // The repair keeps the sound lines: bill 2 can come back, bill 1's line is named as dropped.
  ASSERT_EQ(run({"trash", "--repair", db_}), 0) << err_.str();
  EXPECT_NE(out_.str().find("dropped 1 damaged line(s)"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("  line 3: D%091%09"), std::string::npos) << out_.str();
  EXPECT_EQ(read_bytes(bin() + ".damaged"), bytes);
  ASSERT_EQ(run({"trash", db_}), 0) << err_.str();
  EXPECT_NE(out_.str().find("1 bill(s) in the recycle bin"), std::string::npos) << out_.str();
  ASSERT_EQ(run({"undelete", db_, "2"}), 0) << err_.str();
  EXPECT_EQ(bills(db_).size(), 2u);
  ASSERT_EQ(run({"trash", "--repair", db_}), 0) << err_.str();
  EXPECT_NE(out_.str().find("is sound"), std::string::npos) << out_.str();
}

TEST_F(KdbtoolTrash, ALedgerWithoutABinHasAnEmptyOne) {
  ASSERT_EQ(run({"trash", db_}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "0 bill(s) in the recycle bin\n");
  EXPECT_FALSE(std::filesystem::exists(bin()));
  EXPECT_EQ(run({"undelete", db_, "1"}), 1);
  EXPECT_NE(err_.str().find("no bill with serial 1"), std::string::npos) << err_.str();
  EXPECT_EQ(run({"trash", db_, "more"}), 1);
  EXPECT_NE(err_.str().find("trash needs exactly one FILE"), std::string::npos) << err_.str();
  EXPECT_EQ(run({"trash", path("none.kdb")}), 1);
}

}  // namespace
}  // namespace pennacle
