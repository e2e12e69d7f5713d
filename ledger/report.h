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
// The same of packed bills (a channel's rows of different method accounts are one channel's row).
Report build_report(const JournalRows& bills, ReportBy by, int year = 0);

// The range of the calendar year `year` (local time).
DateRange year_range(int year);
// The range of `month` (1..12) of `year` (local time); with month 0, of the whole year.
DateRange month_range(int year, int month);

// The steps build_report takes, for a view that groups bills it holds otherwise (the second
// window's statistics) and must agree with it to the bit.
//
// Adds one bill to `row`: it counts, and its amount joins its side's sum when it is a finite number
// (one that is not would spoil the sum for good). Summed in record order, as build_report does.
void add_to_report_row(ReportRow* row, bool expense, double amount);
// Orders category or channel rows: by 支出 (largest first), then 收入, then key.
void order_report_rows(std::vector<ReportRow>* rows);
// The key of a month's row: "2023-03".
std::string month_key(int year, int month);

// Money as a report shows it: rounded to the cent (halves away from zero), "-" only in front of a
// sum that is below zero after rounding.
std::string money_text(double d);

}  // namespace pennacle
