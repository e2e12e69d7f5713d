#include "tools/kdbtool_ledger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tools/kdbtool_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;
namespace fs = std::filesystem;

// kdbtool with PENNACLE_HOME pointing into the test's directory, so a command given no FILE works
// on `home_/data.kdb`.
class KdbtoolDefaultLedger : public KdbtoolTest {
 protected:
  void SetUp() override {
    KdbtoolTest::SetUp();
    if (const char* v = std::getenv("PENNACLE_HOME")) saved_ = v;
    home_ = path("home/books");
    ::setenv("PENNACLE_HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("PENNACLE_HOME", saved_->c_str(), 1);
    } else {
      ::unsetenv("PENNACLE_HOME");
    }
    KdbtoolTest::TearDown();
  }
  std::vector<std::string> filled(const std::string& command, std::vector<std::string> args) {
    Result<DefaultLedger> r = with_default_ledger(command, std::move(args));
    EXPECT_TRUE(r.ok()) << r.status().message();
    return r.ok() ? r->args : std::vector<std::string>{};
  }
  std::string ledger() const { return home_ + "/data.kdb"; }

  std::optional<std::string> saved_;
  std::string home_;
};

using Args = std::vector<std::string>;

TEST_F(KdbtoolDefaultLedger, TheLedgerGoesWhereTheCommandTakesItsFile) {
  EXPECT_EQ(filled("create", {}), (Args{ledger()}));
  EXPECT_EQ(filled("create", {"--field", "n:int"}), (Args{ledger(), "--field", "n:int"}));
  EXPECT_EQ(filled("check", {}), (Args{ledger()}));
  EXPECT_EQ(filled("export", {"--all"}), (Args{ledger(), "--all"}));
  EXPECT_EQ(filled("backup", {}), (Args{ledger()}));
  EXPECT_EQ(filled("backups", {}), (Args{ledger()}));
  EXPECT_EQ(filled("import", {"e.csv"}), (Args{ledger(), "e.csv"}));
  EXPECT_EQ(filled("import", {"--from", "alipay", "-"}), (Args{ledger(), "--from", "alipay", "-"}));
  EXPECT_EQ(filled("import", {"--repair-log"}), (Args{ledger(), "--repair-log"}));
  EXPECT_EQ(filled("restore", {"s.kdb"}), (Args{"s.kdb", ledger()}));
  EXPECT_EQ(filled("trash", {"--repair"}), (Args{ledger(), "--repair"}));
  EXPECT_EQ(filled("export", {"--format", "beancount", "--from", "2026-01-01"}),
            (Args{ledger(), "--format", "beancount", "--from", "2026-01-01"}));
  EXPECT_EQ(filled("report", {"--year", "2025", "--by", "category", "--html", "r.html"}),
            (Args{ledger(), "--year", "2025", "--by", "category", "--html", "r.html"}));
  EXPECT_EQ(filled("undelete", {"12"}), (Args{ledger(), "12"}));
  EXPECT_EQ(filled("edit", {"12", "--amount", "5", "--remark", "r"}),
            (Args{ledger(), "12", "--amount", "5", "--remark", "r"}));
  EXPECT_EQ(filled("category", {"12", "x"}), (Args{ledger(), "12", "x"}));
  EXPECT_EQ(filled("categorize", {"--rules", "r.yaml", "--all"}),
            (Args{ledger(), "--rules", "r.yaml", "--all"}));
  EXPECT_EQ(filled("categories", {}), (Args{ledger()}));
}

TEST_F(KdbtoolDefaultLedger, ANamedFileHelpAndOtherCommandsPassUnchanged) {
  EXPECT_EQ(filled("check", {"a.kdb"}), (Args{"a.kdb"}));
  EXPECT_EQ(filled("backup", {"a.kdb", "dir"}), (Args{"a.kdb", "dir"}));
  EXPECT_EQ(filled("import", {"a.kdb", "e.csv", "--dry-run"}), (Args{"a.kdb", "e.csv", "--dry-run"}));
  EXPECT_EQ(filled("import", {"--repair-log", "a.kdb"}), (Args{"--repair-log", "a.kdb"}));
  EXPECT_EQ(filled("restore", {"s.kdb", "a.kdb"}), (Args{"s.kdb", "a.kdb"}));
  EXPECT_EQ(filled("undelete", {"a.kdb", "12"}), (Args{"a.kdb", "12"}));
  EXPECT_EQ(filled("edit", {"a.kdb", "12", "--time", "2026-01-01 00:00:00"}),
            (Args{"a.kdb", "12", "--time", "2026-01-01 00:00:00"}));
  EXPECT_EQ(filled("category", {"a.kdb", "12", "x"}), (Args{"a.kdb", "12", "x"}));
  // A FILE without its SERIAL stays so: the command says what is missing.
  EXPECT_EQ(filled("edit", {"a.kdb", "--amount", "5"}), (Args{"a.kdb", "--amount", "5"}));
  EXPECT_EQ(filled("undelete", {"a.kdb"}), (Args{"a.kdb"}));
  EXPECT_EQ(filled("category", {"a.kdb", "12"}), (Args{"a.kdb", "12"}));
  EXPECT_EQ(filled("undelete", {"a.kdb", "-2"}), (Args{"a.kdb", "-2"})) << "a bad number is no option";
  EXPECT_EQ(filled("check", {"--help"}), (Args{"--help"}));
  EXPECT_EQ(filled("frobnicate", {}), (Args{}));
  // Too many names stay too many: the command itself says so.
  EXPECT_EQ(filled("restore", {}), (Args{}));
}

TEST_F(KdbtoolDefaultLedger, EveryCommandWorksOnTheDefaultLedger) {
  // create makes the missing directory too.
  ASSERT_EQ(run({"create"}), 0) << err_.str();
  ASSERT_TRUE(fs::is_regular_file(ledger()));
  const std::string csv = path("bills.csv");
  write_bytes(csv, u8("类型,金额,付款方式,时间,备注\n支出,12.5,微信,2024-03-01 12:00:00,午饭\n"));
  ASSERT_EQ(run({"import", csv}), 0) << err_.str();
  ASSERT_EQ(run({"export"}), 0) << err_.str();
  EXPECT_NE(out_.str().find(u8("午饭")), std::string::npos) << out_.str();
  ASSERT_EQ(run({"check"}), 0) << err_.str();
  ASSERT_EQ(run({"backup"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("snapshot: " + home_ + "/backups/data-"), std::string::npos) << out_.str();
  const std::string snapshot = out_.str().substr(10, out_.str().find('\n') - 10);
  ASSERT_EQ(run({"backups"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("1 bill(s)"), std::string::npos) << out_.str();

  // A second bill, then the snapshot back: one bill again.
  ASSERT_EQ(run({"import", csv}), 0) << err_.str();
  write_bytes(csv, u8("类型,金额,付款方式,时间,备注\n收入,3,微信,2024-03-02 12:00:00,红包\n"));
  ASSERT_EQ(run({"import", csv}), 0) << err_.str();
  ASSERT_EQ(run({"restore", snapshot}), 0) << err_.str();
  ASSERT_EQ(run({"export"}), 0) << err_.str();
  EXPECT_EQ(out_.str().find(u8("红包")), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find(u8("午饭")), std::string::npos) << out_.str();
}

TEST_F(KdbtoolDefaultLedger, ALedgerPlaceThatCannotBeToldIsSaidOnlyWhenNeeded) {
  ::setenv("PENNACLE_HOME", "books", 1);
  EXPECT_EQ(run({"check"}), 1);
  EXPECT_EQ(err_.str(),
            "kdbtool: no FILE given and no default ledger: PENNACLE_HOME must be an absolute path, not "
            "'books'\n");
  // A command given its FILE never asks where the default ledger is.
  const std::string db = path("named.kdb");
  EXPECT_EQ(run({"create", db}), 0) << err_.str();
  EXPECT_EQ(run({"check", db}), 0) << err_.str();
}

}  // namespace
}  // namespace pennacle
