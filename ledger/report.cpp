#include "ledger/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "runtime/convert.h"

namespace pennacle {
namespace {

// The row of `key`, named when it is new.
ReportRow& row_of(std::map<std::string, ReportRow>& rows, const std::string& key) {
  ReportRow& row = rows[key];
  if (row.count == 0) row.key = key;
  return row;
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
  // Bills come in record order, mostly by time: a run of bills of one month (one category, one
  // channel) finds its row once. The map keeps a row where it is while others are added.
  ReportRow* row = nullptr;
  int month = 0;                      // year * 12 + month, of `row` by month
  const std::string* text = nullptr;  // the category or channel of `row`
  for (const JournalBill& b : bills) {
    if (by == ReportBy::Month) {
      const DateTimeParts p = date_time_parts(b.bill.time);
      if (!row || p.year * 12 + p.month != month) {
        row = &row_of(rows, month_key(p.year, p.month));
        month = p.year * 12 + p.month;
      }
    } else {
      const std::string& of = by == ReportBy::Category ? b.category : b.bill.channel;
      if (!row || of != *text) row = &row_of(rows, of);
      text = &of;
    }
    add_to_report_row(row, b.bill.is_expense(), b.bill.amount);
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
