// This file is compiled with UTF-8 literals, like the rest of the import.
#include "ledger/import/sheet_view.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ledger/import/bill_exports.h"
#include "ledger/import/bill_text.h"

namespace pennacle {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kNeverClosed = "a quoted cell is never closed";
constexpr std::string_view kTextAfterQuote = "text after a closing quote";
constexpr std::string_view kTooLarge = "the text is too large to read as CSV";
#if !defined(__SSE2__)
constexpr uint64_t kOnes = 0x0101010101010101ULL;

// The bytes of `word` that equal `c`, each as its high bit. Only the lowest is exact (a borrow may
// mark a byte above it), and only the lowest is used.
uint64_t bytes_equal(uint64_t word, char c) {
  const uint64_t x = word ^ (kOnes * static_cast<unsigned char>(c));
  return (x - kOnes) & ~x & (kOnes * 0x80);
}
#endif

// The first of `a`, `b` and `c` in t from `i` on, or t.size(); sixteen bytes at a time (eight
// without SSE2).
size_t find_first(std::string_view t, size_t i, char a, char b, char c) {
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b), vc = _mm_set1_epi8(c);
  for (; i + 16 <= t.size(); i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data() + i));
    const __m128i hit =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)), _mm_cmpeq_epi8(v, vc));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return i + static_cast<size_t>(std::countr_zero(mask));
  }
#else
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= t.size(); i += 8) {
      uint64_t word = 0;
      std::memcpy(&word, t.data() + i, 8);
      const uint64_t hit = bytes_equal(word, a) | bytes_equal(word, b) | bytes_equal(word, c);
      if (hit != 0) return i + static_cast<size_t>(std::countr_zero(hit)) / 8;
    }
  }
#endif
  while (i < t.size() && t[i] != a && t[i] != b && t[i] != c) ++i;
  return i;
}

}  // namespace

// Where reading stands in the records that begin on one line (a chunk): they end with the line
// that ends outside a quoted cell, or with the text.
struct CsvRows::Chunk {
  size_t i = 0;             // the next byte to read
  int line = 0;             // the line it stands on
  size_t crossed = 0;       // line ends inside quoted cells so far
  bool line_ended = false;  // a record ended with its line: the next chunk begins at `i`
  std::string_view problem;
};

CsvRows::CsvRows(std::string_view text) : text_(text) {
  // Line numbers are ints, as in every sheet; the callers hold far less than this.
  if (text_.size() >= static_cast<size_t>(INT_MAX)) {
    rows_.push_back(RowView{1, 0, 0, kTooLarge});
    ended_ = true;
  }
}

std::optional<RowRef> CsvRows::next() {
  while (next_row_ == rows_.size()) {
    if (ended_) return std::nullopt;
    read_next_chunk();
  }
  const RowView& r = rows_[next_row_++];
  return RowRef{r.line, {cells_.data() + r.first, r.count}, {}, r.problem};
}

void CsvRows::read_next_chunk() {
  rows_.clear();
  cells_.clear();
  next_row_ = 0;
  Chunk chunk;
  chunk.i = start_;
  chunk.line = line_;
  if (read_chunk(&chunk)) {
    ended_ = !chunk.line_ended;
    start_ = chunk.i;
    line_ = chunk.line;
    return;
  }
  // The first line says what is wrong with the chunk; the lines after it are read on their own.
  rows_.clear();
  cells_.clear();
  rows_.push_back(RowView{line_, 0, 0, chunk.problem});
  const size_t end = text_.find('\n', start_);
  if (end == std::string_view::npos) {
    ended_ = true;
    return;
  }
  start_ = end + 1;
  ++line_;
}

bool CsvRows::read_chunk(Chunk* chunk) {
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

bool CsvRows::read_record(Chunk* chunk) {
  const std::string_view t = text_;
  // Kept here, not in the chunk, while the cells are stored: a store through them may not touch it.
  size_t i = chunk->i;
  RowView row{chunk->line, cells_.size(), 0, {}};
  for (;;) {
    if (i < t.size() && t[i] == '"') {
      chunk->i = i;
      std::string_view cell;
      if (!read_quoted(chunk, &cell)) return false;
      i = chunk->i;
      cells_.push_back(cell);
    } else {
      const size_t begin = i;
      i = find_first(t, i, ',', '\r', '\n');
      cells_.emplace_back(t.data() + begin, i - begin);
    }
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
  chunk->i = i;
  row.count = cells_.size() - row.first;
  rows_.push_back(row);
  return true;
}

bool CsvRows::read_quoted(Chunk* chunk, std::string_view* cell) {
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

void SheetView::add(const RowRef& row) {
  rows.push_back(RowView{row.line, cells.size(), row.cells.size(), row.problem});
  cells.insert(cells.end(), row.cells.begin(), row.cells.end());
  if (!row.numbers.empty() || !numbers.empty()) {  // kept from the first row that has them
    numbers.resize(cells.size() - row.cells.size());
    numbers.insert(numbers.end(), row.numbers.begin(), row.numbers.end());
    numbers.resize(cells.size());
  }
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

Status ExportSheets::load(std::string_view bytes, int head_lines) {
  if (is_xlsx(bytes)) {
    Result<std::vector<Sheet>> book = read_xlsx(bytes);
    if (!book.ok()) return book.status();
    workbook_ = std::move(*book);
    heads_.reserve(workbook_.size());
    for (const Sheet& sheet : workbook_) heads_.push_back(view_sheet(sheet));
    return Status();
  }
  Result<std::string_view> text = decode_export_text(bytes, &converted_);
  if (!text.ok()) return text.status();
  lines_ = 1;
  for (const char *p = text->data(), *end = p + text->size();
       (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) != nullptr; ++p) {
    ++lines_;
  }
  CsvRows& csv = csv_.emplace(*text);
  SheetView& head = heads_.emplace_back();
  while (std::optional<RowRef> row = csv.next()) {
    if (row->line > head_lines) {
      held_ = row;
      break;
    }
    head.add(*row);
  }
  return Status();
}

std::optional<RowRef> ExportSheets::Rows::next() {
  const SheetView& head = sheets_->heads_[sheet_];
  if (at_ < head.rows.size()) return head.row(at_++);
  if (sheets_->held_) return std::exchange(sheets_->held_, std::nullopt);
  return sheets_->csv_ ? sheets_->csv_->next() : std::nullopt;
}

Sheet csv_sheet(std::string_view text) {
  Sheet sheet;
  CsvRows rows(text);
  while (const std::optional<RowRef> row = rows.next()) {
    SheetRow& out = sheet.rows.emplace_back();
    out.line = row->line;
    out.problem = std::string(row->problem);
    out.cells.reserve(row->cells.size());
    for (std::string_view c : row->cells) out.cells.push_back(SheetCell{std::string(c), false});
  }
  return sheet;
}

}  // namespace pennacle
