#include <gtest/gtest.h>

#include "ledger/amount_text.h"
#include "ledger/journal_writer.h"
#include "ledger/report.h"
#include "runtime/convert.h"
#include "tools/journal_checkers_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

using JournalExport = JournalLedgerTest;

constexpr JournalFormat kFormats[] = {JournalFormat::Beancount, JournalFormat::Hledger,
                                      JournalFormat::Ledger};
const char* format_name(JournalFormat f) {
  return f == JournalFormat::Beancount ? "beancount" : f == JournalFormat::Hledger ? "hledger" : "ledger";
}

// What kdbtool export writes, each format checked by its own program, and every account's balance
// as the checker prints it equal to the ledger's to the cent.
TEST_F(JournalExport, EveryCheckerAcceptsTheExportAndAgreesOnEachBalance) {
  for (JournalFormat f : kFormats) PN_SKIP_WITHOUT(checker_program(f));
  const std::string db = make_journal_ledger();
  const std::vector<JournalBill> bills = read_bills(db);
  ASSERT_EQ(bills.size(), 3u + 4u + 4u);
  for (JournalFormat f : kFormats) {
    SCOPED_TRACE(format_name(f));
    ASSERT_EQ(run({"export", db, "--format", format_name(f)}), 0) << err_.str();
    EXPECT_EQ(err_.str(), "");
    const std::string file = path(std::string("out.") + format_name(f));
    write_bytes(file, out_.str());
    expect_same_to_the_cent(checked_balances(f, file), expected_balances(bills, f));
    // The remark comes back whole, its line breaks as \n (and its quotes escaped in beancount's string).
    const std::string remark = f == JournalFormat::Beancount
                                   ? "remark: \"say \\\"hi\\\" \\\\ a;b|c\\nnext\\nlast\"\n"
                                   : "; note: say \"hi\" \\\\ a;b|c\\nnext\\nlast\n";
    EXPECT_NE(out_.str().find(remark), std::string::npos) << out_.str();
  }
}

// The same ledger with categories: Chinese ones, one with a space, one with ":" and brackets. The
// checkers' balance of each category's account is the report's sum for that category.
TEST_F(JournalExport, CategoriesPostToTheirAccountsAndMatchTheReport) {
  for (JournalFormat f : kFormats) PN_SKIP_WITHOUT(checker_program(f));
  const std::string db = make_journal_ledger();
  const std::vector<JournalBill> bills = read_bills(db, {}, sample_categories());
  const Report by_category = build_report(bills, ReportBy::Category);
  ASSERT_EQ(by_category.rows.size(), 4u);  // 餐饮, 转账 红包, 节日:年夜 (家), 未分类
  for (JournalFormat f : kFormats) {
    SCOPED_TRACE(format_name(f));
    const Result<Journal> j = write_journal(bills, f, AccountMap::defaults());
    ASSERT_TRUE(j.ok()) << j.status().message();
    const std::string file = path(std::string("cat.") + format_name(f));
    write_bytes(file, j->text);
    const Balances got = checked_balances(f, file);
    expect_same_to_the_cent(got, expected_balances(bills, f));
    for (const ReportRow& row : by_category.rows) {
      for (bool expense : {true, false}) {
        std::string account = category_account(AccountMap::defaults(), row.key, expense);
        if (f == JournalFormat::Beancount) account = *beancount_account(account);
        const double sum = got.count(account) ? got.at(account) : 0;
        EXPECT_EQ(cents(expense ? sum : -sum), cents(expense ? row.expense : row.income)) << account;
      }
    }
  }
}

// The rules file's accounts section names the accounts: a channel's and a category's (the ledger's
// own categories, from the export's 交易分类), over the defaults; a malformed section refuses.
TEST_F(JournalExport, TheRulesFileNamesAccounts) {
  const std::string db = make_journal_ledger();
  write_bytes(path("rules.yaml"), u8("accounts:\n"
                                     "  channels:\n    支付宝: Assets:Alipay:Main\n"
                                     "  categories:\n    餐饮美食: Expenses:Food\n"));
  ASSERT_EQ(run({"export", db, "--format", "beancount"}), 0) << err_.str();
  const std::string journal = out_.str();
  EXPECT_NE(journal.find("open Assets:Alipay:Main"), std::string::npos) << journal;
  EXPECT_NE(journal.find("open Expenses:Food"), std::string::npos) << journal;
  EXPECT_EQ(journal.find("open Assets:Alipay "), std::string::npos) << journal;
  write_bytes(path("bad.yaml"), u8("accounts:\n  places:\n    x: Assets:X\n"));
  EXPECT_EQ(run({"export", db, "--format", "ledger", "--rules", path("bad.yaml")}), 1);
  EXPECT_NE(err_.str().find("line 2"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("unknown key 'places'"), std::string::npos) << err_.str();
}

// --from and --to keep the bills of those days, both included, in every format.
TEST_F(JournalExport, ADateRangeLimitsWhatIsWritten) {
  const std::string db = make_journal_ledger();
  ASSERT_EQ(run({"export", db, "--from", "2023-03-07", "--to", "2023-03-08"}), 0) << err_.str();
  const std::vector<CsvRecord> rows = csv_records(out_.str());
  ASSERT_EQ(rows.size(), 3u);  // the header, the ride of 03-07 and our bill of 03-08
  EXPECT_EQ(rows[1].cells[4], "2023-03-07 19:05:09");
  EXPECT_EQ(rows[2].cells[4], "2023-03-08 10:00:00");
  ASSERT_EQ(run({"export", db, "--format", "hledger", "--to", "2022-12-31"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("2022-12-31 *"), std::string::npos);
  EXPECT_EQ(out_.str().find("2023-"), std::string::npos);
  ASSERT_EQ(run({"export", db, "--format", "beancount", "--from", "2024-01-01"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "option \"operating_currency\" \"CNY\"\n\n\n");
  // What cannot be a range is refused with what is wrong.
  EXPECT_EQ(run({"export", db, "--from", "2023-3-1"}), 1);
  EXPECT_EQ(err_.str(), "kdbtool: --from takes a date YYYY-MM-DD\n");
  EXPECT_EQ(run({"export", db, "--from", "2023-03-02", "--to", "2023-03-01"}), 1);
  EXPECT_EQ(err_.str(), "kdbtool: --from comes after --to: no day is left\n");
  EXPECT_EQ(run({"export", db, "--format", "gnucash"}), 1);
  EXPECT_NE(err_.str().find("csv, beancount, hledger or ledger"), std::string::npos);
  EXPECT_EQ(run({"export", db, "--format", "ledger", "--all"}), 1);
  EXPECT_EQ(err_.str(), "kdbtool: --all goes with --format csv only\n");
}

// A record file that is not a ledger has no bills to journal, and no 时间 to take a range by.
TEST_F(JournalExport, ATableThatIsNoLedgerIsRefusedByName) {
  const std::string other = path("other.kdb");
  ASSERT_EQ(run({"create", other, "--field", "a:double"}), 0) << err_.str();
  EXPECT_EQ(run({"export", other, "--format", "beancount"}), 1);
  EXPECT_NE(err_.str().find("other.kdb: not a ledger table"), std::string::npos) << err_.str();
  EXPECT_EQ(run({"export", other, "--from", "2023-01-01"}), 1);
  EXPECT_NE(err_.str().find("--from and --to need a ledger's table"), std::string::npos) << err_.str();
  EXPECT_EQ(run({"export", other}), 0) << err_.str();
}

// Our CSV export, imported into a new ledger, gives the same bills to the last bit of each amount.
TEST_F(JournalExport, TheCsvExportReadsBackAsTheSameBillsExactly) {
  const std::string db = make_journal_ledger();
  const std::string odd = u8("类型,金额,付款方式,时间,备注\n") + "x," + shortest_number_text(0.1 + 0.2) +
                          ",y,2023-05-01 00:00:00,\n" + "x,0.00000011,y,2023-05-01 00:00:01,\n" + "x," +
                          shortest_number_text(123456.789012345) + ",y,2023-05-01 00:00:02,\n";
  ASSERT_EQ(run({"import", db, write_export("odd.csv", odd)}), 0) << err_.str();
  ASSERT_EQ(run({"export", db}), 0) << err_.str();
  const std::string exported = out_.str(), copy = make_ledger("copy.kdb");
  ASSERT_EQ(run({"import", copy, write_export("back.csv", exported)}), 0) << err_.str();
  EXPECT_NE(exported.find(",999999999999.99,"), std::string::npos);
  EXPECT_NE(exported.find(",0.30000000000000004,"), std::string::npos);
  const std::vector<JournalBill> a = read_bills(db), b = read_bills(copy);
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].bill.type, b[i].bill.type);
    EXPECT_EQ(std::bit_cast<uint64_t>(a[i].bill.amount), std::bit_cast<uint64_t>(b[i].bill.amount)) << i;
    EXPECT_EQ(a[i].bill.channel, b[i].bill.channel);
    EXPECT_EQ(a[i].bill.time, b[i].bill.time);
    EXPECT_EQ(a[i].bill.remark, b[i].bill.remark);
  }
}

// The packed read gives what the bill-by-bill read and the category file give: the same bills of
// the range in record order, each with its category (one edited since keeps it).
TEST_F(JournalExport, PackedBillsAreTheBillsWithTheirCategories) {
  const std::string db = make_journal_ledger();
  ASSERT_EQ(run({"category", db, "2", u8("餐饮:午餐")}), 0) << err_.str();
  ASSERT_EQ(run({"category", db, "5", u8("交通")}), 0) << err_.str();
  ASSERT_EQ(run({"category", db, "9", u8("红包")}), 0) << err_.str();
  ASSERT_EQ(run({"edit", db, "9", "--amount", "1.25"}), 0) << err_.str();
  for (const DateRange& range :
       {DateRange{}, DateRange{make_date_time(2023, 3, 1), make_date_time(2023, 4, 2)}}) {
    const std::vector<JournalBill> bills = read_bills(db, range);
    ASSERT_TRUE(open_record_file(db, true).ok());
    const Result<JournalRows> rows = read_journal_rows(range);
    close_db();
    ASSERT_TRUE(rows.ok()) << rows.status().message();
    ASSERT_EQ(rows->rows().size(), bills.size());
    for (size_t i = 0; i < bills.size(); ++i) {
      const JournalRows::Row& r = rows->rows()[i];
      const Bill& b = bills[i].bill;
      EXPECT_EQ(r.serial, b.serial);
      EXPECT_EQ(std::bit_cast<uint64_t>(r.amount), std::bit_cast<uint64_t>(b.amount));
      EXPECT_EQ(r.time, b.time);
      EXPECT_EQ(r.expense, b.is_expense());
      EXPECT_EQ(rows->channels()[r.channel], b.channel);
      EXPECT_EQ(rows->remark(r), b.remark);
      EXPECT_EQ(rows->categories()[r.category], bills[i].category) << b.serial;
    }
  }
  const std::vector<JournalBill> all = read_bills(db);
  std::map<int32_t, std::string> named;
  for (const JournalBill& b : all) named[b.bill.serial] = b.category;
  EXPECT_EQ(named[2], "餐饮:午餐");
  EXPECT_EQ(named[5], "交通");
  EXPECT_EQ(named[9], "红包");
}

}  // namespace
}  // namespace pennacle
