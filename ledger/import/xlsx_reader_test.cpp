#include "ledger/import/xlsx_reader.h"

#include <gtest/gtest.h>

#include "ledger/import/xlsx_test_writer.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr const char* kXmlHead = R"(<?xml version="1.0" encoding="UTF-8"?>)";
constexpr const char* kMain = R"( xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main")";

// A workbook of only a first sheet (found by its default name) and, when given, shared strings.
std::string book(const std::string& sheet_data, const std::string& shared_items = "") {
  std::vector<std::pair<std::string, std::string>> parts = {
      {"xl/worksheets/sheet1.xml", std::string(kXmlHead) + "<worksheet" + kMain + "><sheetData>" +
                                       sheet_data + "</sheetData></worksheet>"}};
  if (!shared_items.empty()) {
    parts.push_back(
        {"xl/sharedStrings.xml", std::string(kXmlHead) + "<sst" + kMain + ">" + shared_items + "</sst>"});
  }
  return zip_parts(parts);
}

// The first worksheet of `bytes`.
bool read(const std::string& bytes, Sheet* s, std::string* problem) {
  Result<std::vector<Sheet>> r = read_xlsx(bytes);
  if (!r.ok()) {
    *problem = r.status().message();
    return false;
  }
  if (r->empty()) {
    *problem = "no sheet";
    return false;
  }
  *s = std::move(r->front());
  return true;
}

TEST(XlsxReader, ReadsEveryKindOfCellInPlace) {
  const std::string shared =
      "<si><t>plain</t></si>"
      "<si><r><t>rich </t></r><r><rPr><b/></rPr><t>text</t></r></si>"
      "<si><t>\xE6\xBC\xA2</t><rPh sb=\"0\" eb=\"1\"><t>kan</t></rPh></si>";
  const std::string data =
      R"(<row r="2"><c r="A2" t="s"><v>0</v></c><c r="C2" t="s"><v>1</v></c>)"
      R"(<c r="D2"><v>28.16</v></c><c r="E2" t="inlineStr"><is><t>a &amp; b</t></is></c></row>)"
      R"(<row r="5"><c t="s"><v>2</v></c><c t="b"><v>1</v></c><c t="str"><f>A1</f><v>x</v></c>)"
      R"(<c r="IW5"><v>1</v></c></row><row r="6"/>)";
  Sheet s;
  std::string problem;
  ASSERT_TRUE(read(book(data, shared), &s, &problem)) << problem;
  ASSERT_EQ(s.rows.size(), 2u);  // the empty row 6 is left out
  EXPECT_EQ(s.rows[0].line, 2);
  const std::vector<SheetCell> row2 = {
      {"plain", false}, {"", false}, {"rich text", false}, {"28.16", true}, {"a & b", false}};
  EXPECT_EQ(s.rows[0].cells, row2);
  EXPECT_EQ(s.rows[1].line, 5);
  // Cells without a reference follow the one before; the cell past the last column kept is left out.
  const std::vector<SheetCell> row5 = {{"\xE6\xBC\xA2", false}, {"1", false}, {"x", false}};
  EXPECT_EQ(s.rows[1].cells, row5);
  EXPECT_FALSE(s.date_1904);
}

TEST(XlsxReader, FollowsTheWorkbookToItsFirstSheet) {
  const std::string workbook =
      std::string(kXmlHead) + "<workbook" + kMain +
      R"( xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><workbookPr date1904="true"/>)"
      R"(<sheets><sheet name="B" sheetId="2" r:id="rId7"/><sheet name="A" sheetId="1" r:id="rId1"/></sheets></workbook>)";
  const std::string rels =
      std::string(kXmlHead) +
      R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
      R"(<Relationship Id="rId1" Target="worksheets/sheet1.xml"/>)"
      R"(<Relationship Id="rId7" Target="/xl/worksheets/bills.xml"/></Relationships>)";
  const auto sheet = [](const char* v) {
    return std::string(kXmlHead) + "<worksheet" + kMain + "><sheetData><row r=\"1\"><c><v>" + v +
           "</v></c></row></sheetData></worksheet>";
  };
  Sheet s;
  std::string problem;
  ASSERT_TRUE(read(zip_parts({{"xl/workbook.xml", workbook},
                              {"xl/_rels/workbook.xml.rels", rels},
                              {"xl/worksheets/sheet1.xml", sheet("1")},
                              {"xl/worksheets/bills.xml", sheet("2")}}),
                   &s, &problem))
      << problem;
  ASSERT_EQ(s.rows.size(), 1u);
  EXPECT_EQ(s.rows[0].cells[0].text, "2");
  EXPECT_TRUE(s.date_1904);
}

TEST(XlsxReader, RefusesWhatDoesNotHoldTogether) {
  struct Case {
    std::string bytes;
    const char* says;
  };
  std::string damaged = make_xlsx({{{"some text that is long enough to be packed", XlsxCell::Kind::Inline}}});
  ASSERT_FALSE(damaged.empty());
  const size_t at = damaged.find("xl/worksheets/sheet1.xml");  // the local header; its data follows
  ASSERT_NE(at, std::string::npos);
  for (size_t i = at + 30; i < at + 60 && i < damaged.size(); ++i)
    damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
  const Case cases[] = {
      {"PK\x03\x04", "zip"},
      {damaged, "sheet1.xml"},
      {book(R"(<row r="1"><c r="A1" t="s"><v>3</v></c></row>)", "<si><t>only</t></si>"),
       "shared string '3' of 1"},
      {book(R"(<row r="1"><c r="A1" t="s"><v>-1</v></c></row>)", "<si><t>only</t></si>"), "shared string"},
      {book(R"(<row r="3"/><row r="2"/>)"), "row 2 comes after row 3"},
      {book(R"(<row r="1"><c r="A2"><v>1</v></c></row>)"), "does not fit row 1"},
      {book(R"(<row r="1"><c r="B1"><v>1</v></c><c r="A1"><v>1</v></c></row>)"), "does not fit row 1"},
      {book(R"(<row r="1"><c r="ZZZZ1"><v>1</v></c></row>)"), "does not fit"},
      {book(R"(<row r="99999999"/>)"), "not a number"},
      {book(R"(<c r="A1"><v>1</v></c>)"), "outside a row"},
      {book(R"(<row r="1"><c><v>1</c></row>)"), "mismatched tag"},
      {zip_parts({{"xl/worksheets/sheet1.xml", "<!DOCTYPE x [<!ENTITY a \"aaaa\">]><worksheet/>"}}),
       "document type"},
      {zip_parts({{"xl/other.xml", "<x/>"}}), "no worksheet"},
  };
  for (const Case& c : cases) {
    Sheet s;
    std::string problem;
    EXPECT_FALSE(read(c.bytes, &s, &problem)) << c.says;
    EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
  }
}

// A number cell comes as the plain decimal of its number, to the 15 significant digits a
// spreadsheet keeps, whatever form the workbook stores it in; a value that is no number is text.
TEST(XlsxReader, NumbersInEveryFormComeAsPlainDecimals) {
  struct Case {
    const char* stored;
    const char* type;
    SheetCell cell;
  };
  const Case cases[] = {
      {"28.16", nullptr, {"28.16", true}},
      {"7.0000000000000007E-2", nullptr, {"0.07", true}},
      {"1E-2", "n", {"0.01", true}},
      {"-1.5e3", nullptr, {"-1500", true}},
      {"+.5", nullptr, {"0.5", true}},
      {"12.", nullptr, {"12", true}},
      {"1e+2", nullptr, {"100", true}},
      {" 4.4986520833333336E4 ", nullptr, {"44986.5208333333", true}},
      {"0.1234567890123456789", nullptr, {"0.123456789012346", true}},
      {"1E300", nullptr, {"1" + std::string(300, '0'), true}},
      {"INF", nullptr, {"INF", false}},
      {"NaN", nullptr, {"NaN", false}},
      {"1e400", nullptr, {"1e400", false}},
      {"1,5", nullptr, {"1,5", false}},
      {"0x10", nullptr, {"0x10", false}},
      {"1e", nullptr, {"1e", false}},
      {"e5", nullptr, {"e5", false}},
      {".", nullptr, {".", false}},
      {"1E-2", "str", {"1E-2", false}},
      {"#DIV/0!", "e", {"#DIV/0!", false}},
  };
  std::string data;
  int row = 0;
  for (const Case& c : cases) {
    const std::string r = std::to_string(++row);
    data += "<row r=\"" + r + "\"><c r=\"A" + r + "\"" +
            (c.type ? std::string(" t=\"") + c.type + "\"" : "") + "><v>" + c.stored + "</v></c></row>";
  }
  Sheet s;
  std::string problem;
  ASSERT_TRUE(read(book(data), &s, &problem)) << problem;
  ASSERT_EQ(s.rows.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(s.rows[i].cells, std::vector<SheetCell>{cases[i].cell}) << cases[i].stored;
  }
  // What the writer stores in exponent form comes back as the number.
  ASSERT_TRUE(read(make_xlsx({{{exponent_text(0.07), XlsxCell::Kind::Number}}}), &s, &problem)) << problem;
  EXPECT_EQ(s.rows.at(0).cells, (std::vector<SheetCell>{{"0.07", true}}));
  EXPECT_EQ(exponent_text(0.07), "7.0000000000000007E-2");
}

TEST(XlsxReader, ReadsEveryWorksheetInWorkbookOrderWithItsName) {
  const std::string bills = "\xE8\xB4\xA6\xE5\x8D\x95";  // 账单
  const std::string bytes = make_workbook(
      {{"Notes\t1", {{{"a"}}}}, {bills, {{}, {{"b"}, {"2", XlsxCell::Kind::Number}}}}, {"Empty", {}}}, true);
  Result<std::vector<Sheet>> r = read_xlsx(bytes);
  ASSERT_TRUE(r.ok()) << r.status().message();
  ASSERT_EQ(r->size(), 3u);
  EXPECT_EQ((*r)[0].name, "Notes\t1");
  EXPECT_EQ((*r)[0].rows.at(0).cells, (std::vector<SheetCell>{{"a", false}}));
  EXPECT_EQ((*r)[1].name, bills);
  ASSERT_EQ((*r)[1].rows.size(), 1u);
  EXPECT_EQ((*r)[1].rows[0].line, 2);
  EXPECT_EQ((*r)[1].rows[0].cells, (std::vector<SheetCell>{{"b", false}, {"2", true}}));
  EXPECT_EQ((*r)[2].name, "Empty");
  EXPECT_TRUE((*r)[2].rows.empty());
  for (const Sheet& s : *r) EXPECT_TRUE(s.date_1904);
  // A damaged worksheet is named by its sheet; the sheets before it do not make the workbook sound.
  std::vector<std::pair<std::string, std::string>> parts = {
      {"xl/workbook.xml",
       std::string(kXmlHead) + "<workbook" + kMain +
           R"( xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>)"
           R"(<sheet name="Good" sheetId="1" r:id="rId1"/><sheet name=")" +
           bills + R"(" sheetId="2" r:id="rId2"/></sheets></workbook>)"},
      {"xl/_rels/workbook.xml.rels",
       std::string(kXmlHead) +
           R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
           R"(<Relationship Id="rId1" Target="worksheets/sheet1.xml"/>)"
           R"(<Relationship Id="rId2" Target="worksheets/sheet2.xml"/></Relationships>)"},
      {"xl/worksheets/sheet1.xml",
       std::string(kXmlHead) + "<worksheet" + kMain + "><sheetData/></worksheet>"},
      {"xl/worksheets/sheet2.xml", std::string(kXmlHead) + "<worksheet" + kMain +
                                       R"(><sheetData><row r="3"/><row r="2"/></sheetData></worksheet>)"}};
  Sheet s;
  std::string problem;
  EXPECT_FALSE(read(zip_parts(parts), &s, &problem));
  EXPECT_NE(problem.find("sheet " + bills + " (xl/worksheets/sheet2.xml): row 2 comes after row 3"),
            std::string::npos)
      << problem;
  parts.pop_back();
  EXPECT_FALSE(read(zip_parts(parts), &s, &problem));
  EXPECT_NE(problem.find("no worksheet xl/worksheets/sheet2.xml"), std::string::npos) << problem;
}

TEST(XlsxReader, WhatTheWriterWritesComesBack) {
  const std::vector<std::vector<XlsxCell>> rows = {
      {{"<&>\"'", XlsxCell::Kind::Shared},
       {" padded\t", XlsxCell::Kind::Inline},
       {"-1.5e3", XlsxCell::Kind::Number}},  // comes back as the plain decimal
      {},
      {{"", XlsxCell::Kind::Shared}, {"a\r\nb", XlsxCell::Kind::Shared}}};
  Sheet s;
  std::string problem;
  ASSERT_TRUE(read(make_xlsx(rows), &s, &problem)) << problem;
  ASSERT_EQ(s.rows.size(), 2u);
  EXPECT_EQ(s.rows[0].cells,
            (std::vector<SheetCell>{{"<&>\"'", false}, {" padded\t", false}, {"-1500", true}}));
  EXPECT_EQ(s.rows[1].line, 3);
  EXPECT_EQ(s.rows[1].cells, (std::vector<SheetCell>{{"", false}, {"a\r\nb", false}}));
}

}  // namespace
}  // namespace pennacle
