// The period counts and sums of a refresh against a fixed clock: bills of today, of earlier and
// later days and months of the year and of other years, on days that put them at the edges of a
// month and of a year. The clock is fixed, so every case holds on whatever day the test runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "app/date_format.h"
#include "app/ledger.h"
#include "app/ledger_test_support.h"
#include "runtime/convert.h"

namespace pennacle {
namespace {

using testing::append_bill;
using testing::stored_bills;

std::atomic<double> g_today{0};
double fixed_clock() { return g_today.load(); }

double at(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
  return make_date_time(year, month, day, hour, minute, second);
}

struct Bill {
  const char* type;
  double amount;
  double time;
  bool today, month, year;  // the periods it belongs to
};

struct Scenario {
  const char* name;
  double clock;
  std::vector<Bill> bills;
};

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> kAll = {
      {"MidMonth",
       at(2023, 3, 15, 10, 20, 30),
       {
           {"支出", 5, at(2023, 3, 15, 10, 20, 30), true, true, true},
           {"收入", 7, at(2023, 3, 15, 0, 0, 0), true, true, true},
           {"其他", 1, at(2023, 3, 15, 8), true, true, true},             // any type but 支出 is an income
           {"支出", 0.5, at(2023, 3, 15, 23, 59, 59), true, true, true},  // later today
           {"收入", 3, at(2023, 3, 14, 23, 59, 59), false, true, true},   // yesterday
           {"支出", 40, at(2023, 2, 28), false, false, true},             // earlier months of the year
           {"收入", 600, at(2023, 1, 1, 0, 0, 0), false, false, true},
           {"支出", 9, at(2023, 4, 1, 0, 0, 0), false, false, true},         // a later month of the year
           {"支出", 100, at(2022, 3, 15, 10, 20, 30), false, false, false},  // this day last year
           {"收入", 11, at(2024, 3, 15), false, false, false},
       }},
      {"NewYearsDay",
       at(2024, 1, 1, 0, 0, 5),
       {
           {"支出", 2, at(2024, 1, 1, 0, 0, 0), true, true, true},
           {"收入", 4, at(2024, 1, 1, 23, 59, 59), true, true, true},
           {"支出", 8, at(2023, 12, 31, 23, 59, 59), false, false, false},  // yesterday was last year
           {"收入", 16, at(2023, 1, 1), false, false, false},
           {"支出", 32, at(2024, 1, 31), false, true, true},
           {"收入", 64, at(2024, 2, 1), false, false, true},
       }},
      {"FirstOfAMonthAfterALeapDay",
       at(2024, 3, 1, 8),
       {
           {"支出", 1.25, at(2024, 3, 1, 8), true, true, true},
           {"收入", 2.5, at(2024, 2, 29, 23, 59, 59), false, false, true},  // yesterday, an earlier month
           {"支出", 10, at(2024, 1, 15), false, false, true},
           {"收入", 20, at(2023, 3, 1, 8), false, false, false},
       }},
      {"NewYearsEve",
       at(2024, 12, 31, 23, 59, 58),
       {
           {"支出", 3, at(2024, 12, 31, 0, 0, 0), true, true, true},
           {"收入", 6, at(2024, 12, 1), false, true, true},
           {"支出", 12, at(2024, 11, 30, 23, 59, 59), false, false, true},
           {"收入", 24, at(2024, 1, 1, 0, 0, 0), false, false, true},
           {"支出", 48, at(2025, 1, 1, 0, 0, 0), false, false, false},
           {"收入", 96, at(2023, 12, 31), false, false, false},
       }},
  };
  return kAll;
}

// What a refresh must give for these bills, by the periods each one is marked with.
void expected_for(const std::vector<Bill>& bills, PeriodTotals* t, PeriodCounts* c) {
  for (const Bill& b : bills) {
    const bool expense = std::string(b.type) == "支出";
    if (b.today) {
      ++c->todayCount;
      (expense ? t->todayExpense : t->todayIncome) += b.amount;
    }
    if (b.month) {
      ++c->monthCount;
      (expense ? t->monthExpense : t->monthIncome) += b.amount;
    }
    if (b.year) {
      ++c->yearCount;
      (expense ? t->yearExpense : t->yearIncome) += b.amount;
    }
  }
}

class LedgerClock : public testing::LedgerFixture {
 protected:
  void SetUp() override {
    LedgerFixture::SetUp();
    set_ledger_clock_for_test(fixed_clock);
  }
  void TearDown() override {
    LedgerFixture::TearDown();
    set_ledger_clock_for_test(nullptr);
  }
};

class LedgerPeriods : public LedgerClock, public ::testing::WithParamInterface<size_t> {};

TEST_P(LedgerPeriods, CountsAndSumsByCalendarDate) {
  const Scenario& sc = scenarios()[GetParam()];
  g_today = sc.clock;
  start();
  for (const Bill& b : sc.bills) ASSERT_TRUE(append_bill(b.type, b.amount, "a", b.time));
  refresh();
  PeriodTotals want;
  PeriodCounts count;
  expected_for(sc.bills, &want, &count);
  const PeriodTotals t = last_period_totals();
  const PeriodCounts c = last_period_counts();
  EXPECT_EQ(c.todayCount, count.todayCount);
  EXPECT_EQ(c.monthCount, count.monthCount);
  EXPECT_EQ(c.yearCount, count.yearCount);
  EXPECT_EQ(t.todayExpense, want.todayExpense);
  EXPECT_EQ(t.todayIncome, want.todayIncome);
  EXPECT_EQ(t.monthExpense, want.monthExpense);
  EXPECT_EQ(t.monthIncome, want.monthIncome);
  EXPECT_EQ(t.yearExpense, want.yearExpense);
  EXPECT_EQ(t.yearIncome, want.yearIncome);
  EXPECT_EQ(view_.pane(1), std::to_string(count.todayCount));
  EXPECT_EQ(view_.pane(3), std::to_string(count.monthCount));
  EXPECT_EQ(view_.pane(5), std::to_string(count.yearCount));
  EXPECT_EQ(view_.rows().size(), sc.bills.size()) << "every bill has its row, of any period";
  // The summary shows the same sums under the clock's date.
  Summary_Click(0, nullptr, nullptr);
  EXPECT_EQ(view_.clipboard, SummaryText(want, FormatDateTime(sc.clock, 0, 1).view()));
  // A second refresh starts from zero.
  refresh();
  EXPECT_EQ(last_period_counts().yearCount, count.yearCount);
  EXPECT_EQ(last_period_totals().yearIncome, want.yearIncome);
}

INSTANTIATE_TEST_SUITE_P(Days, LedgerPeriods, ::testing::Range<size_t>(0, scenarios().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return std::string(scenarios()[info.param].name);
                         });

TEST_F(LedgerClock, TheHandlersReadTheLedgersClock) {
  g_today = at(2023, 3, 15, 10, 20, 30);
  start();
  EXPECT_EQ(view_.date_label, FormatDateTime(g_today, 0, 1).str());
  type_bill("支出", "2", "微信");
  add();
  const auto bills = stored_bills();
  ASSERT_EQ(bills.size(), 1u);
  EXPECT_EQ(bills[0].time, g_today.load());
  EXPECT_EQ(last_period_counts().todayCount, 1);
}

// A file written by some other program may hold an amount that is not a finite number: its row
// shows and the bill counts, but its amount stays out of every sum.
TEST_F(LedgerClock, AnAmountThatIsNotFiniteStaysOutOfTheSums) {
  g_today = at(2023, 3, 15, 10);
  start();
  const double inf = std::numeric_limits<double>::infinity();
  ASSERT_TRUE(append_bill("支出", 5, "a", g_today));
  ASSERT_TRUE(append_bill("支出", inf, "a", g_today));
  ASSERT_TRUE(append_bill("收入", -inf, "a", g_today));
  ASSERT_TRUE(append_bill("收入", std::numeric_limits<double>::quiet_NaN(), "a", g_today));
  ASSERT_TRUE(append_bill("收入", 2, "a", g_today));
  refresh();
  const auto rows = view_.rows();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[1][2], value_to_text(Value::of_double(inf)));
  EXPECT_EQ(rows[4][0], "5");
  const PeriodTotals t = last_period_totals();
  EXPECT_EQ(last_period_counts().todayCount, 5);
  EXPECT_EQ(t.todayExpense, 5.0);
  EXPECT_EQ(t.todayIncome, 2.0);
  EXPECT_EQ(t.monthExpense, 5.0);
  EXPECT_EQ(t.yearIncome, 2.0);
}

}  // namespace
}  // namespace pennacle
