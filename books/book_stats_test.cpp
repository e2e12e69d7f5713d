#include "books/book_stats.h"

#include <gtest/gtest.h>

#include "books/book.h"
#include "books/books_test_support.h"
#include "ledger/periods.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

void expect_same_row(const ReportRow& got, const ReportRow& want, const std::string& what) {
  EXPECT_EQ(got.key, want.key) << what;
  EXPECT_EQ(got.count, want.count) << what << " " << want.key;
  // Equal as doubles: the same bills added in the same order, not merely the same to the cent.
  EXPECT_EQ(got.expense, want.expense) << what << " " << want.key;
  EXPECT_EQ(got.income, want.income) << what << " " << want.key;
}

void expect_same(const Report& got, const Report& want, const std::string& what) {
  ASSERT_EQ(got.rows.size(), want.rows.size()) << what;
  for (size_t i = 0; i < want.rows.size(); ++i) expect_same_row(got.rows[i], want.rows[i], what);
  expect_same_row(got.total, want.total, what + " total");
}

class BookStatsTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    path_ = ledger("data.kdb", bill_table_fields());
    fill_stats_ledger(path_, stats_bills());
    Result<std::shared_ptr<const Book>> book = load_book(path_, {});
    ASSERT_TRUE(book.ok()) << book.status().message();
    book_ = *book;
  }

  // The bills of `range` as kdbtool reads them: the record file, then the category file.
  std::vector<JournalBill> kdbtool_bills(const DateRange& range) {
    EXPECT_TRUE(open_record_file(path_, true).ok());
    Result<std::vector<JournalBill>> bills = read_ledger_bills(range);
    Result<CategoryLookup> lookup = ledger_categories();
    close_db(path_);
    EXPECT_TRUE(bills.ok() && lookup.ok());
    if (!bills.ok() || !lookup.ok()) return {};
    fill_categories(&*bills, *lookup);
    return *bills;
  }

  std::string path_;
  std::shared_ptr<const Book> book_;
};

TEST_F(BookStatsTest, MonthsCategoriesAndChannelsEqualKdbtoolReport) {
  for (int year : {2023, 2024}) {
    const std::vector<JournalBill> bills = kdbtool_bills(year_range(year));
    ASSERT_GT(bills.size(), 150u);
    const BookStats whole = book_stats(book_->rows, year, 0);
    const std::string y = std::to_string(year);
    expect_same(whole.by_month, build_report(bills, ReportBy::Month, year), y + " by month");
    expect_same(whole.by_category, build_report(bills, ReportBy::Category), y + " by category");
    expect_same(whole.by_channel, build_report(bills, ReportBy::Channel), y + " by channel");
    for (int month = 1; month <= 12; ++month) {
      const std::vector<JournalBill> of_month = kdbtool_bills(month_range(year, month));
      const BookStats one = book_stats(book_->rows, year, month);
      const std::string m = y + "-" + std::to_string(month);
      expect_same(one.by_category, build_report(of_month, ReportBy::Category), m + " by category");
      expect_same(one.by_channel, build_report(of_month, ReportBy::Channel), m + " by channel");
      // The months beside a chosen one are the year's all the same.
      expect_same(one.by_month, whole.by_month, m + " months");
    }
  }
}

TEST_F(BookStatsTest, MonthAndYearEqualTheLedgerWindowsStatusSums) {
  const std::vector<JournalBill> all = kdbtool_bills(DateRange{});
  // Months holding a NaN (2024-03), an infinity (2023-07), a bill on a month's last second
  // (2024-03) and on a year's first (2024-01), and an ordinary one.
  const int months[][2] = {{2024, 3}, {2023, 7}, {2024, 1}, {2023, 12}, {2024, 10}};
  for (const auto& [year, month] : months) {
    const PeriodClock clock(make_date_time(year, month, 15, 12));
    PeriodTotals totals;
    PeriodCounts counts;
    for (const JournalBill& b : all) add_to_periods(clock, b.bill, &totals, &counts);
    const BookStats s = book_stats(book_->rows, year, month);
    const std::string what = std::to_string(year) + "-" + std::to_string(month);
    EXPECT_EQ(s.by_category.total.expense, totals.monthExpense) << what;
    EXPECT_EQ(s.by_category.total.income, totals.monthIncome) << what;
    EXPECT_EQ(s.by_category.total.count, counts.monthCount) << what;
    EXPECT_EQ(s.by_channel.total.expense, totals.monthExpense) << what;
    EXPECT_EQ(s.by_month.rows[month - 1].expense, totals.monthExpense) << what;
    EXPECT_EQ(s.by_month.total.expense, totals.yearExpense) << what;
    EXPECT_EQ(s.by_month.total.income, totals.yearIncome) << what;
    EXPECT_EQ(s.by_month.total.count, counts.yearCount) << what;
    EXPECT_TRUE(std::isfinite(s.by_month.total.balance())) << what;
  }
}

TEST_F(BookStatsTest, NonFiniteAmountsCountButStayOutOfTheSums) {
  const BookStats march = book_stats(book_->rows, 2024, 3);
  const BookStats july = book_stats(book_->rows, 2023, 7);
  std::vector<JournalBill> finite = kdbtool_bills(month_range(2024, 3));
  const size_t with_nan = finite.size();
  std::erase_if(finite, [](const JournalBill& b) { return !std::isfinite(b.bill.amount); });
  ASSERT_EQ(finite.size() + 1, with_nan);
  const Report finite_report = build_report(finite, ReportBy::Channel);
  EXPECT_EQ(march.by_channel.total.count, finite_report.total.count + 1);
  EXPECT_EQ(march.by_channel.total.expense, finite_report.total.expense);
  EXPECT_TRUE(std::isfinite(july.by_month.rows[6].income));
  EXPECT_TRUE(std::isfinite(july.by_channel.total.income));
}

TEST_F(BookStatsTest, YearsAndRanges) {
  EXPECT_EQ(book_years(book_->rows), (std::vector<int>{2023, 2024}));
  EXPECT_TRUE(book_years(BookRows()).empty());
  for (int month = 1; month <= 12; ++month) {
    const DateRange r = month_range(2024, month);
    EXPECT_EQ(date_time_parts(r.from).month, month);
    EXPECT_EQ(date_time_parts(r.from).day, 1);
    const DateTimeParts last = date_time_parts(r.to - 1.0 / 86400);  // the month's last second
    EXPECT_EQ(last.month, month);
    EXPECT_EQ(last.second, 59);
  }
  EXPECT_EQ(month_range(2024, 12).to, year_range(2025).from);
  EXPECT_EQ(month_range(2024, 0).from, year_range(2024).from);
  EXPECT_EQ(month_range(2024, 0).to, year_range(2024).to);
}

TEST_F(BookStatsTest, AYearWithoutBillsHasTwelveEmptyMonths) {
  const BookStats s = book_stats(book_->rows, 2019, 0);
  ASSERT_EQ(s.by_month.rows.size(), 12u);
  for (const ReportRow& r : s.by_month.rows) EXPECT_EQ(r.count, 0) << r.key;
  EXPECT_TRUE(s.by_category.rows.empty());
  EXPECT_TRUE(s.by_channel.rows.empty());
  EXPECT_EQ(s.by_month.total.count, 0);
}

}  // namespace
}  // namespace pennacle
