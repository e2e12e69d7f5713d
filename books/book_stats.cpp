#include "books/book_stats.h"

#include <set>

#include "runtime/convert.h"

namespace pennacle {
namespace {

// Rows of a report keyed by interned text, kept only when some bill landed in them.
Report report_of(const BookRows& rows, std::vector<ReportRow>&& by_text, const ReportRow& total) {
  Report r;
  r.total = total;
  for (TextId id = 0; id < by_text.size(); ++id) {
    if (by_text[id].count == 0) continue;
    by_text[id].key = std::string(rows.text(id));
    r.rows.push_back(std::move(by_text[id]));
  }
  order_report_rows(&r.rows);
  return r;
}

}  // namespace

BookStats book_stats(const BookRows& rows, int year, int month) {
  BookStats s;
  s.year = year;
  s.month = month;
  s.by_month.rows.resize(12);
  for (int m = 1; m <= 12; ++m) s.by_month.rows[m - 1].key = month_key(year, m);
  // Channels and categories are interned texts, so a flat table by id takes them without a lookup.
  std::vector<ReportRow> categories(rows.texts().size()), channels(rows.texts().size());
  ReportRow scope;
  for (const BookRow& r : rows.rows()) {
    const DateTimeParts p = date_time_parts(r.time);
    if (p.year != year) continue;
    const bool expense = r.is_expense();
    add_to_report_row(&s.by_month.rows[p.month - 1], expense, r.amount);
    add_to_report_row(&s.by_month.total, expense, r.amount);
    if (month != 0 && p.month != month) continue;
    add_to_report_row(&categories[r.category], expense, r.amount);
    add_to_report_row(&channels[r.channel], expense, r.amount);
    add_to_report_row(&scope, expense, r.amount);
  }
  s.by_category = report_of(rows, std::move(categories), scope);
  s.by_channel = report_of(rows, std::move(channels), scope);
  return s;
}

std::vector<int> book_years(const BookRows& rows) {
  std::set<int> years;
  for (const BookRow& r : rows.rows()) years.insert(date_time_parts(r.time).year);
  return {years.begin(), years.end()};
}

}  // namespace pennacle
