#include "ledger/import/sheet_view.h"

#include <gtest/gtest.h>

#include "ledger/import/bill_text.h"
#include "ledger/import/export_samples.h"
#include "platform/gbk.h"

namespace pennacle {
namespace {

using Cells = std::vector<std::string>;

struct Row {
  int line;
  Cells cells;
  std::string problem;
  bool operator==(const Row&) const = default;
};

Row row_of(const RowRef& r) {
  Row row{r.line, {}, std::string(r.problem)};
  for (std::string_view c : r.cells) row.cells.emplace_back(c);
  return row;
}

std::vector<Row> rows_of(std::string_view text) {
  CsvRows csv(text);
  std::vector<Row> rows;
  while (const std::optional<RowRef> r = csv.next()) rows.push_back(row_of(*r));
  // Kept as strings, the same rows.
  const Sheet kept = csv_sheet(text);
  EXPECT_EQ(kept.rows.size(), rows.size());
  for (size_t i = 0; i < kept.rows.size() && i < rows.size(); ++i) {
    EXPECT_EQ(kept.rows[i].line, rows[i].line);
    EXPECT_EQ(kept.rows[i].problem, rows[i].problem);
    EXPECT_EQ(kept.rows[i].cells.size(), rows[i].cells.size());
  }
  return rows;
}

std::string lines(size_t n) { return std::string(n, '\n'); }

// Quotes, doubled quotes and line ends inside quotes; the line each row starts on.
TEST(CsvSheet, CellsAndTheirLines) {
  EXPECT_EQ(
      rows_of("a,\"b,c\",\"d\"\"e\"\n\"x\ny\",z\r\n\n\"\",\"\"\"\"\nlast"),
      (std::vector<Row>{
          {1, {"a", "b,c", "d\"e"}, ""}, {2, {"x\ny", "z"}, ""}, {5, {"", "\""}, ""}, {6, {"last"}, ""}}));
  // A lone carriage return ends a record inside its line; a line of it alone is one empty cell.
  EXPECT_EQ(rows_of("a\rb,c\r\n\r\n\"q\nr\"\rs\n"),
            (std::vector<Row>{
                {1, {"a"}, ""}, {1, {"b", "c"}, ""}, {2, {""}, ""}, {3, {"q\nr"}, ""}, {4, {"s"}, ""}}));
  EXPECT_TRUE(rows_of("").empty());
  EXPECT_TRUE(rows_of("\n\n").empty());
  // Padding after a closing quote; a trailing comma is an empty last cell.
  EXPECT_EQ(rows_of("\"1\"\t ,\"2\"\t\r\n3,\n"), (std::vector<Row>{{1, {"1", "2"}, ""}, {2, {"3", ""}, ""}}));
}

// A cell ends at its comma, carriage return or line end wherever that stands, in a quoted cell too
// at its quote or line end: the reader looks at many bytes at a time.
TEST(CsvSheet, CellsEndWhereverTheyStand) {
  for (size_t n = 1; n < 40; ++n) {
    const std::string x(n, 'x');
    SCOPED_TRACE(n);
    EXPECT_EQ(rows_of(x + ",y\r\n" + x + "\r" + x),
              (std::vector<Row>{{1, {x, "y"}, ""}, {2, {x}, ""}, {2, {x}, ""}}));
    EXPECT_EQ(rows_of("\"" + x + "\"\"" + x + "\n" + x + "\"," + x + "\n"),
              (std::vector<Row>{{1, {x + "\"" + x + "\n" + x, x}, ""}}));
  }
}

// A bad record makes its first line a problem row, and reading goes on at the line after it, even
// when that line was inside the bad record's quotes.
TEST(CsvSheet, ABadRecordIsAProblemAtItsFirstLine) {
  EXPECT_EQ(rows_of("a\n\"b\"x,c\nd\n"),
            (std::vector<Row>{{1, {"a"}, ""}, {2, {}, "text after a closing quote"}, {3, {"d"}, ""}}));
  EXPECT_EQ(rows_of("\"open\nb\"x\nc"),
            (std::vector<Row>{{1, {}, "text after a closing quote"}, {2, {"b\"x"}, ""}, {3, {"c"}, ""}}));
  // A record before a lone carriage return in the same line goes with the bad one.
  EXPECT_EQ(rows_of("a\r\"b\"x\nc"),
            (std::vector<Row>{{1, {}, "text after a closing quote"}, {2, {"c"}, ""}}));
  EXPECT_EQ(rows_of("x,\"never"), (std::vector<Row>{{1, {}, "a quoted cell is never closed"}}));
  EXPECT_EQ(rows_of("x,\"never\ny"),
            (std::vector<Row>{{1, {}, "a quoted cell is never closed"}, {2, {"y"}, ""}}));
}

// A quoted cell may take kMaxLinesPerCsvRow lines, counted from the first line of its record, and
// no more.
TEST(CsvSheet, AQuotedCellTakesAtMostSoManyLines) {
  const std::string longest = "\"" + lines(kMaxLinesPerCsvRow - 1) + "\"";
  EXPECT_EQ(rows_of("h\n" + longest + "\nafter"),
            (std::vector<Row>{{1, {"h"}, ""},
                              {2, {lines(kMaxLinesPerCsvRow - 1)}, ""},
                              {2 + static_cast<int>(kMaxLinesPerCsvRow), {"after"}, ""}}));
  // Two records of one line, split by a lone carriage return, share the count.
  const std::string shared = "\"\n\"\r\"" + lines(kMaxLinesPerCsvRow - 1) + "\"";
  const std::vector<Row> read = rows_of(shared);
  ASSERT_FALSE(read.empty());
  EXPECT_EQ(read[0], (Row{1, {}, "a quoted cell is never closed"}));
  // One line more: a problem at its first line; each line after it is read on its own, and the
  // closing quote opens a cell that is never closed.
  EXPECT_EQ(
      rows_of("\"" + lines(kMaxLinesPerCsvRow) + "\",x"),
      (std::vector<Row>{{1, {}, "a quoted cell is never closed"},
                        {static_cast<int>(kMaxLinesPerCsvRow) + 1, {}, "a quoted cell is never closed"}}));
}

// Cells point into the text; only a cell that doubled its quotes is kept apart, for as long as the
// reader.
TEST(CsvSheet, CellsPointIntoTheText) {
  const std::string text = "abc,\"de\",\"f\"\"g\"\nh";
  CsvRows csv(text);
  std::optional<RowRef> row = csv.next();
  ASSERT_TRUE(row.has_value());
  const std::vector<std::string_view> cells(row->cells.begin(), row->cells.end());
  ASSERT_EQ(cells.size(), 3u);
  EXPECT_EQ(cells[0].data(), text.data());
  EXPECT_EQ(cells[1].data(), text.data() + 5);
  EXPECT_FALSE(cells[2].data() >= text.data() && cells[2].data() < text.data() + text.size());
  row = csv.next();
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->cells[0], "h");
  EXPECT_EQ(cells[2], "f\"g");
  EXPECT_FALSE(csv.next().has_value());
  EXPECT_FALSE(csv.next().has_value());
}

// A workbook's sheet seen as views: each row's cells and which of them are numbers.
TEST(SheetView, WorkbookSheetsAsViews) {
  Sheet sheet;
  sheet.name = "s";
  sheet.date_1904 = true;
  sheet.rows = {SheetRow{3, {SheetCell{"a", false}, SheetCell{"45123.5", true}}, ""}, SheetRow{7, {}, ""},
                SheetRow{9, {SheetCell{"", false}}, ""}};
  const SheetView view = view_sheet(sheet);
  EXPECT_EQ(view.name, "s");
  EXPECT_TRUE(view.date_1904);
  ASSERT_EQ(view.rows.size(), 3u);
  EXPECT_EQ(row_of(view.row(0)), (Row{3, {"a", "45123.5"}, ""}));
  EXPECT_FALSE(view.row(0).number(0));
  EXPECT_TRUE(view.row(0).number(1));
  EXPECT_FALSE(view.row(0).number(2));  // no such cell
  EXPECT_EQ(row_of(view.row(1)), (Row{7, {}, ""}));
  EXPECT_EQ(row_of(view.row(2)), (Row{9, {""}, ""}));
  // Rows added one by one keep their number cells in place, after rows without any.
  SheetView added;
  added.add(view.row(2));
  added.add(view.row(0));
  added.add(view.row(1));
  EXPECT_EQ(row_of(added.row(1)), (Row{3, {"a", "45123.5"}, ""}));
  EXPECT_FALSE(added.row(0).number(0));
  EXPECT_TRUE(added.row(1).number(1));
  EXPECT_FALSE(added.row(1).number(0));
}

// CSV text: the rows on the first lines are held, the others come after them in order, the first
// of those included; a workbook is held whole.
TEST(SheetView, ExportSheetsHoldTheirFirstLines) {
  ExportSheets sheets;
  ASSERT_TRUE(sheets.load("a\nh,1\n\"x\ny\",2\n\"bad\"?\nlast,3", 2).ok());
  ASSERT_EQ(sheets.heads().size(), 1u);
  ASSERT_EQ(sheets.heads()[0].rows.size(), 2u);
  EXPECT_EQ(row_of(sheets.heads()[0].row(1)), (Row{2, {"h", "1"}, ""}));
  EXPECT_GE(sheets.rows_hint(0), 4u);
  ExportSheets::Rows rows = sheets.rows_after(0, 0);
  std::vector<Row> read;
  while (const std::optional<RowRef> r = rows.next()) read.push_back(row_of(*r));
  EXPECT_EQ(read, (std::vector<Row>{{2, {"h", "1"}, ""},
                                    {3, {"x\ny", "2"}, ""},
                                    {5, {}, "text after a closing quote"},
                                    {6, {"last", "3"}, ""}}));
  // Fewer lines than are held: nothing comes after them.
  ExportSheets small;
  ASSERT_TRUE(small.load("a\nb\n", 100).ok());
  EXPECT_EQ(small.heads()[0].rows.size(), 2u);
  ExportSheets::Rows none = small.rows_after(0, 1);
  EXPECT_FALSE(none.next().has_value());
  ExportSheets book;
  const std::string workbook = testing::make_workbook(
      {{"one", {{{"h", testing::XlsxCell::Kind::Shared}}, {{"1.5", testing::XlsxCell::Kind::Number}}}}});
  ASSERT_TRUE(book.load(workbook, 1).ok()) << book.load(workbook, 1).message();
  ASSERT_EQ(book.heads().size(), 1u);
  EXPECT_EQ(book.heads()[0].rows.size(), 2u);  // whole, however few lines are asked for
  ExportSheets::Rows after = book.rows_after(0, 0);
  const std::optional<RowRef> number = after.next();
  ASSERT_TRUE(number.has_value());
  EXPECT_TRUE(number->number(0));
  EXPECT_FALSE(after.next().has_value());
  EXPECT_EQ(ExportSheets().load("a\xFF", 10).message(),
            "the file is neither an XLSX workbook nor text in UTF-8 or GB18030");
}

// UTF-8 stays where it is (after its byte-order mark); GB18030 is converted; anything else says why.
TEST(SheetView, ExportTextIsUtf8) {
  Gb18030Text converted;
  const std::string utf8 = "\xE4\xBA\xA4\xE6\x98\x93,1\n";
  Result<std::string_view> text = decode_export_text(utf8, &converted);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(text->data(), utf8.data());
  const std::string bom = "\xEF\xBB\xBF" + utf8;
  text = decode_export_text(bom, &converted);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(text->data(), bom.data() + 3);
  EXPECT_TRUE(converted.utf8().empty());
  text = decode_export_text("\xBD\xBB\xD2\xD7,1\n", &converted);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, utf8);
  EXPECT_EQ(text->data(), converted.utf8().data());
  EXPECT_EQ(decode_export_text("\xEF\xBB\xBF\xFF", &converted).status().message(),
            "the file begins as UTF-8 but is not UTF-8 text");
  EXPECT_EQ(decode_export_text("a\xFF", &converted).status().message(),
            "the file is neither an XLSX workbook nor text in UTF-8 or GB18030");
}

// Padding goes from both ends, however the ends begin; bytes that only look like the start or end
// of a wide space stay.
TEST(ExportCellText, TrimsPaddingOnlyAndChecksUtf8Everywhere) {
  EXPECT_EQ(trim_cell("\xE3\x80\x80 x\t\xC2\xA0\xEF\xBB\xBF"), "x");
  EXPECT_EQ(trim_cell("\v\xEF\xBB\xBFx"), "x");
  EXPECT_EQ(trim_cell("\xE8\x80\x80"), "\xE8\x80\x80");  // 耀 ends in 0x80
  EXPECT_EQ(trim_cell("\xE3\x81\xAEy\xE3\x80\x81"), "\xE3\x81\xAEy\xE3\x80\x81");
  EXPECT_EQ(trim_cell("\x01x\x01"), "\x01x\x01");
  EXPECT_EQ(trim_cell(" \xE3\x80\x80 "), "");
  EXPECT_EQ(trim_cell(""), "");
  // Eight ASCII bytes at a time, and whatever stands across or after them.
  const std::string ascii(16, 'a');
  EXPECT_TRUE(is_utf8(ascii));
  for (size_t at = 0; at < ascii.size(); ++at) {
    std::string bad = ascii, cut = ascii, good = ascii;
    bad[at] = '\xFF';
    EXPECT_FALSE(is_utf8(bad)) << at;
    cut.replace(at, 1, "\xE4\xBA");
    EXPECT_FALSE(is_utf8(cut.substr(0, at + 2))) << at;
    good.replace(at, 1, "\xE4\xBA\xA4");
    EXPECT_TRUE(is_utf8(good)) << at;
  }
}

}  // namespace
}  // namespace pennacle
