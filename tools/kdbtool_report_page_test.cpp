#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "tools/journal_checkers_test_support.h"
#include "tools/kdbtool_report.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class ReportPage : public JournalLedgerTest {
 protected:
  // A small year whose bars can be told apart: January 支出 1000 and 收入 500, June 支出 250.
  std::string make_year_ledger() {
    const std::string db = make_ledger("year.kdb");
    const std::string csv =
        u8("类型,金额,付款方式,时间,备注\n"
           "支出,600,支付宝,2023-01-05 12:00:00,房租\n"
           "支出,400,微信,2023-01-20 12:00:00,<b>&\n"
           "收入,500,银行卡,2023-01-25 12:00:00,工资\n"
           "支出,250,支付宝,2023-06-01 12:00:00,午餐\n");
    EXPECT_EQ(run({"import", db, write_export("year.csv", csv)}), 0) << err_.str();
    return db;
  }
  std::string page(const std::string& db, const std::string& name) {
    EXPECT_EQ(run({"report", db, "--year", "2023", "--html", path(name)}), 0) << err_.str();
    return read_bytes(path(name));
  }
};

size_t count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

// One page, nothing fetched and nothing run: three charts inline and the tables of the figures.
TEST_F(ReportPage, ThePageIsSelfContainedWithChartsAndTables) {
  const std::string db = make_journal_ledger();
  const std::string html = page(db, "r.html");
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_EQ(count(html, "<svg"), 3u);
  EXPECT_EQ(count(html, "</svg>"), 3u);
  // Only the SVG namespaces name a web address, and only the page's own gradients are referred to.
  const std::string bare = std::regex_replace(html, std::regex(R"(xmlns(:xlink)?="[^"]*")"), "");
  for (const char* outside : {"<script", "http", "src=", "<link", "@import", "<iframe", "<object"})
    EXPECT_EQ(bare.find(outside), std::string::npos) << outside;
  EXPECT_FALSE(std::regex_search(bare, std::regex(R"re(url\((?!#)|href="(?!#))re")));
  // The month chart names every month; each pie names the channels or categories it shows.
  for (int m = 1; m <= 12; ++m)
    EXPECT_NE(html.find(">" + std::to_string(m) + u8("月<")), std::string::npos) << m;
  // The imported Alipay bills take the export's own 交易分类.
  EXPECT_NE(html.find(u8("餐饮美食 ")), std::string::npos);
  EXPECT_NE(html.find(u8("支付宝")), std::string::npos);
  // The tables: the same figures as the terminal's, months, categories and channels.
  EXPECT_EQ(count(html, "<table>"), 3u);
  EXPECT_NE(html.find(u8("<td>2023-04</td><td class=\"n\">0.00</td><td class=\"n\">999999999999.99</td>")),
            std::string::npos);
  EXPECT_NE(html.find(u8("<td>花呗 (借)</td><td class=\"n\">0.00</td>")), std::string::npos);
  EXPECT_EQ(out_.str().find("wrote "), out_.str().rfind('\n', out_.str().size() - 2) + 1);
}

// Text from the ledger is text on the page, never markup.
TEST_F(ReportPage, NamesAreEscaped) {
  const std::string db = make_ledger();
  const std::string csv = u8("类型,金额,付款方式,时间,备注\n支出,1,<i>x&y</i>,2023-01-05 12:00:00,\n");
  ASSERT_EQ(run({"import", db, write_export("a.csv", csv)}), 0) << err_.str();
  const std::string html = page(db, "e.html");
  EXPECT_NE(html.find("<td>&lt;i&gt;x&amp;y&lt;/i&gt;</td>"), std::string::npos);
  EXPECT_EQ(html.find("<i>x"), std::string::npos);
}

// Headless Chromium opens the page offline and draws it; the screenshot is kept beside the test
// (report_screenshot.png) for a person to look at, and must hold the bars of both colours.
TEST_F(ReportPage, ChromiumDrawsThePage) {
  PN_SKIP_WITHOUT("chromium");
  PN_SKIP_WITHOUT("convert");
  const std::string db = make_year_ledger();
  page(db, "year.html");
  // Drawn in the test's own folder: the test runs twice at once (both store modes), and each keeps
  // its picture beside the test by a rename, whole.
  const std::string shot = path("report.png");
  const CommandRun drawn = run_command(
      "timeout 120 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --user-data-dir='" +
      path("chromium") + "' --window-size=1100,1500 --screenshot='" + shot + "' 'file://" +
      path("year.html") + "'");
  ASSERT_TRUE(std::filesystem::exists(shot)) << drawn.output;
  const std::string kept = std::filesystem::absolute("report_screenshot.png").string();
  std::filesystem::copy_file(shot, kept + "." + std::to_string(getpid()),
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::rename(kept + "." + std::to_string(getpid()), kept);
  // Pixels of each chart colour (anti-aliased edges aside): the bars and the legend marks.
  const CommandRun colours = run_command("convert '" + shot + "' -format %c histogram:info:-");
  ASSERT_EQ(colours.status, 0) << colours.output;
  auto pixels = [&](const std::string& hex) {
    const std::regex line("\\s*(\\d+):[^#]*#" + hex + "\\b");
    std::smatch m;
    std::string text = colours.output;
    long n = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it)
      n += std::stol((*it)[1]);
    return n;
  };
  const long expense = pixels("D9534F"), income = pixels("4CAE4C");
  // January's 支出 bar is twice its 收入 bar, and June adds a quarter of January's.
  EXPECT_GT(expense, 1000);
  EXPECT_GT(income, 500);
  EXPECT_GT(expense, income * 2);
}

}  // namespace
}  // namespace pennacle
