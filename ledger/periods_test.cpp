#include "ledger/periods.h"

#include <gtest/gtest.h>

#include <limits>

#include "runtime/convert.h"

namespace pennacle {
namespace {

double at(int y, int mo, int d, int h = 12, int mi = 0, int s = 0) {
  return make_date_time(y, mo, d, h, mi, s);
}

Bill bill(const char* type, double amount, double time) { return {0, type, amount, "微信", time, ""}; }

// One "now" judges every bill of a pass: a bill stored at 23:59:59 on the 31st is of today, this
// month and this year, and one a second later is of none of them.
TEST(Periods, EveryBillIsJudgedAgainstOneMoment) {
  const PeriodClock clock(at(2025, 12, 31, 23, 59, 59));
  PeriodTotals t;
  PeriodCounts c;
  add_to_periods(clock, bill("支出", 10, at(2025, 12, 31, 0, 0, 0)), &t, &c);
  add_to_periods(clock, bill("收入", 4, at(2025, 12, 31, 23, 59, 59)), &t, &c);
  add_to_periods(clock, bill("支出", 100, at(2026, 1, 1, 0, 0, 0)), &t, &c);
  add_to_periods(clock, bill("支出", 1, at(2025, 12, 30)), &t, &c);
  add_to_periods(clock, bill("other", 2, at(2025, 1, 31)), &t, &c);
  add_to_periods(clock, bill("支出", 8, at(2024, 12, 31)), &t, &c);
  EXPECT_EQ(c.todayCount, 2);
  EXPECT_EQ(c.monthCount, 3);
  EXPECT_EQ(c.yearCount, 4);
  EXPECT_EQ(t.todayExpense, 10);
  EXPECT_EQ(t.todayIncome, 4);
  EXPECT_EQ(t.monthExpense, 11);
  EXPECT_EQ(t.yearExpense, 11);
  EXPECT_EQ(t.yearIncome, 6);  // any type but 支出 is an income
}

// The day is told by the key given: the window's is its date text, which ignores the time of day.
TEST(Periods, TheDayKeyDecidesToday) {
  int calls = 0;
  const PeriodClock clock(at(2025, 3, 15), [&calls](double t) {
    ++calls;
    return std::to_string(date_time_parts(t).day);  // the day of the month alone
  });
  EXPECT_TRUE(clock.of_today(at(2024, 7, 15)));
  EXPECT_FALSE(clock.of_today(at(2025, 3, 14)));
  EXPECT_EQ(calls, 3);  // now once, then each bill once
  EXPECT_FALSE(clock.of_this_month(at(2024, 3, 15)));
}

// A sum that met a non-finite amount would stay spoiled for good: such a bill counts, its amount
// stays out.
TEST(Periods, NonFiniteAmountsCountButAddNothing) {
  const PeriodClock clock(at(2025, 3, 15));
  PeriodTotals t;
  PeriodCounts c;
  add_to_periods(clock, bill("支出", std::numeric_limits<double>::infinity(), at(2025, 3, 15)), &t, &c);
  add_to_periods(clock, bill("支出", std::numeric_limits<double>::quiet_NaN(), at(2025, 3, 15)), &t, &c);
  add_to_periods(clock, bill("支出", 2.5, at(2025, 3, 15)), &t, &c);
  EXPECT_EQ(c.todayCount, 3);
  EXPECT_EQ(t.todayExpense, 2.5);
  EXPECT_EQ(t.yearExpense, 2.5);
}

}  // namespace
}  // namespace pennacle
