#include "tools/kdbtool_categories.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "store/backup.h"
#include "tools/kdbtool_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;
namespace fs = std::filesystem;

// A rules file as double-entry-generator's users write it (its settings included), UTF-8.
std::string deg_rules() {
  return u8(
      "defaultMinusAccount: Assets:FIXME\n"
      "defaultPlusAccount: Expenses:FIXME\n"
      "defaultCurrency: CNY\n"
      "title: 示例账本\n"
      "alipay:\n"
      "  rules:\n"
      "    - category: 餐饮美食\n"
      "      targetAccount: Expenses:Food\n"
      "    - category: 餐饮美食\n"
      "      time: 11:00-14:00\n"
      "      targetAccount: Expenses:Food:Lunch\n"
      "      methodAccount: Assets:Alipay\n"
      "    - peer: 示例出行,示例打车\n"
      "      targetAccount: 交通:打车\n"
      "    - peer: 李小\n"
      "      fullMatch: true\n"
      "      targetAccount: 人情\n"
      "wechat:\n"
      "  rules:\n"
      "    - txType: 商户消费\n"
      "      targetAccount: 购物\n"
      "    - peer: 示例超市\n"
      "      item: 商品A\n"
      "      maxPrice: 30\n"
      "      targetAccount: 餐饮:超市\n"
      "    - txType: 转账\n"
      "      type: 收入\n"
      "      targetAccount: 人情\n"
      "    - peer: 示例商城\n"
      "      ignore: true\n"
      "pennacle:\n"
      "  rules:\n"
      "    - method: 银行卡\n"
      "      item: 房租\n"
      "      targetAccount: 居住\n"
      "    - method: 现金\n"
      "      maxPrice: 20\n"
      "      targetAccount: 餐饮\n");
}

class KdbtoolCategories : public ImportTest {
 protected:
  // A ledger with bills typed in the window (imported from our CSV, without 分类), rules beside it.
  std::string typed_ledger() {
    const std::string db = make_ledger();
    write_bytes(path("rules.yaml"), deg_rules());
    write_bytes(path("typed.csv"), u8("类型,金额,付款方式,时间,备注\r\n"
                                      "支出,3000,银行卡,2024-03-01 09:00:00,三月房租\r\n"
                                      "支出,12,现金,2024-03-02 12:00:00,面条\r\n"
                                      "支出,99,现金,2024-03-03 12:00:00,鞋\r\n"));
    EXPECT_EQ(run({"import", db, path("typed.csv"), "--rules", path("none.yaml")}), 1);
    EXPECT_NE(err_.str().find("none.yaml"), std::string::npos) << err_.str();
    fs::rename(path("rules.yaml"), path("later.yaml"));
    EXPECT_EQ(run({"import", db, path("typed.csv")}), 0) << err_.str();
    fs::rename(path("later.yaml"), path("rules.yaml"));
    return db;
  }
};

TEST_F(KdbtoolCategories, ADoubleEntryGeneratorRulesFileGivesAlipayAndWeChatBillsTheirCategories) {
  const std::string db = make_ledger();
  write_bytes(path("rules.yaml"), deg_rules());
  const std::string alipay = write_export("alipay.csv", alipay_2023_csv(alipay_rows()));
  ASSERT_EQ(run({"import", db, alipay}), 0) << err_.str();
  // A later rule overrides an earlier one; no rule for 李小红 (fullMatch wants all of it): Alipay's
  // own 交易分类.
  EXPECT_EQ(categories_of(db),
            (std::vector<std::string>{u8("Expenses:Food:Lunch"), u8("转账红包"), u8("交通:打车")}));
  const std::string wechat = write_export("wechat.csv", wechat_csv(wechat_rows()));
  ASSERT_EQ(run({"import", db, wechat}), 0) << err_.str();
  // The two rows of 示例商城 (the payment and its refund) are ignored and counted.
  EXPECT_NE(out_.str().find("added 2,"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("ignored by rules 2"), std::string::npos) << out_.str();
  const std::vector<std::string> got = categories_of(db);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[3], u8("餐饮:超市"));
  EXPECT_EQ(got[4], u8("人情"));
  // The same from a workbook, into another ledger, with the rules named on the command line.
  fs::rename(path("rules.yaml"), path("deg.yaml"));
  const std::string other = make_ledger("other.kdb");
  write_bytes(path("wechat.xlsx"), wechat_xlsx(wechat_rows()));
  ASSERT_EQ(run({"import", other, path("wechat.xlsx"), "--rules", path("deg.yaml")}), 0) << err_.str();
  EXPECT_EQ(categories_of(other), (std::vector<std::string>{u8("餐饮:超市"), u8("人情")}));
}

TEST_F(KdbtoolCategories, ARulesFileWithAMistakeStopsTheImportBeforeAnythingIsWritten) {
  const std::string db = make_ledger();
  write_bytes(path("rules.yaml"), u8("alipay:\n  rules:\n    - peer: 示例\n      payee: x\n"));
  const std::string alipay = write_export("alipay.csv", alipay_2023_csv(alipay_rows()));
  EXPECT_EQ(run({"import", db, alipay}), 1);
  EXPECT_NE(err_.str().find("rules.yaml: line 4, column 7: unknown key 'payee'"), std::string::npos)
      << err_.str();
  EXPECT_TRUE(bills(db).empty());
  write_bytes(path("rules.yaml"), u8("alipay:\n  rules:\n    - time: 25:00-26:00\n"));
  EXPECT_EQ(run({"categorize", db}), 1);
  EXPECT_NE(err_.str().find("line 3, column 13"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(db + ".categories"));
}

TEST_F(KdbtoolCategories, CategorizeFillsTheGapsAllRedoesThemAndAHandSetCategoryStays) {
  const std::string db = typed_ledger();
  EXPECT_EQ(categories_of(db), (std::vector<std::string>(3, u8("未分类"))));
  const std::string before = fs::exists(db + ".categories") ? read_bytes(db + ".categories") : "";
  ASSERT_EQ(run({"categorize", db, "--dry-run"}), 0) << err_.str();
  EXPECT_NE(out_.str().find(u8("居住  <- 未分类  三月房租")), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("would categorize 2 bill(s)"), std::string::npos) << out_.str();
  EXPECT_EQ(fs::exists(db + ".categories") ? read_bytes(db + ".categories") : "", before)
      << "a dry run writes nothing";
  ASSERT_EQ(run({"categorize", db}), 0) << err_.str();
  EXPECT_EQ(categories_of(db), (std::vector<std::string>{u8("居住"), u8("餐饮"), u8("未分类")}));
  // By hand: the rules never touch it again, with --all neither.
  ASSERT_EQ(run({"category", db, "2", u8("餐饮:午餐")}), 0) << err_.str();
  ASSERT_EQ(run({"category", db, "3", u8("购物")}), 0) << err_.str();
  write_bytes(path("rules.yaml"),
              u8("pennacle:\n  rules:\n    - method: 现金,银行卡\n      targetAccount: 其他\n"));
  ASSERT_EQ(run({"categorize", db}), 0) << err_.str();
  EXPECT_EQ(categories_of(db), (std::vector<std::string>{u8("居住"), u8("餐饮:午餐"), u8("购物")}))
      << "only gaps";
  ASSERT_EQ(run({"categorize", db, "--all"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("set by hand, left alone 2"), std::string::npos) << out_.str();
  EXPECT_EQ(categories_of(db), (std::vector<std::string>{u8("其他"), u8("餐饮:午餐"), u8("购物")}));
  // What the commands refuse.
  EXPECT_EQ(run({"category", db, "9", u8("购物")}), 1);
  EXPECT_NE(err_.str().find("no live bill has the serial 9"), std::string::npos) << err_.str();
  EXPECT_EQ(run({"category", db, "x", u8("购物")}), 1);
  EXPECT_EQ(run({"category", db, "1", u8("购物::鞋")}), 1);
  fs::remove(path("rules.yaml"));
  EXPECT_EQ(run({"categorize", db}), 1);
  EXPECT_NE(err_.str().find("no rules"), std::string::npos) << err_.str();
}

TEST_F(KdbtoolCategories, CategoriesListsCountsAndSumsPerSide) {
  const std::string db = typed_ledger();
  ASSERT_EQ(run({"categorize", db}), 0) << err_.str();
  write_bytes(path("more.csv"),
              u8("类型,金额,付款方式,时间,备注,分类\r\n收入,500,银行卡,2024-03-05 09:00:00,红包,人情\r\n"));
  ASSERT_EQ(run({"import", db, path("more.csv")}), 0) << err_.str();
  ASSERT_EQ(run({"categories", db}), 0) << err_.str();
  // Each line: a category, then count and sum of 支出, count and sum of 收入.
  std::map<std::string, std::vector<std::string>> rows;
  std::istringstream lines(out_.str());
  for (std::string line; std::getline(lines, line);) {
    std::istringstream cells(line);
    std::string name, cell;
    cells >> name;
    while (cells >> cell) rows[name].push_back(cell);
  }
  using Cells = std::vector<std::string>;
  EXPECT_EQ(rows[u8("分类")], (Cells{u8("支出笔数"), u8("支出合计"), u8("收入笔数"), u8("收入合计")}));
  EXPECT_EQ(rows[u8("餐饮")], (Cells{"1", "12", "0", "0"}));
  EXPECT_EQ(rows[u8("居住")], (Cells{"1", "3000", "0", "0"}));
  EXPECT_EQ(rows[u8("人情")], (Cells{"0", "0", "1", "500"}));
  EXPECT_EQ(rows[u8("交通")], (Cells{"0", "0", "0", "0"})) << "a known category without bills is listed";
  EXPECT_EQ(rows[u8("未分类")], (Cells{"1", "99", "0", "0"}));
  EXPECT_EQ(rows.size(), starting_categories().size() + 2);
}

// What export writes, our CSV import reads back: the categories come with their bills, set by hand.
TEST_F(KdbtoolCategories, ExportAndImportCarryTheCategoryColumn) {
  const std::string db = typed_ledger();
  ASSERT_EQ(run({"categorize", db}), 0) << err_.str();
  ASSERT_EQ(run({"export", db}), 0) << err_.str();
  write_bytes(path("out.csv"), out_.str());
  const std::string copy = make_ledger("copy.kdb");
  ASSERT_EQ(run({"import", copy, path("out.csv"), "--rules", path("rules.yaml")}), 0) << err_.str();
  EXPECT_EQ(categories_of(copy), categories_of(db));
  EXPECT_EQ(bills(copy), bills(db));
  ASSERT_EQ(run({"categorize", copy, "--all"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("set by hand, left alone 2"), std::string::npos) << out_.str();
  write_bytes(path("bad.csv"), u8("类型,金额,付款方式,分类\r\n支出,1,现金,:x\r\n"));
  EXPECT_EQ(run({"import", copy, path("bad.csv")}), 1);
  EXPECT_NE(err_.str().find(u8("line 2: 分类 ':x'")), std::string::npos) << err_.str();
}

// A re-import keeps what a person set, a restore brings the snapshot's categories back, and the entry
// of a bill that is gone is dropped at the next write.
TEST_F(KdbtoolCategories, ACategorySurvivesReimportAndRestoreAndGoesWithItsBill) {
  const std::string db = make_ledger(), file = db + ".categories";
  const std::string alipay = write_export("alipay.csv", alipay_2023_csv(alipay_rows()));
  ASSERT_EQ(run({"import", db, alipay}), 0) << err_.str();
  ASSERT_EQ(run({"category", db, "1", u8("餐饮:午餐")}), 0) << err_.str();
  write_bytes(path("rules.yaml"), deg_rules());
  ASSERT_EQ(run({"import", db, alipay}), 0) << err_.str();
  EXPECT_NE(out_.str().find("added 0"), std::string::npos);
  EXPECT_EQ(categories_of(db), (std::vector<std::string>{u8("餐饮:午餐"), u8("转账红包"), u8("交通出行")}));

  ASSERT_EQ(run({"backup", db}), 0) << err_.str();
  const SnapshotName snap = list_snapshots(db, path("backups")).at(0);
  EXPECT_EQ(read_bytes(snap.side_path("categories")), read_bytes(file));
  ASSERT_EQ(run({"category", db, "1", u8("购物")}), 0) << err_.str();
  ASSERT_EQ(run({"restore", snap.path, db}), 0) << err_.str();
  EXPECT_EQ(categories_of(db)[0], u8("餐饮:午餐"));

  // Bill 1 goes: its entry is dropped by the next change of the categories.
  ASSERT_TRUE(open_db(db));
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(1)}));
  ASSERT_TRUE(ok(db_delete));
  close_db();
  ASSERT_EQ(run({"category", db, "2", u8("人情")}), 0) << err_.str();
  CategoryFile f;
  ASSERT_TRUE(f.open(posix_file_system(), file, false).ok());
  EXPECT_EQ(f.entries().count(1), 0u);
  EXPECT_EQ(f.entries().size(), 2u);
  EXPECT_EQ(categories_of(db), (std::vector<std::string>{u8("人情"), u8("交通出行")}));
}

}  // namespace
}  // namespace pennacle
