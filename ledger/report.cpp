#include "ledger/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "runtime/convert.h"

namespace pennacle {
namespace {

// The rows by month, in calendar order; with `year`, one for each of its months, empty or not.
std::vector<ReportRow> month_rows(const std::vector<JournalRows::Row>& bills, int year) {
  std::map<int, ReportRow> months;  // by year * 12 + month - 1, the order of their keys
  auto month_row = [&months](int y, int m) -> ReportRow& {
    ReportRow& row = months[y * 12 + m - 1];
    if (row.key.empty()) row.key = month_key(y, m);
    return row;
  };
  if (year > 0) {
    for (int m = 1; m <= 12; ++m) month_row(year, m);
  }
  // Bills come in record order, mostly by time: a run of bills of one day finds its month once.
  ReportRow* row = nullptr;
  int64_t day = 0;  // of `row`
  for (const JournalRows::Row& b : bills) {
    const DaySecond at = date_time_day_second(b.time);
    if (!row || at.day != day) {
      const DateTimeParts p = date_time_parts(at);
      row = &month_row(p.year, p.month);
      day = at.day;
    }
    add_to_report_row(row, b.expense, b.amount);
  }
  std::vector<ReportRow> rows;
  for (auto& entry : months) rows.push_back(std::move(entry.second));
  return rows;
}

// A row for each name of `names` (GBK) that bills use, `name_of` giving a bill's index into it. Equal
// names are one row: a channel has an index for each of its method accounts.
template <typename NameOf>
std::vector<ReportRow> name_rows(const std::vector<JournalRows::Row>& bills,
                                 const std::vector<std::string>& names, NameOf name_of) {
  std::map<std::string_view, size_t> first;  // the first index of each name
  std::vector<size_t> row_of(names.size());  // an index's row: its name's first index
  for (size_t i = 0; i < names.size(); ++i) row_of[i] = first.try_emplace(names[i], i).first->second;
  std::vector<ReportRow> by_index(names.size());
  for (const JournalRows::Row& b : bills)
    add_to_report_row(&by_index[row_of[name_of(b)]], b.expense, b.amount);
  std::vector<ReportRow> rows;
  for (size_t i = 0; i < names.size(); ++i) {
    if (by_index[i].count == 0) continue;
    by_index[i].key = names[i];
    rows.push_back(std::move(by_index[i]));
  }
  order_report_rows(&rows);
  return rows;
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
  return build_report(journal_rows(bills), by, year);
}

Report build_report(const JournalRows& bills, ReportBy by, int year) {
  Report r;
  const std::vector<JournalRows::Row>& all = bills.rows();
  if (by == ReportBy::Month) {
    r.rows = month_rows(all, year);
  } else if (by == ReportBy::Category) {
    r.rows = name_rows(all, bills.categories(), [](const JournalRows::Row& b) { return b.category; });
  } else {
    r.rows = name_rows(all, bills.channels(), [](const JournalRows::Row& b) { return b.channel; });
  }
  for (const JournalRows::Row& b : all) add_to_report_row(&r.total, b.expense, b.amount);
  return r;
}

DateRange year_range(int year) { return {make_date_time(year, 1, 1), make_date_time(year + 1, 1, 1)}; }

DateRange month_range(int year, int month) {
  if (month == 0) return year_range(year);
  return {make_date_time(year, month, 1),
          month == 12 ? make_date_time(year + 1, 1, 1) : make_date_time(year, month + 1, 1)};
}

}  // namespace pennacle
