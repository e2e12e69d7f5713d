#include "ledger/report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "runtime/convert.h"

namespace pennacle {
namespace {

JournalBill bill(bool expense, double amount, double time, const char* category, const char* channel) {
  JournalBill b;
  b.bill.type = std::string(expense ? expense_type() : income_type());
  b.bill.amount = amount;
  b.bill.time = time;
  b.bill.channel = channel;
  b.category = category;
  return b;
}

TEST(ReportRowAdding, NonFiniteAmountsCountButStayOutOfTheSums) {
  ReportRow row;
  add_to_report_row(&row, true, 0.1);
  add_to_report_row(&row, true, std::numeric_limits<double>::quiet_NaN());
  add_to_report_row(&row, false, std::numeric_limits<double>::infinity());
  add_to_report_row(&row, false, -std::numeric_limits<double>::infinity());
  add_to_report_row(&row, true, 0.2);
  add_to_report_row(&row, false, 5);
  EXPECT_EQ(row.count, 6);
  EXPECT_EQ(row.expense, 0.1 + 0.2);  // in the order added, not the rounded 0.3
  EXPECT_EQ(row.income, 5.0);
  EXPECT_TRUE(std::isfinite(row.balance()));
}

TEST(ReportRowAdding, BuildReportAddsEachBillToItsRowAndTheTotalInRecordOrder) {
  const double march = make_date_time(2023, 3, 10, 9);
  const double may = make_date_time(2023, 5, 31, 23, 59, 59);
  const std::vector<JournalBill> bills = {
      bill(true, 0.1, march, "餐饮", "现金"),
      bill(true, 0.2, may, "餐饮", "支付宝"),
      bill(true, std::numeric_limits<double>::quiet_NaN(), march, "交通", "现金"),
      bill(false, 0.3, may, "工资", "现金"),
      bill(true, 0.7, march, "交通", "支付宝"),
  };
  const Report months = build_report(bills, ReportBy::Month, 2023);
  ASSERT_EQ(months.rows.size(), 12u);
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(months.rows[m - 1].key, month_key(2023, m));
  EXPECT_EQ(months.rows[2].count, 3);
  EXPECT_EQ(months.rows[2].expense, 0.1 + 0.7);
  EXPECT_EQ(months.rows[4].expense, 0.2);
  EXPECT_EQ(months.rows[4].income, 0.3);
  EXPECT_EQ(months.total.count, 5);
  EXPECT_EQ(months.total.expense, 0.1 + 0.2 + 0.7);

  const Report channels = build_report(bills, ReportBy::Channel);
  ASSERT_EQ(channels.rows.size(), 2u);
  EXPECT_EQ(channels.rows[0].key, "支付宝");  // 0.2 + 0.7 of 支出 before 现金's 0.1
  EXPECT_EQ(channels.rows[0].expense, 0.2 + 0.7);
  EXPECT_EQ(channels.rows[1].count, 3);
  EXPECT_EQ(channels.rows[1].income, 0.3);
}

// A channel's bills of different method accounts are one row of the channel, summed in record order
// across them: (0.1 + 0.2) + 2.3 is not (0.1 + 2.3) + 0.2.
TEST(ReportRowAdding, AChannelOfSeveralMethodAccountsIsOneRow) {
  const double march = make_date_time(2023, 3, 10, 9);
  std::vector<JournalBill> bills = {
      bill(true, 0.1, march, "餐饮", "现金"),
      bill(true, 0.2, march, "餐饮", "现金"),
      bill(true, 5, march, "餐饮", "支付宝"),
      bill(true, 2.3, march, "餐饮", "现金"),
  };
  bills[1].method_account = "Liabilities:Huabei";
  const Report channels = build_report(bills, ReportBy::Channel);
  ASSERT_EQ(channels.rows.size(), 2u);
  EXPECT_EQ(channels.rows[0].key, "支付宝");
  EXPECT_EQ(channels.rows[1].key, "现金");
  EXPECT_EQ(channels.rows[1].count, 3);
  EXPECT_EQ(channels.rows[1].expense, (0.1 + 0.2) + 2.3);
  EXPECT_EQ(build_report(bills, ReportBy::Category).rows[0].expense, ((0.1 + 0.2) + 5) + 2.3);
}

TEST(ReportRowOrder, ExpenseThenIncomeThenKey) {
  std::vector<ReportRow> rows = {
      {"b", 1, 0, 1}, {"a", 1, 0, 1}, {"c", 1, 2, 1}, {"d", 3, 0, 1}, {"e", 0, 9, 1}, {"f", 0, 0, 1},
  };
  order_report_rows(&rows);
  std::string keys;
  for (const ReportRow& r : rows) keys += r.key;
  EXPECT_EQ(keys, "dcabef");
}

TEST(ReportMoneyText, RoundsToTheCentWithoutANegativeZero) {
  EXPECT_EQ(money_text(0), "0.00");
  EXPECT_EQ(money_text(0.1 + 0.2), "0.30");
  EXPECT_EQ(money_text(0.125), "0.13");  // an exact half cent goes away from zero
  EXPECT_EQ(money_text(-0.125), "-0.13");
  EXPECT_EQ(money_text(-0.004), "0.00");
  EXPECT_EQ(money_text(1e9 + 0.5), "1000000000.50");
}

// The months of a year tile it: each starts at the first midnight of its month, where the one
// before ends, and month 0 is the year itself (leap February and December into the next year too).
TEST(ReportMonthRange, MonthsTileTheYear) {
  for (int year : {2023, 2024, 1900, 2000}) {
    EXPECT_EQ(month_range(year, 0), year_range(year));
    double from = year_range(year).from;
    for (int month = 1; month <= 12; ++month) {
      const DateRange r = month_range(year, month);
      EXPECT_EQ(r.from, from) << year << "-" << month;
      const DateTimeParts first = date_time_parts(r.from), last = date_time_parts(r.to - 1.0 / 86400);
      EXPECT_EQ(first.month, month);
      EXPECT_EQ(first.day, 1);
      EXPECT_EQ(last.month, month) << year << "-" << month;
      EXPECT_EQ(date_time_parts(r.to).day, 1);
      from = r.to;
    }
    EXPECT_EQ(from, year_range(year).to);
  }
}

}  // namespace
}  // namespace pennacle
