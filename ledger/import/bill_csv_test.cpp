#include "ledger/import/bill_csv.h"

#include <gtest/gtest.h>

#include "ledger/import/export_samples.h"
#include "platform/gbk.h"
#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

TEST(Csv, QuotesLineBreaksAndErrors) {
  Result<std::vector<CsvRecord>> read = parse_csv("a,\"b,c\",\"d\"\"e\"\n\"x\ny\",z\r\nlast");
  ASSERT_TRUE(read.ok());
  const std::vector<CsvRecord>& rows = *read;
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].cells, (std::vector<std::string>{"a", "b,c", "d\"e"}));
  EXPECT_EQ(rows[1].cells, (std::vector<std::string>{"x\ny", "z"}));
  EXPECT_EQ(rows[1].line, 2);
  EXPECT_EQ(rows[2].line, 4);
  EXPECT_EQ(parse_csv("a,\"open\n").status().message(), "line 1: a quoted cell is never closed");
  EXPECT_EQ(parse_csv("x\n\"a\"b\n").status().message(), "line 2: text after a closing quote");
  EXPECT_EQ(csv_cell("plain"), "plain");
  EXPECT_EQ(csv_cell("a\"b"), "\"a\"\"b\"");
  EXPECT_EQ(csv_cell("a\nb"), "\"a\nb\"");
}

// WeChat Pay writes a tab after some closing quotes; spaces and tabs there are padding, anything
// else is still text after a closing quote.
TEST(Csv, PaddingAfterAClosingQuoteIsNotText) {
  Result<std::vector<CsvRecord>> read = parse_csv("\"3985734\"\t,\"129847129\" \t ,\"/\"\t\r\n\"a\"  \nb\n");
  ASSERT_TRUE(read.ok()) << read.status().message();
  ASSERT_EQ(read->size(), 3u);
  EXPECT_EQ((*read)[0].cells, (std::vector<std::string>{"3985734", "129847129", "/"}));
  EXPECT_EQ((*read)[1].cells, (std::vector<std::string>{"a"}));
  EXPECT_EQ((*read)[2].line, 3);
  EXPECT_EQ(parse_csv("\"a\"\t x,b\n").status().message(), "line 1: text after a closing quote");
  EXPECT_EQ(parse_csv("\"a\" \"b\"\n").status().message(), "line 1: text after a closing quote");
}

// The columns of our CSV are the ledger's own field names: a header naming them in any order (with
// other columns between) places each cell, and without one the cells stand in the ledger's order.
// A reader that remembers the last date reads every text as parse_date_time does, whatever came
// before: a date it refused is refused again, a date it knows with a bad time is still refused.
TEST(DateTimes, AReaderThatRemembersTheDateReadsAsTheParser) {
  const std::vector<std::string> texts = {"2023-03-01 12:30:45",
                                          "2023-03-01 12:30:46",
                                          "2023-03-01 23:59:59",
                                          "2023-03-01",
                                          "2023-03-01T00:00:01",
                                          "2023-03-01 24:00:00",
                                          "2023-03-01 12:60:00",
                                          "2023-03-01 12:30:60",
                                          "2023-03-01 12:30",
                                          "2023-03-01 12:3",
                                          "2023-03-01 12:30:4",
                                          "2023-03-01x12:30:45",
                                          "2023-03-01 12:30:45 ",
                                          "2023-03-0",
                                          "2023-02-29 10:00:00",
                                          "2023-02-29 10:00:00",
                                          "2024-02-29 10:00:00",
                                          "2024-02-29 10:00:01",
                                          "0099-12-31 10:00:00",
                                          "0100-01-01 00:00:00",
                                          "2023-13-01 00:00:00",
                                          "2023-00-10",
                                          "202a-03-01 12:30:45",
                                          "2023-03-01 1a:30:45",
                                          "",
                                          "2023-03-01 12:30:45",
                                          "9999-12-31 23:59:59",
                                          "2023/03/01 12:30:45"};
  DateTimeReader reader;
  for (int pass = 0; pass < 2; ++pass) {  // the second pass starts from what the first left
    for (const std::string& text : texts) {
      double want = -1, got = -1;
      const bool parsed = parse_date_time(text, &want);
      EXPECT_EQ(reader.read(text, &got), parsed) << text;
      if (parsed) {
        EXPECT_EQ(got, want) << text;
      }
    }
  }
}

TEST(BillCsv, ColumnsByHeaderOrByOrder) {
  Result<BillCsv> named = parse_bill_csv(u8("备注,x,付款方式,金额,类型\n午饭,?,微信,12.5,支出\n"));
  ASSERT_TRUE(named.ok()) << named.status().message();
  EXPECT_EQ(named->first, 1u);
  EXPECT_EQ(std::vector<int>(named->columns, named->columns + 5), (std::vector<int>{4, 3, 2, -1, 0}));
  Result<BillCsv> plain = parse_bill_csv(u8("支出,12.5,微信\n"));
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(plain->first, 0u);
  // Neither a header without 付款方式 nor two cells nor another charset is our CSV.
  EXPECT_EQ(parse_bill_csv(u8("类型,金额\n支出,1\n")).status().code(), StatusCode::Invalid);
  EXPECT_EQ(parse_bill_csv("a,b\n").status().code(), StatusCode::NotFound);
  EXPECT_EQ(parse_bill_csv("\xD6\xA7\xB3\xF6,1,2\n").status().code(), StatusCode::NotFound);
}

class BillCsvRows : public StoreTest {
 protected:
  BillTable table_with(const std::vector<FieldSpec>& fields) {
    EXPECT_TRUE(open_db(ledger("t.kdb", fields)));
    Result<BillTable> t = current_bill_table();
    EXPECT_TRUE(t.ok()) << t.status().message();
    return t.ok() ? *t : BillTable{};
  }
};

TEST_F(BillCsvRows, EveryBadRowIsNamedAndGoodRowsBecomeBills) {
  const BillTable table = table_with(ledger_fields());
  Result<BillCsv> csv = parse_bill_csv(
      u8("类型,金额,付款方式,时间,备注\n支出,12.5,微信,2024-02-29 08:30,早饭\n,1,微信\n收入,0,现金\n"
         "支出,1e999,现金\n支出,3,\n支出,3,现金,2023-02-29\n收入,7,现金") +
      "\xF0\x9F\x98\x80" + u8("\n\n收入,8,银行卡\n"));
  ASSERT_TRUE(csv.ok());
  std::vector<CsvRowError> errors;
  const std::vector<CsvBill> bills = csv_bills(*csv, table, 45000.5, &errors);
  ASSERT_EQ(bills.size(), 2u);
  EXPECT_EQ(bills[0].line, 2);
  EXPECT_EQ(bills[0].bill.type, "支出");
  EXPECT_EQ(bills[0].bill.remark, "早饭");
  double when = 0;
  ASSERT_TRUE(parse_date_time("2024-02-29 08:30:00", &when));
  EXPECT_EQ(bills[0].bill.time, when);
  EXPECT_EQ(bills[1].line, 10);
  EXPECT_EQ(bills[1].bill.time, 45000.5);  // no time: now
  std::vector<int> lines;
  for (const CsvRowError& e : errors) lines.push_back(e.line);
  EXPECT_EQ(lines, (std::vector<int>{3, 4, 5, 6, 7, 8}));
}

// A text field narrower than a cell would cut the bill's text when stored: the row is refused.
TEST_F(BillCsvRows, TextsLongerThanTheirFieldsAreRefused) {
  std::vector<FieldSpec> narrow = ledger_fields();
  narrow[3].width = 4;
  const BillTable table = table_with(narrow);
  Result<BillCsv> csv = parse_bill_csv(u8("支出,1,微信\n支出,1,支付宝\n"));
  ASSERT_TRUE(csv.ok());
  std::vector<CsvRowError> errors;
  EXPECT_EQ(csv_bills(*csv, table, 0, &errors).size(), 1u);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].text.find(u8("付款方式 is longer than its 4 bytes")), std::string::npos)
      << errors[0].text;
}

}  // namespace
}  // namespace pennacle
