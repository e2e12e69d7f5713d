// The periods of a refresh (today, this month, this year) and the sums and counts per period and
// side. "Now" is read once per refresh: every bill of one pass is judged against the same moment,
// so a pass that runs across midnight never counts half its bills on either day.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ledger/bill.h"

namespace pennacle {

// Sums of bill amounts per period and side.
struct PeriodTotals {
  double todayExpense = 0;
  double todayIncome = 0;
  double monthExpense = 0;
  double monthIncome = 0;
  double yearExpense = 0;
  double yearIncome = 0;
};

struct PeriodCounts {
  int32_t todayCount = 0;
  int32_t monthCount = 0;
  int32_t yearCount = 0;
};

class PeriodClock {
 public:
  // How a moment's calendar day is told: two moments are of one day when their keys are equal.
  using DayKey = std::function<std::string(double)>;

  // The periods around `now` (a date-time value). Without a day key, the local calendar date of
  // the value decides the day.
  explicit PeriodClock(double now, DayKey day_key = {});

  bool of_today(double t) const;
  bool of_this_month(double t) const;  // the year and the month agree
  bool of_this_year(double t) const;

 private:
  DayKey day_key_;
  std::string today_;
  int year_ = 0;
  int month_ = 0;
};

// Adds one bill to the periods it belongs to. A bill of today is also of this month and year. An
// amount that is not a finite number (written by some other program) would spoil a sum for good,
// so it stays out of the sums; the bill still counts.
void add_to_periods(const PeriodClock& clock, const Bill& bill, PeriodTotals* totals, PeriodCounts* counts);

}  // namespace pennacle
