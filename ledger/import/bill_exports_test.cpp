#include "ledger/import/bill_exports.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "ledger/import/bill_text.h"
#include "ledger/import/export_samples.h"
#include "platform/gbk.h"
#include "runtime/convert.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

using Kind = ExportBill::Kind;

struct Expected {
  bool income;
  Kind kind;
  double amount;
  std::string time;    // as in the sample
  std::string remark;  // GBK
  std::string order;
  std::string merchant;
};

double time_of(const std::string& t) { return parse_trade_time(t).value(); }

void expect_bills(const ExportRead& r, const std::vector<Expected>& want, const std::string& what) {
  ASSERT_EQ(r.bills.size(), want.size()) << what;
  for (size_t i = 0; i < want.size(); ++i) {
    const ExportBill& b = r.bills[i];
    SCOPED_TRACE(what + " bill " + std::to_string(i));
    EXPECT_EQ(b.income, want[i].income);
    EXPECT_EQ(b.kind, want[i].kind);
    EXPECT_EQ(b.amount, want[i].amount);
    EXPECT_EQ(b.time, time_of(want[i].time));
    EXPECT_EQ(b.remark, want[i].remark);
    EXPECT_EQ(b.order, want[i].order);
    EXPECT_EQ(b.merchant, want[i].merchant);
  }
}

// The line a sample's first bill stands on: the one after its header row.
int first_bill_line(const std::string& text, const std::string& header_start) {
  const size_t at = text.find(header_start);
  return 2 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
}

ExportRead read_ok(const std::string& bytes, std::optional<ExportSource> force = std::nullopt) {
  Result<ExportRead> r = read_bill_export(bytes, ExportOptions{force});
  EXPECT_TRUE(r.ok()) << r.status().message();
  EXPECT_TRUE(r->errors.empty()) << (r->errors.empty() ? "" : r->errors[0].text);
  return r.ok() ? std::move(*r) : ExportRead{};
}

// The failure a read gives ("" when it read).
Status read_failure(const std::string& bytes, ExportOptions o = {}) {
  return read_bill_export(bytes, o).status();
}

// The closed payments come too, for their refunds' sake; a refund keeps its own 收/支.
const std::vector<Expected> kAlipayBills = {
    {false, Kind::Payment, 28.16, "2023-03-01 12:30:45", "示例餐厅 · 午餐套餐",
     "2023030122001400001000000001", "T20230301000001"},
    {true, Kind::Payment, 100, "2023-03-02 08:00:00", "李小红 · 还款", "2023030222001400001000000002", ""},
    {false, Kind::Closed, 35.5, "2023-03-04 10:00:00", "示例书店 · 图书一本", "2023030422001400001000000004",
     "T20230304000004"},
    {false, Kind::Closed, 199, "2023-03-05 11:20:00", "示例商城 · 蓝牙耳机", "2023030522001400001000000005",
     "T20230305000005"},
    {false, Kind::Refund, 199, "2023-03-06 16:40:00", "示例商城 · 退款-蓝牙耳机",
     "2023030522001400001000000005_1678090000", "T20230305000005"},
    {false, Kind::Payment, 35.5, "2023-03-07 19:05:09", "示例出行 · 快车 4.2公里",
     "2023030722001400001000000007", "T20230307000007"}};

TEST(AlipayExport, EveryLayoutGivesTheSameBills) {
  const std::string layouts[] = {alipay_2023_csv(alipay_rows()), alipay_pc_csv(alipay_rows()),
                                 alipay_app_csv(alipay_rows())};
  const char* names[] = {"2023", "pc", "app"};
  const char* headers[] = {"交易时间,交易分类", "交易号 ", "收/支,交易对方"};
  for (int k = 0; k < 3; ++k) {
    ExportRead r = read_ok(layouts[k]);
    EXPECT_EQ(r.source, ExportSource::Alipay);
    expect_bills(r, kAlipayBills, names[k]);
    EXPECT_EQ(r.neutral, 1) << names[k];
    EXPECT_EQ(r.failed_or_closed, 2) << names[k];
    ASSERT_EQ(r.bills.size(), 6u);
    EXPECT_EQ(r.bills[0].line, first_bill_line(layouts[k], headers[k])) << names[k];
    EXPECT_EQ(r.bills[5].line, r.bills[0].line + 6) << names[k];
    // The same bytes forced as Alipay read the same; forced as WeChat they are refused.
    expect_bills(read_ok(layouts[k], ExportSource::Alipay), kAlipayBills, names[k]);
    const Status forced = read_failure(layouts[k], ExportOptions{ExportSource::WeChat});
    EXPECT_FALSE(forced.ok());
    EXPECT_NE(forced.code(), StatusCode::NotFound);
    EXPECT_NE(forced.message().find("WeChat Pay header"), std::string::npos) << forced.message();
  }
}

const std::vector<Expected> kWeChatBills = {
    {false, Kind::Payment, 28.16, "2023-03-01 12:30:45", "示例超市 · 商品A", "4200001000202303011000000001",
     "10000001"},
    {true, Kind::Payment, 100, "2023-03-02 08:00:00", "李小红 · 转账备注:还钱",
     "1000050001202303020000000002", ""},
    {false, Kind::Closed, 35.5, "2023-03-04 10:00:00", "示例书店 · 图书一本", "4200001000202303041000000004",
     "10000004"},
    {false, Kind::Payment, 199, "2023-03-05 11:20:00", "示例商城 · 蓝牙耳机", "4200001000202303051000000005",
     "10000005"},
    {true, Kind::Refund, 199, "2023-03-06 16:40:00", "示例商城 · 退款-蓝牙耳机",
     "5030001000202303061000000006", "10000005"}};

std::string serial_text(const std::string& time, double offset = 0) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", time_of(time) - offset);
  return buf;
}

TEST(WeChatExport, CsvAndWorkbookGiveTheSameBills) {
  const std::string csv = wechat_csv(wechat_rows());
  ExportRead r = read_ok(csv);
  EXPECT_EQ(r.source, ExportSource::WeChat);
  expect_bills(r, kWeChatBills, "csv");
  EXPECT_EQ(r.neutral, 2);
  EXPECT_EQ(r.failed_or_closed, 1);
  EXPECT_EQ(r.bills[0].line, 18);  // BOM, 16 preamble lines, the header
  // Times as text cells, then as date serials in every other row.
  std::vector<std::string> serials;
  for (size_t i = 0; i < wechat_rows().size(); ++i)
    serials.push_back(i % 2 ? "" : serial_text(wechat_rows()[i].time));
  for (const std::string& book : {wechat_xlsx(wechat_rows()), wechat_xlsx(wechat_rows(), serials)}) {
    ASSERT_FALSE(book.empty());
    ExportRead x = read_ok(book);
    EXPECT_EQ(x.source, ExportSource::WeChat);
    expect_bills(x, kWeChatBills, "xlsx");
    EXPECT_EQ(x.neutral, 2);
    EXPECT_EQ(x.failed_or_closed, 1);
    EXPECT_EQ(x.bills[0].line, 18);  // 16 preamble rows, the header
  }
}

TEST(WeChatExport, A1904WorkbookCountsItsSerialsFromThen) {
  std::vector<std::vector<XlsxCell>> rows;
  std::vector<XlsxCell> header;
  for (const char* h : {"交易时间", "交易类型", "交易对方", "商品", "收/支", "金额(元)", "支付方式",
                        "当前状态", "交易单号"}) {
    header.push_back({u8(h)});
  }
  rows.push_back(header);
  // Days from 1899-12-30 to 1904-01-01.
  rows.push_back({{serial_text("2023-03-01 12:30:45", 1462), XlsxCell::Kind::Number},
                  {u8("商户消费")},
                  {u8("示例超市")},
                  {u8("商品A")},
                  {u8("支出")},
                  {"28.16", XlsxCell::Kind::Number},
                  {u8("零钱")},
                  {u8("支付成功")},
                  {"42000010"}});
  ExportRead r = read_ok(make_xlsx(rows, true));
  ASSERT_EQ(r.bills.size(), 1u);
  EXPECT_EQ(r.bills[0].time, time_of("2023-03-01 12:30:45"));
  EXPECT_EQ(r.bills[0].line, 2);
}

TEST(ExportRecognition, OtherFilesAreNotTakenForExports) {
  for (const std::string& other :
       {std::string(u8("类型,金额,付款方式\n支出,5,微信\n")), std::string("a,b\n1,2\n"),
        std::string("\xFF\xFE\x00\x01", 4), std::string()}) {
    EXPECT_EQ(read_failure(other).code(), StatusCode::NotFound);
  }
  // A workbook is never our own CSV: one without a bill header says what was expected.
  const Status no_header = read_failure(make_xlsx({{{"a"}, {"b"}}}));
  EXPECT_EQ(no_header.code(), StatusCode::Invalid);
  EXPECT_NE(no_header.message().find(u8("交易订单号")), std::string::npos) << no_header.message();
  const Status damaged = read_failure(std::string("PK\x03\x04 damaged", 12));
  EXPECT_EQ(damaged.code(), StatusCode::Corrupt);
  EXPECT_NE(damaged.message().find("zip"), std::string::npos) << damaged.message();
  // A header is found by its names: moved further down and with the columns in another order.
  const std::string moved = std::string(40, '\n') + alipay_app_csv(alipay_rows());
  EXPECT_EQ(read_ok(moved).bills.size(), kAlipayBills.size());
  EXPECT_EQ(read_failure(std::string(120, '\n') + alipay_2023_csv(alipay_rows())).code(),
            StatusCode::NotFound);
}

TEST(ExportRows, BadRowsGiveTheirLinesAndReasons) {
  std::vector<SampleRow> rows = alipay_rows();
  rows[0].amount = "abc";
  rows[1].amount = "0.0000001";
  rows[5].time = "2023-02-29 10:00:00";
  rows[4].time = "not checked";  // nor is a closed payment
  rows[6].direction = "其他";
  rows[2].amount = "not checked";  // a neutral row is not imported, so not checked
  const std::string text = alipay_2023_csv(rows);
  Result<ExportRead> read = read_bill_export(text, ExportOptions{});
  ASSERT_TRUE(read.ok()) << read.status().message();
  ExportRead& r = *read;
  const int first = first_bill_line(text, "交易时间,");
  ASSERT_EQ(r.errors.size(), 4u);
  const int lines[] = {first, first + 1, first + 5, first + 6};
  const char* reasons[] = {"is not an amount", "is not above 0.0000001", "is not a date and time", "收/支"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(r.errors[i].line, lines[i]);
    EXPECT_NE(r.errors[i].text.find(u8(reasons[i])), std::string::npos) << r.errors[i].text;
  }
  // An unclosed quote in a bill row is that row's error; the rows after it are still read.
  const std::string quoted = alipay_app_csv(alipay_rows());
  const size_t at = quoted.find("\"午餐套餐\"");
  ASSERT_NE(at, std::string::npos);
  std::string broken = quoted;
  broken.erase(at + std::string("\"午餐套餐").size(), 1);
  read = read_bill_export(broken, ExportOptions{});
  ASSERT_TRUE(read.ok()) << read.status().message();
  ASSERT_FALSE(r.errors.empty());
  EXPECT_EQ(r.errors[0].line, 3);
}

TEST(ExportRows, RemarksComeWholeAndWithoutWhatGbkCannotHold) {
  std::vector<SampleRow> rows = alipay_rows();
  for (int i = 0; i < 300; ++i) rows[0].goods += "长";
  rows[1].counterpart = "";
  rows[1].goods = "/";
  const std::string gbk = alipay_2023_csv(rows);
  ExportRead r = read_ok(gbk);
  ASSERT_EQ(r.bills.size(), 6u);
  // The reader keeps the whole remark: the import cuts it once, to what the ledger's field takes.
  EXPECT_GT(r.bills[0].remark.size(), 600u);
  EXPECT_TRUE(gbk_to_utf8(r.bills[0].remark).has_value());
  EXPECT_EQ(r.bills[1].remark, "");
  EXPECT_TRUE(r.notices.empty());
  // A character GBK cannot hold is left out and reported; the rest of the remark stays.
  std::string csv = wechat_csv(wechat_rows());
  const size_t at = csv.find(u8("商品A"));
  // The euro sign stays: GBK writes it as the one byte 0x80, a character of its own.
  csv.insert(at + u8("商品A").size(), "\xF0\x9F\x8E\x81\xE2\x82\xAC");
  r = read_ok(csv);
  EXPECT_EQ(r.bills[0].remark, std::string("示例超市 · 商品A") + "\x80");
  ASSERT_EQ(r.notices.size(), 1u);
  EXPECT_NE(r.notices[0].text.find("1 character"), std::string::npos);
}

// Each cell stands under its header: a row with more or fewer cells than the header names is
// refused with its line, never read with its cells shifted, nor skipped as neutral.
TEST(ExportRows, ARowOfAnotherWidthThanTheHeaderIsRefused) {
  std::vector<SampleRow> rows = alipay_rows();
  rows[0].amount = "￥1,234.56";  // unquoted: the comma splits it into two cells
  std::string text = alipay_2023_csv(rows);
  const int first = first_bill_line(text, "交易时间,");
  text.resize(text.find("示例出行") + std::string("示例出行").size());  // the last row cut off
  Result<ExportRead> r = read_bill_export(text, ExportOptions{});
  ASSERT_TRUE(r.ok()) << r.status().message();
  ASSERT_EQ(r->errors.size(), 2u);
  EXPECT_EQ(r->errors[0].line, first);
  EXPECT_EQ(r->errors[0].text, "13 cells, the header has 12");
  EXPECT_EQ(r->errors[1].line, first + 6);
  EXPECT_EQ(r->errors[1].text, "3 cells, the header has 12");
  EXPECT_EQ(r->neutral, 1);  // the transfer alone
  for (const ExportBill& b : r->bills) EXPECT_NE(b.line, first);
  // The same in a WeChat Pay export; quoted, the amount with its thousands separator reads.
  std::vector<SampleRow> w = wechat_rows();
  w[0].amount = "1,234.56";
  r = read_bill_export(wechat_csv(w), ExportOptions{});
  ASSERT_TRUE(r.ok()) << r.status().message();
  ASSERT_EQ(r->errors.size(), 1u);
  EXPECT_EQ(r->errors[0].line, 18);
  EXPECT_EQ(r->errors[0].text, "12 cells, the header has 11");
  std::string quoted = wechat_csv(w);
  const std::string cell =
      "\xC2\xA5"
      "1,234.56";
  quoted.replace(quoted.find(cell), cell.size(), "\"" + cell + "\"");
  EXPECT_EQ(read_ok(quoted).bills.at(0).amount, 1234.56);
  // A trailing comma more or less than the header has is no cell.
  std::string alipay = alipay_2023_csv(alipay_rows()), wechat = wechat_csv(wechat_rows());
  for (size_t at = 0; (at = alipay.find("\t,,\r\n", at)) != std::string::npos;) alipay.erase(at + 2, 1);
  for (size_t at = 0; (at = wechat.find(",\"/\"\n", at)) != std::string::npos; at += 6)
    wechat.insert(at + 4, ",");
  expect_bills(read_ok(alipay), kAlipayBills, "rows without the header's trailing comma");
  expect_bills(read_ok(wechat), kWeChatBills, "rows with a trailing comma");
}

// WeChat Pay writes a tab after the closing quote of some cells: "3985734"<TAB>,"129847129"<TAB>,"/".
TEST(WeChatExport, ATabAfterAClosingQuoteIsPadding) {
  std::string csv = wechat_csv(wechat_rows());
  for (const SampleRow& r : wechat_rows()) {
    for (const std::string& n : {r.order, r.merchant}) {
      const std::string plain = "," + n + "\t,";
      const size_t at = csv.find(plain);
      ASSERT_NE(at, std::string::npos) << n;
      csv.replace(at, plain.size(), ",\"" + n + "\"\t,");
    }
  }
  for (size_t at = 0; (at = csv.find(",\"/\"\n", at)) != std::string::npos; at += 6) csv.insert(at + 4, "\t");
  expect_bills(read_ok(csv), kWeChatBills, "quoted cells followed by tabs");
}

// A number cell may hold any form of a number a workbook allows; a text cell holds a plain decimal.
TEST(WeChatExport, NumberCellsInEveryFormAndTextAmountsThatAreNone) {
  std::vector<SampleRow> rows = wechat_rows();
  rows[0].amount = "7.0000000000000007E-2";
  rows[1].amount = "1E-2";
  rows[4].amount = exponent_text(199);
  rows[5].amount = "+1.99E2";
  const ExportRead r = read_ok(wechat_xlsx(rows, {exponent_text(time_of(rows[0].time))}));
  ASSERT_EQ(r.bills.size(), kWeChatBills.size());
  EXPECT_EQ(r.bills[0].amount, 0.07);
  EXPECT_EQ(r.bills[0].time, time_of(rows[0].time));
  EXPECT_EQ(r.bills[1].amount, 0.01);
  for (const ExportBill& b : r.bills) {
    if (b.line >= 22) {
      EXPECT_EQ(b.amount, 199) << b.line;  // rows[4] and rows[5], from exponent forms
    }
  }
  // "7E-2" as text is no amount, and neither is a number of 1e12 or more.
  std::vector<std::vector<XlsxCell>> sheet = wechat_sheet(wechat_rows());
  sheet[17][5] = {"7E-2", XlsxCell::Kind::Shared};
  sheet[18][5] = {"1E12", XlsxCell::Kind::Number};
  Result<ExportRead> bad = read_bill_export(make_workbook({{u8("账单"), sheet}}), ExportOptions{});
  ASSERT_TRUE(bad.ok()) << bad.status().message();
  ASSERT_EQ(bad->errors.size(), 2u);
  EXPECT_EQ(bad->errors[0].line, 18);
  EXPECT_EQ(bad->errors[1].line, 19);
  for (const RowNote& e : bad->errors)
    EXPECT_NE(e.text.find("is not an amount"), std::string::npos) << e.text;
}

TEST(WeChatExport, EveryWorksheetIsSearchedAndRowsAreNamedBySheet) {
  const std::vector<std::vector<XlsxCell>> notes = {{{u8("说明")}}, {{u8("示例文字")}}};
  std::vector<SampleRow> rows = wechat_rows();
  rows[0].time = "2023-02-30 00:00:00";
  const std::string book =
      make_workbook({{u8("说明"), notes}, {u8("账单"), wechat_sheet(rows)}, {u8("汇总"), notes}});
  Result<ExportRead> r = read_bill_export(book, ExportOptions{});
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_EQ(r->source, ExportSource::WeChat);
  EXPECT_EQ(r->sheet, u8("账单"));
  EXPECT_EQ(r->bills.size(), kWeChatBills.size() - 1);  // the first row's time is no date
  ASSERT_EQ(r->errors.size(), 1u);
  EXPECT_EQ(row_place(*r, r->errors[0].line), u8("sheet 账单, row 18"));
  EXPECT_EQ(row_place(read_ok(wechat_csv(wechat_rows())), 18), "line 18");
  // No sheet has the header: the message says how many were searched.
  const std::string none = make_workbook({{"a", notes}, {"b", notes}, {"c", {}}});
  for (const ExportOptions& o : {ExportOptions{}, ExportOptions{ExportSource::Alipay}}) {
    const Status s = read_failure(none, o);
    EXPECT_EQ(s.code(), StatusCode::Invalid);
    EXPECT_NE(s.message().find("3 sheets"), std::string::npos) << s.message();
  }
}

TEST(ExportCells, TextAmountsArePlainDecimalsBelowOneTrillion) {
  EXPECT_EQ(parse_export_amount("12,345,678.9"), 12345678.9);
  EXPECT_EQ(parse_export_amount("999,999,999,999.99"), 999999999999.99);
  EXPECT_EQ(parse_export_amount("0.07"), 0.07);
  for (const char* bad :
       {"1,23", "1234,567", "12,3456", "1,234,56", "1,234.5,6", "1e-2", "7.0000000000000007E-2",
        "1000000000000", "1,000,000,000,000.00", "0x10", "inf", "nan", "+-5"}) {
    EXPECT_FALSE(parse_export_amount(bad).has_value()) << bad;
  }
}

TEST(ExportRows, OnlyStatusesSayingTheMoneyMovedMakeBills) {
  struct Case {
    const char* status;
    int bills, pending, unknown, closed;
  };
  const Case cases[] = {{"交易成功", 1, 0, 0, 0},   {"等待确认收货", 1, 0, 0, 0}, {"还款成功", 1, 0, 0, 0},
                        {"等待付款", 0, 1, 0, 0},   {"处理中", 0, 1, 0, 0},       {"", 0, 1, 0, 0},
                        {"提现处理中", 0, 1, 0, 0}, {"交易关闭", 1, 0, 0, 1},     {"支付失败", 1, 0, 0, 1},
                        {"已撤销", 1, 0, 0, 1},     {"差不多成功", 0, 0, 1, 0}};
  for (const Case& c : cases) {
    std::vector<SampleRow> rows = {alipay_rows()[0]};
    rows[0].status = c.status;
    const ExportRead r = read_ok(alipay_2023_csv(rows));
    SCOPED_TRACE(c.status);
    ASSERT_EQ(r.bills.size(), static_cast<size_t>(c.bills));
    if (c.bills) {
      EXPECT_EQ(r.bills[0].kind, c.closed ? Kind::Closed : Kind::Payment);
    }
    EXPECT_EQ(r.pending, c.pending);
    EXPECT_EQ(r.failed_or_closed, c.closed);
    ASSERT_EQ(r.unknown_statuses.size(), static_cast<size_t>(c.unknown));
    if (c.unknown) {
      EXPECT_EQ(r.unknown_statuses[0].text, u8(c.status));
    }
  }
  // WeChat Pay's payment refunded in part or whole stays a payment: the money moved.
  for (const char* refunded : {"已退款(￥5.00)", "已全额退款"}) {
    std::vector<SampleRow> rows = {wechat_rows()[0]};
    rows[0].status = refunded;
    const ExportRead r = read_ok(wechat_csv(rows));
    ASSERT_EQ(r.bills.size(), 1u);
    EXPECT_EQ(r.bills[0].kind, Kind::Payment);
  }
  // A neutral row stays neutral whatever its status; a refund not yet paid back is pending.
  std::vector<SampleRow> rows = alipay_rows();
  rows[2].status = "处理中";
  rows[5].status = "退款中";
  const ExportRead r = read_ok(alipay_2023_csv(rows));
  EXPECT_EQ(r.neutral, 1);
  EXPECT_EQ(r.pending, 1);
  EXPECT_EQ(r.bills.size(), kAlipayBills.size() - 1);
}

TEST(ExportCells, AmountsAndTimes) {
  EXPECT_EQ(parse_export_amount(u8("￥1,234.50")), 1234.5);
  EXPECT_EQ(parse_export_amount("\xC2\xA5"
                                "28.16\t"),
            28.16);
  EXPECT_EQ(parse_export_amount("  -5.00 "), 5.0);
  EXPECT_EQ(parse_export_amount("-\xC2\xA5"
                                "5"),
            5.0);
  EXPECT_EQ(parse_export_amount(".5"), 0.5);
  for (const char* bad : {"", "abc", "1.2.3", "1e5", "5 元", "\xC2\xA5", ",5", "1,", "--5"}) {
    EXPECT_FALSE(parse_export_amount(bad).has_value()) << bad;
  }
  EXPECT_FALSE(parse_export_amount(std::string(400, '9')).has_value());  // not finite
  EXPECT_EQ(parse_trade_time("2023/3/1 9:05"), make_date_time(2023, 3, 1, 9, 5, 0));
  EXPECT_EQ(parse_trade_time("2023-03-01\t"), make_date_time(2023, 3, 1));
  EXPECT_EQ(parse_trade_time("2024-02-29T23:59:59"), make_date_time(2024, 2, 29, 23, 59, 59));
  for (const char* bad : {"2023-02-29", "2023-03-01 24:00", "2023-03/01", "23-03-01", "2023-03-01 12:3",
                          "2023-03-01 12:30:45.5", "44986.5"}) {
    EXPECT_FALSE(parse_trade_time(bad).has_value()) << bad;
  }
  EXPECT_EQ(trade_time_from_serial(44986.5, false), make_date_time(2023, 3, 1, 12, 0, 0));
  EXPECT_EQ(trade_time_from_serial(44986.5 + 0.4 / 86400, false), make_date_time(2023, 3, 1, 12, 0, 0));
  EXPECT_FALSE(trade_time_from_serial(60, false).has_value());  // before 1900-03-01
  EXPECT_FALSE(trade_time_from_serial(1e300, false).has_value());
  EXPECT_EQ(cut_gbk("ab示例", 3), "ab");
  EXPECT_EQ(trade_time_from_serial(0, true), make_date_time(1904, 1, 1));
}

}  // namespace
}  // namespace pennacle
