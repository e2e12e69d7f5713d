// The periods the 账单 view offers, counted on the local calendar from a given "now". Qt-free.
#pragma once

#include <optional>

#include "ledger/journal_bills.h"

namespace pennacle {

enum class PeriodChoice : int { ThisMonth, LastMonth, ThisYear, LastYear, All, Range };

// The moments of `choice` around `now` (a date-time value): a whole calendar month or year, from its
// first midnight to the next period's. All and Range give an unbounded range (a range's days come
// from day_range).
DateRange period_range(PeriodChoice choice, double now);

// From the midnight starting the first day to the one ending the last; months and days are real
// calendar parts.
DateRange day_range(int from_year, int from_month, int from_day, int to_year, int to_month, int to_day);

// The choice other than Range whose range is exactly `range` around `now`.
std::optional<PeriodChoice> choice_of(const DateRange& range, double now);

}  // namespace pennacle
