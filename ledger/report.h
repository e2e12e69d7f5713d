// Where the money went: sums of 支出 and 收入, the balance and the count of bills per month,
// category or channel. The sums are the window's (add_to_periods): an amount that is no finite
// number counts as a bill and stays out of the sums.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ledger/journal_bills.h"

namespace pennacle {

enum class ReportBy { Month, Category, Channel };

struct ReportRow {
  std::string key;  // "2023-03" for a month, else the category or channel (GBK)
  double expense = 0;
  double income = 0;
  int32_t count = 0;
  double balance() const { return income - expense; }
};

struct Report {
  std::vector<ReportRow> rows;
  ReportRow total;  // its key is empty
};

// The report of `bills` grouped `by`. Months come in calendar order, and with `year` every month of
// that year has a row, empty or not; categories and channels come by 支出 (largest first), then
// 收入, then name.
Report build_report(const std::vector<JournalBill>& bills, ReportBy by, int year = 0);

// The range of the calendar year `year` (local time).
DateRange year_range(int year);

}  // namespace pennacle
