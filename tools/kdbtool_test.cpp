#include "tools/kdbtool.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/gbk.h"
#include "store/check.h"
#include "store/test_support.h"
#include "testing/fault_file.h"
#include "tools/kdbtool_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

using Kdbtool = KdbtoolTest;

TEST_F(Kdbtool, CreateImportExportRoundTripsTheBillsExactly) {
  const std::string db = path("data.kdb"), csv = path("bills.csv");
  ASSERT_EQ(run({"create", db}), 0) << err_.str();
  const std::string bills = u8("类型,金额,付款方式,时间,备注\r\n"
                               "支出,12.50,微信,2024-03-01 08:30:00,\"午饭, 面条\"\r\n"
                               "收入,1000.00,银行卡,2024-03-02 23:59:59,\"工资 \"\"三月\"\"\r\n第二行\"\r\n"
                               "支出,0.30,QQ钱包,1999-12-31 00:00:00,\r\n"
                               "支出,123456.78,现金,2024-02-29 12:00:00,") +
                            std::string(600, 'x') + "\r\n";
  write_bytes(csv, bills);
  ASSERT_EQ(run({"import", db, csv}), 0) << err_.str();
  ASSERT_EQ(run({"export", db}), 0) << err_.str();
  std::string expected;
  std::istringstream lines(bills);
  std::string line;
  int n = 0;
  // The export adds the running number in front and the category last (none here); everything else
  // comes back as it went in.
  for (const CsvRecord& r : csv_records(bills)) {
    std::string row = n == 0 ? u8("序号") : std::to_string(n);
    for (const std::string& c : r.cells) row += "," + csv_cell(c);
    expected += row + (n == 0 ? u8(",分类") : u8(",未分类")) + "\r\n";
    ++n;
  }
  EXPECT_EQ(out_.str(), expected);
  // The program's numbering: the count before each append, plus 1.
  ASSERT_TRUE(open_db(db));
  track(db);
  call_command(db_go_to, {Value::of_int(4)});
  EXPECT_EQ(read_double("序号"), 4);
  EXPECT_EQ(read_text("类型"), "支出");
}

TEST_F(Kdbtool, ABadRowWritesNothingAndNamesItsLine) {
  const std::string db = path("data.kdb"), csv = path("bad.csv");
  ASSERT_EQ(run({"create", db}), 0);
  const std::string before = read_bytes(db);
  write_bytes(csv, u8("支出,5,微信,2024-01-01\n支出,0.0000001,微信\n收入,abc,微信\n,5,微信\n支出,5,\n"
                      "支出,5,微信,2023-02-29\n支出,5,") +
                       std::string(65, 'c') + "\n" + u8("支出,-5,微信\n支出,1e999,微信\n"));
  EXPECT_EQ(run({"import", db, csv}), 1);
  const std::string e = err_.str();
  for (int line = 2; line <= 9; ++line)
    EXPECT_NE(e.find("line " + std::to_string(line) + ":"), std::string::npos) << line;
  EXPECT_EQ(e.find("line 1:"), std::string::npos);
  EXPECT_EQ(read_bytes(db), before);
  // A number that only starts the text is converted as the program converts it.
  write_bytes(csv, u8("支出,1-2,微信\n"));
  EXPECT_EQ(run({"import", db, csv}), 0) << err_.str();
  ASSERT_EQ(run({"export", db}), 0);
  EXPECT_NE(out_.str().find(u8(",支出,1.00,微信,")), std::string::npos);
}

TEST_F(Kdbtool, AnImportCutByAPowerLossKeepsWholeGroupsOnly) {
  const std::string db = path("data.kdb"), csv = path("many.csv");
  ASSERT_EQ(run({"create", db}), 0);
  const std::string start = read_bytes(db), start_aux = read_bytes(path("data.KDT"));
  // 1,200 bills, every 50th with a remark: two groups.
  std::string rows;
  for (int i = 1; i <= 1200; ++i) {
    rows += u8("支出,") + std::to_string(i) + u8(",微信,2024-01-01,") +
            (i % 50 ? "" : "note " + std::to_string(i));
    rows += "\n";
  }
  write_bytes(csv, rows);
  for (int k = 0;; ++k) {
    write_bytes(db, start);
    write_bytes(path("data.KDT"), start_aux);
    FaultFileSystem faults(posix_file_system());
    set_store_file_system(&faults);
    faults.crash_after_writes(k);
    const int status = run({"import", db, csv});
    set_store_file_system(nullptr);
    for (CutKeeps keeps : {CutKeeps::Nothing, CutKeeps::Everything, CutKeeps::RandomSectors}) {
      SCOPED_TRACE("cut at write " + std::to_string(k));
      faults.apply_power_cut(keeps, static_cast<uint32_t>(k));
      ASSERT_TRUE(open_db(db));
      const int32_t n = record_count();
      EXPECT_TRUE(n == 0 || n == 1000 || n == 1200) << n;
      if (status == 0) {
        EXPECT_EQ(n, 1200);
      }
      // Every bill there is whole: the amounts count up from 1, the remarks where they belong.
      for (int32_t i = 1; i <= n; i += 49) {
        ASSERT_TRUE(ok(db_go_to, {Value::of_int(i)}));
        EXPECT_EQ(read_double("金额"), i);
        EXPECT_EQ(read_text("备注"), i % 50 ? "" : "note " + std::to_string(i));
      }
      close_db();
      EXPECT_TRUE(check_database(db).sound);
    }
    if (!faults.crashed()) break;
  }
  EXPECT_EQ(run({"import", "--help"}), 0);
  EXPECT_NE(out_.str().find("loses the group being written"), std::string::npos);
}

TEST_F(Kdbtool, CreateRefusesToOverwriteAndMakesCustomTables) {
  const std::string db = path("t.kdb");
  ASSERT_EQ(run({"create", db, "--field", u8("名称:text:8"), "--field", "n:int", "--field", "b:byteset"}), 0)
      << err_.str();
  EXPECT_TRUE(std::filesystem::exists(path("t.KDT")));
  const std::string before = read_bytes(db);
  EXPECT_EQ(run({"create", db}), 1);
  EXPECT_NE(err_.str().find(u8("创建数据库失败")), std::string::npos);
  EXPECT_EQ(read_bytes(db), before);
  EXPECT_EQ(run({"create", path("u.kdb"), "--field", "n:nosuch"}), 1);
  EXPECT_EQ(run({"create", path("u.kdb"), "--field", "1n:int"}), 1);
  EXPECT_NE(err_.str().find(u8("无效的字段名称")), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(path("u.kdb")));
  ASSERT_TRUE(open_db(db));
  track(db);
  DatabaseInfo info;
  ASSERT_TRUE(db_current_info(&info));
  ASSERT_EQ(info.fields.size(), 3u);
  EXPECT_EQ(info.fields[0].name, "名称");
  EXPECT_EQ(info.fields[0].width, 8);
  EXPECT_EQ(info.fields[2].type, FieldType::ByteSet);
}

TEST_F(Kdbtool, ExportAllMarksDeletedRecords) {
  const std::string db = ledger();
  ASSERT_TRUE(open_db(db));
  ASSERT_TRUE(append_bill(1, "支出", 2, "微信", 45000.5, ""));
  ASSERT_TRUE(append_bill(2, "收入", 3, "微信", 45000, ""));
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(1)}));
  ASSERT_TRUE(ok(db_delete));
  close_db();
  ASSERT_EQ(run({"export", db}), 0);
  EXPECT_EQ(out_.str(),
            u8("序号,类型,金额,付款方式,时间,备注,分类\r\n2,收入,3.00,微信,2023-03-15 00:00:00,,未分类\r\n"));
  ASSERT_EQ(run({"export", db, "--all"}), 0);
  EXPECT_EQ(out_.str(), u8("序号,类型,金额,付款方式,时间,备注,分类,deleted\r\n1,支出,2.00,微信,2023-03-15 "
                           "12:00:00,,未分类,1\r\n"
                           "2,收入,3.00,微信,2023-03-15 00:00:00,,未分类,0\r\n"));
  EXPECT_EQ(run({"export", path("missing.kdb")}), 1);
  EXPECT_NE(err_.str().find(u8("指定文件未找到")), std::string::npos);
}

TEST_F(Kdbtool, CheckFindsDamageWithoutChangingTheFile) {
  const std::string db = ledger();
  ASSERT_TRUE(open_db(db));
  ASSERT_TRUE(append_bill(1, "支出", 2, "微信", 45000, "one"));
  ASSERT_TRUE(append_bill(2, "支出", 2, "微信", 45000, std::string(700, 'y')));
  close_db();
  ASSERT_EQ(run({"check", db}), 0) << out_.str();
  EXPECT_NE(out_.str().find("sound"), std::string::npos);
  // Point the second record's memo at the first record's block: two records share it.
  std::string s = read_bytes(db);
  const size_t second = 116 + 72 * 6 + 112;
  put32(s, second + 108, 1);
  write_bytes(db, s);
  EXPECT_EQ(run({"check", db}), 1);
  EXPECT_NE(out_.str().find("also belongs to record 1"), std::string::npos) << out_.str();
  EXPECT_EQ(read_bytes(db), s);
  // A loop in a chain.
  put32(s, second + 108, 2);
  write_bytes(db, s);
  std::string aux = read_bytes(path("data.KDT"));
  put32(aux, 3 * 512 + 4, 2);
  write_bytes(path("data.KDT"), aux);
  EXPECT_EQ(run({"check", db}), 1);
  EXPECT_NE(out_.str().find("loops"), std::string::npos) << out_.str();
  EXPECT_EQ(run({"check", path("missing.kdb")}), 1);
}

TEST_F(Kdbtool, HelpAndUsage) {
  for (const char* cmd : {"create", "check", "export", "import"}) {
    EXPECT_EQ(run({cmd, "--help"}), 0);
    EXPECT_NE(out_.str().find(std::string("kdbtool ") + cmd), std::string::npos);
  }
  EXPECT_EQ(run({}), 1);
  EXPECT_EQ(run({"frobnicate"}), 1);
  EXPECT_EQ(run({"--help"}), 0);
}

TEST(DateTimeText, ParsesWholeCalendarMomentsOnly) {
  double d = 0;
  ASSERT_TRUE(parse_date_time("2020-08-11 09:05:03", &d));
  EXPECT_EQ(format_date_time(d), "2020-08-11 09:05:03");
  ASSERT_TRUE(parse_date_time("1899-12-30", &d));
  EXPECT_EQ(d, 0);
  ASSERT_TRUE(parse_date_time("2024-02-29 12:30", &d));
  EXPECT_EQ(format_date_time(d), "2024-02-29 12:30:00");
  for (const char* bad : {"2023-02-29", "2024-00-10", "2024-01-32", "2024-01-01 24:00:00", "2024-1-1",
                          "2024-01-01 10:00:0", "0099-01-01", "2024-01-01x", ""}) {
    EXPECT_FALSE(parse_date_time(bad, &d)) << bad;
  }
}

}  // namespace
}  // namespace pennacle
