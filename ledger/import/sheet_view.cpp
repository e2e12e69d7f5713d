// This file is compiled with UTF-8 literals, like the rest of the import.
#include "ledger/import/sheet_view.h"

#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>

namespace pennacle {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kNeverClosed = "a quoted cell is never closed";
constexpr std::string_view kTextAfterQuote = "text after a closing quote";
constexpr std::string_view kTooLarge = "the text is too large to read as CSV";
// What room to make at first: the cells and rows of an export take about this many bytes each.
constexpr size_t kBytesPerCell = 8, kBytesPerRow = 64;

constexpr uint64_t kOnes = 0x0101010101010101ULL;

// The bytes of `word` that equal `c`, each as its high bit. Only the lowest is exact (a borrow may
// mark a byte above it), and only the lowest is used.
uint64_t bytes_equal(uint64_t word, char c) {
  const uint64_t x = word ^ (kOnes * static_cast<unsigned char>(c));
  return (x - kOnes) & ~x & (kOnes * 0x80);
}

// The first of `a`, `b` and `c` in t from `i` on, or t.size(); eight bytes at a time.
size_t find_first(std::string_view t, size_t i, char a, char b, char c) {
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= t.size(); i += 8) {
      uint64_t word = 0;
      std::memcpy(&word, t.data() + i, 8);
      const uint64_t hit = bytes_equal(word, a) | bytes_equal(word, b) | bytes_equal(word, c);
      if (hit != 0) return i + static_cast<size_t>(std::countr_zero(hit)) / 8;
    }
  }
  while (i < t.size() && t[i] != a && t[i] != b && t[i] != c) ++i;
  return i;
}

}  // namespace

// Where reading stands in the records that begin on one line (a chunk): they end with the line
// that ends outside a quoted cell, or with the text.
struct CsvSheet::Chunk {
  size_t i = 0;             // the next byte to read
  int line = 0;             // the line it stands on
  size_t crossed = 0;       // line ends inside quoted cells so far
  bool line_ended = false;  // a record ended with its line: the next chunk begins at `i`
  std::string_view problem;
};

CsvSheet::CsvSheet(std::string_view text) : text_(text) {
  // Line numbers are ints, as in every sheet; the callers hold far less than this.
  if (text_.size() >= static_cast<size_t>(INT_MAX)) {
    view_.rows.push_back(RowView{1, 0, 0, kTooLarge});
    return;
  }
  view_.cells.reserve(text_.size() / kBytesPerCell + 1);
  view_.rows.reserve(text_.size() / kBytesPerRow + 1);
  int line = 1;
  for (size_t start = 0;;) {
    const size_t rows = view_.rows.size(), cells = view_.cells.size();
    Chunk chunk;
    chunk.i = start;
    chunk.line = line;
    if (read_chunk(&chunk)) {
      if (!chunk.line_ended) break;  // the text ended
      start = chunk.i;
      line = chunk.line;
      continue;
    }
    // The first line says what is wrong with the chunk; the lines after it are read on their own.
    view_.rows.resize(rows);
    view_.cells.resize(cells);
    view_.rows.push_back(RowView{line, cells, 0, chunk.problem});
    const size_t end = text_.find('\n', start);
    if (end == std::string_view::npos) break;
    start = end + 1;
    ++line;
  }
}

bool CsvSheet::read_chunk(Chunk* chunk) {
  if (chunk->i == text_.size()) return true;  // an empty last line
  if (text_[chunk->i] == '\n') {              // an empty line is no row
    ++chunk->i;
    ++chunk->line;
    chunk->line_ended = true;
    return true;
  }
  while (!chunk->line_ended && chunk->i < text_.size()) {
    if (!read_record(chunk)) return false;
  }
  return true;
}

bool CsvSheet::read_record(Chunk* chunk) {
  const std::string_view t = text_;
  size_t& i = chunk->i;
  RowView row{chunk->line, view_.cells.size(), 0, {}};
  for (;;) {
    std::string_view cell;
    if (i < t.size() && t[i] == '"') {
      if (!read_quoted(chunk, &cell)) return false;
    } else {
      const size_t begin = i;
      i = find_first(t, i, ',', '\r', '\n');
      cell = t.substr(begin, i - begin);
    }
    view_.cells.push_back(cell);
    if (i < t.size() && t[i] == ',') {
      ++i;
      continue;
    }
    if (i < t.size() && t[i] == '\r') ++i;
    if (i < t.size() && t[i] == '\n') {
      ++i;
      ++chunk->line;
      chunk->line_ended = true;
    }
    break;
  }
  row.count = view_.cells.size() - row.first;
  view_.rows.push_back(row);
  return true;
}

bool CsvSheet::read_quoted(Chunk* chunk, std::string_view* cell) {
  const std::string_view t = text_;
  size_t& i = chunk->i;
  const size_t begin = ++i;
  bool doubled = false;
  for (;; ++i) {
    i = find_first(t, i, '"', '\n', '"');
    if (i >= t.size()) {
      chunk->problem = kNeverClosed;
      return false;
    }
    if (t[i] == '"') {
      if (i + 1 >= t.size() || t[i + 1] != '"') break;
      doubled = true;
      ++i;
    } else {
      ++chunk->line;
      // The record would take more lines than a record may.
      if (++chunk->crossed >= kMaxLinesPerCsvRow) {
        chunk->problem = kNeverClosed;
        return false;
      }
    }
  }
  const std::string_view raw = t.substr(begin, i - begin);
  ++i;
  if (doubled) {
    std::string& kept = unquoted_.emplace_back();
    kept.reserve(raw.size());
    for (size_t k = 0; k < raw.size(); ++k) {
      kept += raw[k];
      if (raw[k] == '"') ++k;  // the second of a doubled quote
    }
    *cell = kept;
  } else {
    *cell = raw;
  }
  // Spaces and tabs after the closing quote are padding (WeChat Pay writes a tab there).
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
  if (i < t.size() && t[i] != ',' && t[i] != '\r' && t[i] != '\n') {
    chunk->problem = kTextAfterQuote;
    return false;
  }
  return true;
}

SheetView view_sheet(const Sheet& sheet) {
  SheetView view;
  view.name = sheet.name;
  view.date_1904 = sheet.date_1904;
  view.rows.reserve(sheet.rows.size());
  for (const SheetRow& row : sheet.rows) {
    view.rows.push_back(RowView{row.line, view.cells.size(), row.cells.size(), row.problem});
    for (const SheetCell& c : row.cells) {
      view.cells.push_back(c.text);
      view.numbers.push_back(c.number);
    }
  }
  return view;
}

Result<std::string_view> decode_export_text(std::string_view bytes, Gb18030Text* converted) {
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    bytes.remove_prefix(kUtf8Bom.size());
    if (!is_utf8(bytes)) return Status::invalid("the file begins as UTF-8 but is not UTF-8 text");
    return bytes;
  }
  if (is_utf8(bytes)) return bytes;
  if (converted->convert(bytes)) return converted->utf8();
  return Status::invalid("the file is neither an XLSX workbook nor text in UTF-8 or GB18030");
}

Sheet sheet_of(const SheetView& view) {
  Sheet sheet;
  sheet.name = std::string(view.name);
  sheet.date_1904 = view.date_1904;
  sheet.rows.reserve(view.rows.size());
  for (const RowView& row : view.rows) {
    SheetRow& out = sheet.rows.emplace_back();
    out.line = row.line;
    out.problem = std::string(row.problem);
    out.cells.reserve(row.count);
    for (size_t c = row.first; c < row.first + row.count; ++c) {
      out.cells.push_back(SheetCell{std::string(view.cells[c]), view.number(c)});
    }
  }
  return sheet;
}

}  // namespace pennacle
