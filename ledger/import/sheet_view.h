// An export's rows of cells as views, read without a string per cell: CSV text in one pass, row
// by row, each cell pointing into the decoded text (or, when it doubles quotes, into a store of its
// own); a workbook's sheets seen in place. The bills are made from these; `Sheet` is what they
// convert to for whoever wants the cells to keep.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/import/export_charsets.h"
#include "ledger/import/xlsx_reader.h"
#include "platform/status.h"

namespace pennacle {

// One row as it is read. Its cells point into the text or workbook they come from.
struct RowRef {
  int line = 0;  // as SheetRow::line
  std::span<const std::string_view> cells;
  std::span<const char> numbers;  // by cell, as SheetCell::number; empty when none is (CSV text)
  std::string_view problem;       // as SheetRow::problem: why the CSV line has no cells

  bool number(size_t cell) const { return cell < numbers.size() && numbers[cell]; }
};

struct RowView {
  int line = 0;
  size_t first = 0;  // its cells: SheetView::cells[first, first + count)
  size_t count = 0;
  std::string_view problem;
};

struct SheetView {
  std::string_view name;  // empty for CSV text
  bool date_1904 = false;
  std::vector<RowView> rows;
  std::vector<std::string_view> cells;  // UTF-8
  std::vector<char> numbers;            // by cell; empty when none is a number (CSV text)

  RowRef row(size_t i) const {
    const RowView& r = rows[i];
    return {
        r.line,
        {cells.data() + r.first, r.count},
        numbers.empty() ? std::span<const char>() : std::span<const char>(numbers.data() + r.first, r.count),
        r.problem};
  }
  void add(const RowRef& row);
};

// A quoted cell may span lines, but not the whole file: a quote still open after this many lines
// makes the record's first line a problem row, and reading goes on at the line after it.
inline constexpr size_t kMaxLinesPerCsvRow = 32;

// CSV text read row by row in one pass, as parse_csv reads records, line by line: a record whose
// quoted cell is never closed, or that has other text after a closing quote, is a problem row at
// its first line, and the next line is read on its own. A lone carriage return ends a record
// within its line; rows split so share the line's number; an empty line is no row.
class CsvRows {
 public:
  // `text` must outlive the reader: the cells point into it.
  explicit CsvRows(std::string_view text);
  CsvRows(const CsvRows&) = delete;
  CsvRows& operator=(const CsvRows&) = delete;

  // The next row; nullopt after the last. Its cells stay valid as long as the reader, the span of
  // them until the next call.
  std::optional<RowRef> next();

 private:
  struct Chunk;
  void read_next_chunk();
  bool read_chunk(Chunk* chunk);
  bool read_record(Chunk* chunk);
  bool read_quoted(Chunk* chunk, std::string_view* cell);

  std::string_view text_;
  size_t start_ = 0;  // where the next chunk begins
  int line_ = 1;      // its line
  bool ended_ = false;
  std::vector<RowView> rows_;  // the rows of the last chunk, and their cells
  std::vector<std::string_view> cells_;
  size_t next_row_ = 0;
  std::deque<std::string> unquoted_;  // cells whose doubled quotes were made single
};

// An export's sheets: a workbook's worksheets whole, or CSV text as one sheet of which only the
// first lines are held (where a header is looked for) and the rest are read as they are asked for.
class ExportSheets {
 public:
  // The rows after `header` in `sheet` of `heads()`, one at a time, each valid until the next.
  class Rows {
   public:
    std::optional<RowRef> next();

   private:
    friend class ExportSheets;
    Rows(ExportSheets* sheets, size_t sheet, size_t at) : sheets_(sheets), sheet_(sheet), at_(at) {}
    ExportSheets* sheets_;
    size_t sheet_, at_;
  };

  // Reads `bytes` as an XLSX workbook, or as CSV text in UTF-8 (with or without a byte-order mark)
  // or GB18030 of which the rows on lines up to `head_lines` are held. A failure says why when it
  // is neither.
  Status load(std::string_view bytes, int head_lines);

  const std::vector<SheetView>& heads() const { return heads_; }
  Rows rows_after(size_t sheet, size_t header) { return Rows(this, sheet, header + 1); }
  // At least about as many rows as `sheet` has, to make room for.
  size_t rows_hint(size_t sheet) const { return csv_ ? lines_ : heads_[sheet].rows.size(); }

 private:
  std::vector<Sheet> workbook_;
  Gb18030Text converted_;
  std::optional<CsvRows> csv_;
  std::optional<RowRef> held_;  // CSV: the first row past the held lines, read already
  size_t lines_ = 0;            // CSV: its lines
  std::vector<SheetView> heads_;
};

// A workbook's sheet as views into its cells, which must outlive the view.
SheetView view_sheet(const Sheet& sheet);

// The export's text as UTF-8: its bytes after a byte-order mark, its bytes when they are UTF-8,
// else GB18030 converted into `*converted`. A failure says why when it is neither.
Result<std::string_view> decode_export_text(std::string_view bytes, Gb18030Text* converted);

// Every row of CSV text, kept as strings.
Sheet csv_sheet(std::string_view text);

}  // namespace pennacle
