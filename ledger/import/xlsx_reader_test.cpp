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

bool read(const std::string& bytes, Sheet* s, std::string* problem) {
  Result<Sheet> r = read_xlsx(bytes);
  if (!r.ok()) {
    *problem = r.status().message();
    return false;
  }
  *s = std::move(*r);
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

TEST(XlsxReader, WhatTheWriterWritesComesBack) {
  const std::vector<std::vector<XlsxCell>> rows = {
      {{"<&>\"'", XlsxCell::Kind::Shared},
       {" padded\t", XlsxCell::Kind::Inline},
       {"-1.5e3", XlsxCell::Kind::Number}},
      {},
      {{"", XlsxCell::Kind::Shared}, {"a\r\nb", XlsxCell::Kind::Shared}}};
  Sheet s;
  std::string problem;
  ASSERT_TRUE(read(make_xlsx(rows), &s, &problem)) << problem;
  ASSERT_EQ(s.rows.size(), 2u);
  EXPECT_EQ(s.rows[0].cells,
            (std::vector<SheetCell>{{"<&>\"'", false}, {" padded\t", false}, {"-1.5e3", true}}));
  EXPECT_EQ(s.rows[1].line, 3);
  EXPECT_EQ(s.rows[1].cells, (std::vector<SheetCell>{{"", false}, {"a\r\nb", false}}));
}

}  // namespace
}  // namespace pennacle
