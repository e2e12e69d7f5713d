#include "ledger/import/import_preview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "ledger/categories.h"
#include "ledger/import/bill_import.h"
#include "ledger/import/export_samples.h"
#include "runtime/value.h"
#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

// A bill as the ledger holds it, with its category (GBK; empty for none), for comparing a preview
// with what an import stored.
using Stored = std::tuple<double, std::string, double, std::string, std::string, std::string>;

Stored stored_of(const Bill& b, const std::string& category) {
  return {b.time, b.type, b.amount, b.channel, b.remark, category};
}

class ImportPreviewTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    db_ = ledger("data.kdb", bill_table_fields());
  }

  Result<BillImportRun> run(const std::string& bytes, bool dry, const CategoryRules* rules = nullptr,
                            size_t group_size = 1000) {
    BillImportOptions o;
    o.dry_run = dry;
    o.rules = rules;
    o.group_size = group_size;
    o.progress = [this](size_t stored, size_t total) { progress_.push_back({stored, total}); };
    bad_rows_.clear();
    return run_bill_import(db_, "export.csv", bytes, o, &bad_rows_);
  }

  // Every live bill of the ledger with its category, in record order.
  std::vector<Stored> ledger_bills() {
    std::vector<Stored> out;
    EXPECT_TRUE(open_record_file(db_, true).ok());
    CategoryFile categories;
    EXPECT_TRUE(categories.open(posix_file_system(), db_ + ".categories", false).ok());
    const int32_t count = call_command(db_record_count, {}).int_payload();
    call_command(db_go_first, {});
    for (int32_t k = 0; k < count; ++k) {
      int32_t serial = 0;
      EXPECT_EQ(db_current_serial(&serial), DbCode::Ok);
      if (serial > 0) {
        Bill b;
        EXPECT_FALSE(read_current_bill(&b).has_value());
        const CategoryEntry* e = categories.find(category_key(serial, b));
        out.push_back(stored_of(b, e ? e->name : ""));
      }
      call_command(db_skip, {});
    }
    call_command(db_close, {});
    return out;
  }

  static std::vector<Stored> preview_bills(const ImportPreview& p) {
    std::vector<Stored> out;
    for (const PreviewBill& b : p.add) out.push_back(stored_of(b.bill.bill, b.category));
    return out;
  }

  std::string db_;
  std::vector<std::string> bad_rows_;
  std::vector<std::pair<size_t, size_t>> progress_;
};

// What the dry run shows is what the import then adds, and the counts of both runs agree.
TEST_F(ImportPreviewTest, PreviewIsWhatTheImportAdds) {
  for (const std::string& bytes : {alipay_2023_csv(alipay_rows()), wechat_csv(wechat_rows())}) {
    SCOPED_TRACE(bytes.substr(0, 40));
    const std::vector<Stored> before = ledger_bills();
    Result<BillImportRun> dry = run(bytes, true);
    ASSERT_TRUE(dry.ok()) << dry.status().message();
    EXPECT_FALSE(dry->wrote);
    EXPECT_EQ(ledger_bills(), before) << "a preview writes nothing";
    ASSERT_FALSE(dry->preview.add.empty());

    Result<BillImportRun> real = run(bytes, false);
    ASSERT_TRUE(real.ok()) << real.status().message();
    ASSERT_TRUE(real->problem.ok()) << real->problem.message();
    EXPECT_EQ(real->added, dry->preview.add.size());
    EXPECT_EQ(preview_bills(real->preview), preview_bills(dry->preview));
    const ImportPreview& d = dry->preview;
    const ImportPreview& r = real->preview;
    EXPECT_EQ(std::tie(d.already, d.neutral, d.failed_or_closed, d.pending, d.orphan_refunds, d.ignored),
              std::tie(r.already, r.neutral, r.failed_or_closed, r.pending, r.orphan_refunds, r.ignored));

    std::vector<Stored> after = ledger_bills();
    std::vector<Stored> want = before;
    for (const Stored& s : preview_bills(d)) want.push_back(s);
    std::sort(after.begin(), after.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(after, want);

    // Imported, the same export adds nothing: every bill of the first preview is there.
    Result<BillImportRun> again = run(bytes, true);
    ASSERT_TRUE(again.ok()) << again.status().message();
    EXPECT_TRUE(again->preview.add.empty());
    EXPECT_EQ(again->preview.already, d.already + static_cast<int>(d.add.size()));
    EXPECT_EQ(again->preview.skipped(), d.skipped());
  }
}

// Each reason a row is skipped is counted under its own name, and the export's own category is
// what a bill gets without rules.
TEST_F(ImportPreviewTest, SkippedRowsByReason) {
  std::vector<SampleRow> rows = alipay_rows();
  rows.push_back({"2023-03-08 10:00:00", "餐饮美食", "示例餐厅", "晚餐", "支出", "20.00", "等待付款",
                  "2023030822001400001000000008", ""});
  rows.push_back({"2023-03-09 10:00:00", "餐饮美食", "示例餐厅", "夜宵", "支出", "12.00", "奇怪的状态",
                  "2023030922001400001000000009", ""});
  rows.push_back({"2023-03-10 10:00:00", "退款", "示例商店", "退款-杯子", "不计收支", "9.00", "退款成功",
                  "2023021022001400001000000010_1", "T20230210000010"});
  Result<BillImportRun> dry = run(alipay_2023_csv(rows), true);
  ASSERT_TRUE(dry.ok()) << dry.status().message();
  const ImportPreview& p = dry->preview;
  EXPECT_EQ(p.source, ExportSource::Alipay);
  EXPECT_EQ(p.neutral, 1);           // the 余额宝 transfer
  EXPECT_EQ(p.failed_or_closed, 3);  // the closed book and headphones, and the headphones' refund
  EXPECT_EQ(p.pending, 1);
  ASSERT_EQ(p.unknown_statuses.size(), 1u);
  EXPECT_EQ(p.unknown_statuses[0].text, u8("奇怪的状态"));
  EXPECT_EQ(preview_place(p, p.unknown_statuses[0].line),
            "line " + std::to_string(p.unknown_statuses[0].line));
  EXPECT_EQ(p.orphan_refunds, 1);
  EXPECT_EQ(p.ignored, 0);
  EXPECT_FALSE(p.rules);
  EXPECT_EQ(p.skipped(), 7);
  ASSERT_EQ(p.add.size(), 3u);
  EXPECT_EQ(p.add[0].category, "餐饮美食");
  EXPECT_EQ(p.add[0].bill.bill.channel, "支付宝");
}

// Rules give the preview its categories and its ignored rows, as they do the import.
TEST_F(ImportPreviewTest, RulesGiveCategoriesAndIgnoredRows) {
  const std::string rules_file = path("rules.yaml");
  write_bytes(rules_file, u8("alipay:\n  rules:\n    - category: 餐饮美食\n      targetAccount: 餐饮:午餐\n"
                             "    - peer: 示例出行\n      ignore: true\n"));
  Result<std::optional<CategoryRules>> rules = rules_beside_ledger(db_);
  ASSERT_TRUE(rules.ok()) << rules.status().message();
  ASSERT_TRUE(rules->has_value()) << "rules.yaml beside the ledger is the default";
  Result<BillImportRun> dry = run(alipay_2023_csv(alipay_rows()), true, &**rules);
  ASSERT_TRUE(dry.ok()) << dry.status().message();
  EXPECT_TRUE(dry->preview.rules);
  EXPECT_EQ(dry->preview.ignored, 1);
  ASSERT_EQ(dry->preview.add.size(), 2u);
  EXPECT_EQ(dry->preview.add[0].category, "餐饮:午餐");
  Result<BillImportRun> real = run(alipay_2023_csv(alipay_rows()), false, &**rules);
  ASSERT_TRUE(real.ok()) << real.status().message();
  std::vector<Stored> want = preview_bills(dry->preview);
  EXPECT_EQ(ledger_bills(), want);

  std::filesystem::remove(rules_file);
  rules = rules_beside_ledger(db_);
  ASSERT_TRUE(rules.ok());
  EXPECT_FALSE(rules->has_value());
  write_bytes(rules_file, u8("alipay:\n  rules:\n    - payee: x\n"));
  rules = rules_beside_ledger(db_);
  ASSERT_FALSE(rules.ok());
  EXPECT_NE(rules.status().message().find("line 3"), std::string::npos) << rules.status().message();
}

// The import tells its progress after each group it stored, up to the whole.
TEST_F(ImportPreviewTest, ProgressAfterEachGroup) {
  const std::string bytes = alipay_2023_csv(many_rows(0, 25));
  ASSERT_TRUE(run(bytes, true, nullptr, 10).ok());
  EXPECT_TRUE(progress_.empty()) << "a dry run stores nothing";
  Result<BillImportRun> real = run(bytes, false, nullptr, 10);
  ASSERT_TRUE(real.ok()) << real.status().message();
  ASSERT_EQ(progress_.size(), 3u);
  for (size_t i = 0; i < progress_.size(); ++i) {
    EXPECT_EQ(progress_[i].second, 25u);
    EXPECT_EQ(progress_[i].first, std::min<size_t>(25, 10 * (i + 1)));
  }
}

// A file with bad rows, or no export at all, fails before the ledger is touched.
TEST_F(ImportPreviewTest, BadRowsAndNoExportWriteNothing) {
  std::string bytes = alipay_2023_csv(alipay_rows());
  bytes += "2023-03-11 10:00:00,cut off\r\n";
  Result<BillImportRun> r = run(bytes, false);
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.status().message().find("1 bad row(s); nothing was written"), std::string::npos);
  ASSERT_EQ(bad_rows_.size(), 1u);
  EXPECT_EQ(bad_rows_[0].rfind("export.csv: line ", 0), 0u) << bad_rows_[0];
  EXPECT_TRUE(ledger_bills().empty());
  EXPECT_FALSE(std::filesystem::exists(db_ + ".imports"));

  r = run("a,b,c\n1,2,3\n", false);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().code(), StatusCode::NotFound);
  EXPECT_TRUE(ledger_bills().empty());
  EXPECT_TRUE(blank_export("\xEF\xBB\xBF \r\n\t"));
  EXPECT_FALSE(blank_export("\xEF\xBB\xBF x"));
}

}  // namespace
}  // namespace pennacle
