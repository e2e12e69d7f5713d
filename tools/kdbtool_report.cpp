// This file is compiled with UTF-8 literals: everything it prints goes to a UTF-8 terminal.
#include "tools/kdbtool_report.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>

#include "ledger/import/bill_text.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "store/record_store.h"
#include "tools/kdbtool_text.h"

namespace pennacle {
namespace {

const char* const kReportHelp =
    "usage: kdbtool report FILE [--year Y] [--by month|category|channel] [--html OUT]\n"
    "Prints, for the year Y (this year by default), per month (or per category or payment channel) the\n"
    "sums of 支出 and 收入, the balance (收入 minus 支出) and the count of bills, with the totals.\n"
    "--html OUT also writes one page that opens offline and runs no script: a bar chart of 支出 and\n"
    "收入 per month, charts of 支出 by category and by channel, and tables of the same figures.\n";

struct ReportArgs {
  std::string file, html;
  int year = 0;
  ReportBy by = ReportBy::Month;
};

Result<ReportArgs> parse_report_args(const std::vector<std::string>& args) {
  ReportArgs ra;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--year") {
      const std::string y = has_value ? args[++i] : "";
      if (y.size() != 4 || y.find_first_not_of("0123456789") != std::string::npos || y < "0100")
        return Status::invalid("--year takes a year from 0100 to 9998");
      ra.year = std::stoi(y);
      if (ra.year > 9998) return Status::invalid("--year takes a year from 0100 to 9998");
    } else if (a == "--by") {
      const std::string by = has_value ? args[++i] : "";
      if (by != "month" && by != "category" && by != "channel")
        return Status::invalid("--by takes month, category or channel");
      ra.by = by == "month" ? ReportBy::Month : by == "category" ? ReportBy::Category : ReportBy::Channel;
    } else if (a == "--html") {
      if (!has_value) return Status::invalid("--html takes the file to write");
      ra.html = args[++i];
    } else if (a.size() > 1 && a[0] == '-') {
      return Status::invalid("unknown option '" + a + "' (see kdbtool report --help)");
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 1) return Status::invalid("report needs exactly one FILE (see kdbtool report --help)");
  ra.file = files[0];
  if (ra.year == 0) ra.year = date_time_parts(current_date_time()).year;
  return ra;
}

// Writes `text` to `path` whole or not at all: a copy beside it, renamed over it once written.
Status write_whole(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".writing";
  std::ofstream f(temporary, std::ios::binary | std::ios::trunc);
  if (f) f.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (f) f.close();
  if (!f) {
    const std::string why = std::strerror(errno);
    ::unlink(temporary.c_str());
    return Status::invalid(path + ": cannot write the page: " + why);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(temporary.c_str());
    return Status::invalid(path + ": cannot write the page: " + why);
  }
  return Status();
}

std::string pad(const std::string& s, size_t width, bool right) {
  const size_t w = display_width(s);
  const std::string fill(width > w ? width - w : 0, ' ');
  return right ? fill + s : s + fill;
}

std::string key_text(const std::string& key, bool month) { return month ? key : gbk_to_utf8_lossy(key); }

}  // namespace

std::string report_table(const Report& report, const std::string& key_title) {
  const bool month = key_title == "月份";
  std::vector<std::vector<std::string>> cells = {{key_title, "支出", "收入", "结余", "笔数"}};
  for (const ReportRow& r : report.rows) {
    cells.push_back({key_text(r.key, month), money_text(r.expense), money_text(r.income),
                     money_text(r.balance()), std::to_string(r.count)});
  }
  const ReportRow& t = report.total;
  cells.push_back({"合计", money_text(t.expense), money_text(t.income), money_text(t.balance()),
                   std::to_string(t.count)});
  std::vector<size_t> widths(5, 0);
  for (const auto& row : cells) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], display_width(row[c]));
  }
  std::string text;
  for (size_t r = 0; r < cells.size(); ++r) {
    std::string line;
    for (size_t c = 0; c < cells[r].size(); ++c) line += (c ? "  " : "") + pad(cells[r][c], widths[c], c > 0);
    text += line + "\n";
    if (r == 0 || r + 2 == cells.size()) {
      size_t total = 2 * (widths.size() - 1);
      for (size_t w : widths) total += w;
      text += std::string(total, '-') + "\n";
    }
  }
  return text;
}

int kdbtool_report(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << kReportHelp, 0;
  Result<ReportArgs> ra = parse_report_args(args);
  if (!ra.ok()) return fail(err, ra.status().message());
  if (Status opened = open_record_file(ra->file, true); !opened.ok()) return fail(err, opened.message());
  Result<BillTable> table = current_bill_table();
  Result<JournalRows> bills =
      table.ok() ? read_report_rows(year_range(ra->year)) : Result<JournalRows>(table.status());
  call_command(db_close, {});
  if (!bills.ok()) return fail(err, ra->file + ": " + bills.status().message());
  const YearReports reports{ra->year, build_report(*bills, ReportBy::Month, ra->year),
                            build_report(*bills, ReportBy::Category),
                            build_report(*bills, ReportBy::Channel)};
  const Report& shown = ra->by == ReportBy::Month      ? reports.by_month
                        : ra->by == ReportBy::Category ? reports.by_category
                                                       : reports.by_channel;
  const char* title = ra->by == ReportBy::Month ? "月份" : ra->by == ReportBy::Category ? "分类" : "付款方式";
  out << ra->year << "\n" << report_table(shown, title);
  if (ra->html.empty()) return 0;
  Result<std::string> page = report_page(reports);
  if (!page.ok()) return fail(err, ra->html + ": " + page.status().message());
  if (Status written = write_whole(ra->html, *page); !written.ok()) return fail(err, written.message());
  out << "wrote " << ra->html << "\n";
  return 0;
}

}  // namespace pennacle
