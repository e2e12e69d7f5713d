#include "books/bills_periods.h"

#include <cmath>

#include "ledger/report.h"
#include "runtime/convert.h"

namespace pennacle {
DateRange period_range(PeriodChoice choice, double now) {
  const DateTimeParts p = date_time_parts(now);
  switch (choice) {
    case PeriodChoice::ThisMonth:
      return month_range(p.year, p.month);
    case PeriodChoice::LastMonth:
      return p.month == 1 ? month_range(p.year - 1, 12) : month_range(p.year, p.month - 1);
    case PeriodChoice::ThisYear:
      return year_range(p.year);
    case PeriodChoice::LastYear:
      return year_range(p.year - 1);
    case PeriodChoice::All:
    case PeriodChoice::Range:
      break;
  }
  return {};
}

DateRange day_range(int from_year, int from_month, int from_day, int to_year, int to_month, int to_day) {
  // Date-time values count calendar days: the midnight ending the last day is its own plus one.
  return {make_date_time(from_year, from_month, from_day), make_date_time(to_year, to_month, to_day) + 1};
}

std::optional<PeriodChoice> choice_of(const DateRange& range, double now) {
  if (!std::isfinite(range.from) && !std::isfinite(range.to)) return PeriodChoice::All;
  for (PeriodChoice c :
       {PeriodChoice::ThisMonth, PeriodChoice::LastMonth, PeriodChoice::ThisYear, PeriodChoice::LastYear}) {
    const DateRange r = period_range(c, now);
    if (r.from == range.from && r.to == range.to) return c;
  }
  return std::nullopt;
}

}  // namespace pennacle
