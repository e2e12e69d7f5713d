#include "tools/kdbtool_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "ledger/import/bill_text.h"
#include "ledger/method_accounts.h"
#include "ledger/periods.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "store/record_store.h"
#include "tools/journal_checkers_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

using ReportCommand = JournalLedgerTest;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The row of `table` whose first cell is `key`, as its cells.
std::vector<std::string> row_of(const std::string& table, const std::string& key) {
  for (const std::string& line : lines_of(table)) {
    std::istringstream cells(line);
    std::vector<std::string> row;
    for (std::string c; cells >> c;) row.push_back(c);
    if (!row.empty() && row[0] == key) return row;
  }
  ADD_FAILURE() << "no row " << key << " in\n" << table;
  return {};
}

// Every line of the table takes the same width on a terminal, Chinese names and all, and the
// figures stand right-aligned under their headings.
TEST_F(ReportCommand, TheTableIsAlignedByDisplayWidthWithTotals) {
  const std::string db = make_journal_ledger();
  for (const char* by : {"month", "category", "channel"}) {
    SCOPED_TRACE(by);
    ASSERT_EQ(run({"report", db, "--year", "2023", "--by", by}), 0) << err_.str();
    std::vector<std::string> lines = lines_of(out_.str());
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "2023");
    lines.erase(lines.begin());
    for (const std::string& line : lines) EXPECT_EQ(display_width(line), display_width(lines[0])) << line;
    EXPECT_EQ(lines[0].substr(lines[0].size() - 6), u8("笔数"));
  }
  // 2023 holds every bill but the one of 2022-12-31: ten bills, 收入 of 999999999999.99 and more.
  ASSERT_EQ(run({"report", db, "--year", "2023", "--by", "channel"}), 0) << err_.str();
  const std::vector<std::string> total = row_of(out_.str(), u8("合计"));
  ASSERT_EQ(total.size(), 5u);
  // 收入: two transfers of 100 (Alipay, WeChat), WeChat's refund of 199, and ours.
  EXPECT_EQ(total[2], "1000000000398.99");
  EXPECT_EQ(total[4], "10");
  EXPECT_EQ(row_of(out_.str(), u8("花呗")).size(), 6u);  // "花呗 (借)" is two words wide
  ASSERT_EQ(run({"report", db, "--year", "2022"}), 0) << err_.str();
  EXPECT_EQ(row_of(out_.str(), "2022-12")[1], "66.60");
  EXPECT_EQ(lines_of(out_.str()).size(), 1u + 2 + 12 + 2);  // the year, heading, months, totals
}

// The report reads no method accounts: a damaged method account file, which stops an export, leaves
// the report as it was.
TEST_F(ReportCommand, TheMethodAccountFileIsNotRead) {
  const std::string db = make_journal_ledger();
  ASSERT_EQ(run({"report", db, "--year", "2023", "--by", "channel"}), 0) << err_.str();
  const std::string before = out_.str();
  write_bytes(method_accounts_path(db), "not a method account file\n");
  EXPECT_EQ(run({"export", db, "--format", "beancount"}), 1);
  ASSERT_EQ(run({"report", db, "--year", "2023", "--by", "channel"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), before);
}

TEST_F(ReportCommand, BadArgumentsAreNamed) {
  const std::string db = make_journal_ledger();
  EXPECT_EQ(run({"report", db, "--year", "23"}), 1);
  EXPECT_EQ(err_.str(), "kdbtool: --year takes a year from 0100 to 9998\n");
  EXPECT_EQ(run({"report", db, "--by", "week"}), 1);
  EXPECT_EQ(err_.str(), "kdbtool: --by takes month, category or channel\n");
  EXPECT_EQ(run({"report", db, "--html"}), 1);
  EXPECT_EQ(err_.str(), "kdbtool: --html takes the file to write\n");
  EXPECT_EQ(run({"report", db, "--html", path("no/such/dir/r.html"), "--year", "2023"}), 1);
  EXPECT_NE(err_.str().find("r.html: cannot write the page: No such file or directory"), std::string::npos)
      << err_.str();
  EXPECT_FALSE(std::filesystem::exists(path("no/such/dir/r.html.writing")));
}

// The window's sums: each record of the ledger, in the order the window walks them, added to the
// periods around `now`.
PeriodTotals window_sums(const std::string& db, double now) {
  EXPECT_TRUE(open_record_file(db, true).ok());
  const PeriodClock clock(now);
  PeriodTotals totals;
  PeriodCounts counts;
  const int32_t n = call_command(db_record_count, {}).int_payload();
  call_command(db_go_first, {});
  for (int32_t i = 0; i < n; ++i, call_command(db_skip, {})) {
    Bill b;
    EXPECT_FALSE(read_current_bill(&b).has_value());
    add_to_periods(clock, b, &totals, &counts);
  }
  call_command(db_close, {});
  return totals;
}

// For a month and for a year: the report's sums, the balances every checker prints for the journal
// of the same days, and the window's sums for that period agree to the cent.
TEST_F(ReportCommand, ReportJournalsAndWindowAgreeForAnyRange) {
  const std::string db = make_journal_ledger();
  const PeriodTotals window = window_sums(db, make_date_time(2023, 3, 15, 12, 0, 0));
  ASSERT_EQ(run({"report", db, "--year", "2023"}), 0) << err_.str();
  const std::string table = out_.str();
  struct Range {
    std::string key;
    const char *from, *to;
    double expense, income;
  };
  for (const Range& r :
       {Range{"2023-03", "2023-03-01", "2023-03-31", window.monthExpense, window.monthIncome},
        Range{u8("合计"), "2023-01-01", "2023-12-31", window.yearExpense, window.yearIncome}}) {
    SCOPED_TRACE(r.from);
    const std::vector<std::string> row = row_of(table, r.key);
    ASSERT_EQ(row.size(), 5u);
    EXPECT_EQ(row[1], money_text(r.expense));
    EXPECT_EQ(row[2], money_text(r.income));
    for (JournalFormat f : {JournalFormat::Beancount, JournalFormat::Hledger, JournalFormat::Ledger}) {
      if (!have_program(checker_program(f))) {
        std::cout << checker_program(f) << " is not installed: its balances are not compared\n";
        continue;
      }
      ASSERT_EQ(run({"export", db, "--format",
                     f == JournalFormat::Beancount ? "beancount"
                     : f == JournalFormat::Hledger ? "hledger"
                                                   : "ledger",
                     "--from", r.from, "--to", r.to}),
                0)
          << err_.str();
      const std::string file = path("range.journal");
      write_bytes(file, out_.str());
      double expense = 0, income = 0;
      for (const auto& [account, sum] : checked_balances(f, file)) {
        if (account.rfind("Expenses:", 0) == 0) expense += sum;
        if (account.rfind("Income:", 0) == 0) income -= sum;
      }
      EXPECT_EQ(cents(expense), cents(r.expense)) << checker_program(f);
      EXPECT_EQ(cents(income), cents(r.income)) << checker_program(f);
    }
  }
}

}  // namespace
}  // namespace pennacle
