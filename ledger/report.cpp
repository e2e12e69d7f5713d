#include "ledger/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "runtime/convert.h"

namespace pennacle {
namespace {

std::string key_of(const JournalBill& b, ReportBy by) {
  switch (by) {
    case ReportBy::Month: {
      const DateTimeParts p = date_time_parts(b.bill.time);
      return month_key(p.year, p.month);
    }
    case ReportBy::Category:
      return b.category;
    case ReportBy::Channel:
      return b.bill.channel;
  }
  return {};
}

}  // namespace

std::string month_key(int year, int month) {
  char s[16];
  std::snprintf(s, sizeof s, "%04d-%02d", year, month);
  return s;
}

void add_to_report_row(ReportRow* row, bool expense, double amount) {
  ++row->count;
  if (!std::isfinite(amount)) return;
  (expense ? row->expense : row->income) += amount;
}

void order_report_rows(std::vector<ReportRow>* rows) {
  std::stable_sort(rows->begin(), rows->end(), [](const ReportRow& x, const ReportRow& y) {
    if (x.expense != y.expense) return x.expense > y.expense;
    if (x.income != y.income) return x.income > y.income;
    return x.key < y.key;
  });
}

std::string money_text(double d) {
  char s[64];
  std::snprintf(s, sizeof s, "%.2f", std::round(d * 100) / 100);
  return std::strcmp(s, "-0.00") == 0 ? "0.00" : s;
}

Report build_report(const std::vector<JournalBill>& bills, ReportBy by, int year) {
  std::map<std::string, ReportRow> rows;
  if (by == ReportBy::Month && year > 0) {
    for (int m = 1; m <= 12; ++m) rows[month_key(year, m)].key = month_key(year, m);
  }
  Report r;
  for (const JournalBill& b : bills) {
    ReportRow& row = rows[key_of(b, by)];
    if (row.count == 0) row.key = key_of(b, by);
    add_to_report_row(&row, b.bill.is_expense(), b.bill.amount);
    add_to_report_row(&r.total, b.bill.is_expense(), b.bill.amount);
  }
  for (auto& entry : rows) r.rows.push_back(std::move(entry.second));
  if (by != ReportBy::Month) order_report_rows(&r.rows);
  return r;
}

DateRange year_range(int year) { return {make_date_time(year, 1, 1), make_date_time(year + 1, 1, 1)}; }

DateRange month_range(int year, int month) {
  if (month == 0) return year_range(year);
  return {make_date_time(year, month, 1),
          month == 12 ? make_date_time(year + 1, 1, 1) : make_date_time(year, month + 1, 1)};
}

}  // namespace pennacle
