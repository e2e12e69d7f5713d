// kdbtool report: where the money went in a year, per month, category or channel, as a table on the
// terminal and, with --html, as a page with charts.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "ledger/report.h"
#include "platform/status.h"

namespace pennacle {

// The report as a table of UTF-8 text: a header, a row per key and the totals, columns aligned by
// the width they take on a terminal (a Chinese character takes two). `key_title` heads the first
// column.
std::string report_table(const Report& report, const std::string& key_title);

// The page of a year (UTF-8 HTML, no script): a bar chart of 支出 and 收入 per month, a pie of 支出
// by category and one by channel, and tables of the same figures. The charts are Qt Charts
// rendered to SVG and embedded in the page.
struct YearReports {
  int year = 0;
  Report by_month, by_category, by_channel;
};
Result<std::string> report_page(const YearReports& reports);

int kdbtool_report(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace pennacle
