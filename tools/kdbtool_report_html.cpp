// The report's page. Compiled with UTF-8 literals, as the page is UTF-8.
#include <string>

#include "charts/chart_svg.h"
#include "platform/gbk.h"
#include "tools/kdbtool_report.h"

namespace pennacle {
namespace {

constexpr uint32_t kExpenseRgb = 0xD9534F;
constexpr uint32_t kIncomeRgb = 0x4CAE4C;

const char* const kStyle =
    "body{font-family:\"WenQuanYi Micro Hei\",\"Noto Sans CJK SC\",\"AR PL UMing CN\",sans-serif;"
    "margin:24px;color:#222;background:#fff}"
    "h1{font-size:22px}h2{font-size:17px;margin-top:28px}"
    ".charts{display:flex;flex-wrap:wrap;gap:16px}"
    "table{border-collapse:collapse;margin:8px 0}"
    "th,td{border:1px solid #ccc;padding:3px 10px}td.n{text-align:right;font-variant-numeric:tabular-nums}"
    "tr.total td{font-weight:bold;background:#f3f3f3}";

std::string escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string key_text(const ReportRow& r, bool month) { return month ? r.key : gbk_to_utf8_lossy(r.key); }

std::string table_html(const Report& report, const char* key_title, bool month) {
  std::string s = std::string("<table><tr><th>") + key_title +
                  "</th><th>支出</th><th>收入</th><th>结余</th><th>笔数</th></tr>\n";
  auto row = [&](const std::string& key, const ReportRow& r, const char* cls) {
    s += std::string("<tr") + cls + "><td>" + escaped(key) + "</td><td class=\"n\">" + money_text(r.expense) +
         "</td><td class=\"n\">" + money_text(r.income) + "</td><td class=\"n\">" + money_text(r.balance()) +
         "</td><td class=\"n\">" + std::to_string(r.count) + "</td></tr>\n";
  };
  for (const ReportRow& r : report.rows) row(key_text(r, month), r, "");
  row("合计", report.total, " class=\"total\"");
  return s + "</table>\n";
}

// "3月" for the month key "2023-03".
std::string month_label(const std::string& key) { return std::to_string(std::stoi(key.substr(5))) + "月"; }

Result<std::string> month_chart(const YearReports& r) {
  BarChartFigures figures;
  figures.title = std::to_string(r.year) + " 年每月支出与收入（元）";
  ChartSeries expense{"支出", {}, kExpenseRgb}, income{"收入", {}, kIncomeRgb};
  for (const ReportRow& row : r.by_month.rows) {
    figures.categories.push_back(month_label(row.key));
    expense.values.push_back(row.expense);
    income.values.push_back(row.income);
  }
  figures.series = {expense, income};
  return bar_chart_svg(figures);
}

// A pie of 支出 per key; a note instead when the year has no 支出.
Result<std::string> expense_pie(const Report& report, const std::string& title) {
  PieChartFigures figures;
  figures.title = title;
  for (const ReportRow& row : report.rows) {
    if (row.expense <= 0) continue;
    figures.labels.push_back(gbk_to_utf8_lossy(row.key));
    figures.values.push_back(row.expense);
  }
  if (figures.values.empty()) return "<p>" + escaped(title) + "：这一年没有支出。</p>";
  return pie_chart_svg(figures);
}

}  // namespace

Result<std::string> report_page(const YearReports& r) {
  const std::string year = std::to_string(r.year);
  Result<std::string> months = month_chart(r);
  if (!months.ok()) return months.status();
  Result<std::string> categories = expense_pie(r.by_category, year + " 年支出 按分类");
  if (!categories.ok()) return categories.status();
  Result<std::string> channels = expense_pie(r.by_channel, year + " 年支出 按付款方式");
  if (!channels.ok()) return channels.status();
  std::string s = "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + year +
                  " 年收支报表</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<h1>" + year +
                  " 年收支报表</h1>\n";
  s += "<div class=\"charts\">\n" + *months + "\n</div>\n";
  s += "<div class=\"charts\">\n" + *categories + "\n" + *channels + "\n</div>\n";
  s += "<h2>每月</h2>\n" + table_html(r.by_month, "月份", true);
  s += "<h2>按分类</h2>\n" + table_html(r.by_category, "分类", false);
  s += "<h2>按付款方式</h2>\n" + table_html(r.by_channel, "付款方式", false);
  return s + "</body>\n</html>\n";
}

}  // namespace pennacle
