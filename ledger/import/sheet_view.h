// An export's rows of cells as views, read without a string per cell: CSV text in one pass, each
// cell pointing into the decoded text (or, when it doubles quotes, into a store of its own); a
// workbook's sheets seen in place. The bills are made from these; `Sheet` is what they convert to
// for whoever wants the cells to keep.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/import/bill_text.h"
#include "ledger/import/xlsx_reader.h"
#include "platform/status.h"

namespace pennacle {

struct RowView {
  int line = 0;      // as SheetRow::line
  size_t first = 0;  // its cells: SheetView::cells[first, first + count)
  size_t count = 0;
  std::string_view problem;  // as SheetRow::problem: why the CSV line has no cells
};

struct SheetView {
  std::string_view name;  // empty for CSV text
  bool date_1904 = false;
  std::vector<RowView> rows;
  std::vector<std::string_view> cells;  // UTF-8
  std::vector<bool> numbers;            // by cell, as SheetCell::number; empty when none is (CSV text)

  std::span<const std::string_view> cells_of(const RowView& row) const {
    return {cells.data() + row.first, row.count};
  }
  bool number(size_t cell) const { return cell < numbers.size() && numbers[cell]; }
};

// A quoted cell may span lines, but not the whole file: a quote still open after this many lines
// makes the record's first line a problem row, and reading goes on at the line after it.
inline constexpr size_t kMaxLinesPerCsvRow = 32;

// CSV text read as the rows of one sheet, as parse_csv reads records, line by line: a record whose
// quoted cell is never closed, or that has other text after a closing quote, is a problem row at
// its first line, and the next line is read on its own. A lone carriage return ends a record
// within its line; rows split so share the line's number; an empty line is no row.
class CsvSheet {
 public:
  // `text` must outlive this sheet: the cells point into it.
  explicit CsvSheet(std::string_view text);
  CsvSheet(const CsvSheet&) = delete;
  CsvSheet& operator=(const CsvSheet&) = delete;

  const SheetView& view() const { return view_; }

 private:
  struct Chunk;
  bool read_chunk(Chunk* chunk);
  bool read_record(Chunk* chunk);
  bool read_quoted(Chunk* chunk, std::string_view* cell);

  std::string_view text_;
  std::deque<std::string> unquoted_;  // cells whose doubled quotes were made single
  SheetView view_;
};

// A workbook's sheet as views into its cells, which must outlive the view.
SheetView view_sheet(const Sheet& sheet);

// The export's text as UTF-8: its bytes after a byte-order mark, its bytes when they are UTF-8,
// else GB18030 converted into `*converted`. A failure says why when it is neither.
Result<std::string_view> decode_export_text(std::string_view bytes, Gb18030Text* converted);

// The cells of a view, kept as strings.
Sheet sheet_of(const SheetView& view);

}  // namespace pennacle
