#include "ledger/periods.h"

#include <cmath>
#include <utility>

#include "runtime/convert.h"

namespace pennacle {
namespace {

std::string calendar_day(double t) {
  const DateTimeParts p = date_time_parts(t);
  return std::to_string(p.year) + "-" + std::to_string(p.month) + "-" + std::to_string(p.day);
}

void add_amount(double* sum, double amount) {
  if (std::isfinite(amount)) *sum += amount;
}

}  // namespace

PeriodClock::PeriodClock(double now, DayKey day_key)
    : day_key_(day_key ? std::move(day_key) : DayKey(calendar_day)), today_(day_key_(now)) {
  const DateTimeParts p = date_time_parts(now);
  year_ = p.year;
  month_ = p.month;
}

bool PeriodClock::of_today(double t) const { return day_key_(t) == today_; }

bool PeriodClock::of_this_year(double t) const { return date_time_parts(t).year == year_; }

bool PeriodClock::of_this_month(double t) const {
  const DateTimeParts p = date_time_parts(t);
  return p.year == year_ && p.month == month_;
}

void add_to_periods(const PeriodClock& clock, const Bill& bill, PeriodTotals* totals, PeriodCounts* counts) {
  const bool expense = bill.is_expense();
  if (clock.of_today(bill.time)) {
    ++counts->todayCount;
    add_amount(expense ? &totals->todayExpense : &totals->todayIncome, bill.amount);
  }
  if (clock.of_this_year(bill.time)) {
    ++counts->yearCount;
    add_amount(expense ? &totals->yearExpense : &totals->yearIncome, bill.amount);
  }
  if (clock.of_this_month(bill.time)) {
    ++counts->monthCount;
    add_amount(expense ? &totals->monthExpense : &totals->monthIncome, bill.amount);
  }
}

}  // namespace pennacle
