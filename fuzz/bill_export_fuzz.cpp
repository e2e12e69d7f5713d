// The bill export readers of kdbtool import (Alipay and WeChat Pay CSV, XLSX) on arbitrary bytes.
// Every bill read keeps the rules of a ledger bill (an amount above 0.0000001, a time in whole
// seconds, a remark of whole GBK characters, an order number without padding);
// forcing the source that was recognised reads the same; rows are placed by sheet and row in a
// workbook and by line in CSV; a number cell is a plain decimal and a text amount is one below
// 1e12; a workbook's sheets and cells written again by our writer (number cells in exponent form
// too) read back the same, and so do CSV rows written again cell by cell.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "ledger/import/bill_csv.h"
#include "ledger/import/bill_exports.h"
#include "ledger/import/bill_text.h"
#include "ledger/import/xlsx_test_writer.h"
#include "platform/gbk.h"
#include "runtime/convert.h"

using namespace pennacle;

namespace {

constexpr int kMaxRoundTripLine = 200;  // rows are written out up to their line number

void check(bool ok) {
  if (!ok) __builtin_trap();
}

bool same(const ExportRead& a, const ExportRead& b) {
  if (a.bills.size() != b.bills.size() || a.neutral != b.neutral ||
      a.failed_or_closed != b.failed_or_closed || a.errors.size() != b.errors.size() ||
      a.source != b.source || a.sheet != b.sheet) {
    return false;
  }
  for (size_t i = 0; i < a.bills.size(); ++i) {
    const ExportBill &x = a.bills[i], &y = b.bills[i];
    if (x.line != y.line || x.income != y.income || x.kind != y.kind || x.amount != y.amount ||
        x.time != y.time || x.remark != y.remark || x.order != y.order || x.merchant != y.merchant) {
      return false;
    }
  }
  return true;
}

void check_bills(const ExportRead& r, bool workbook) {
  check(workbook != r.sheet.empty());
  check(row_place(r, 1).rfind(workbook ? "sheet " : "line ", 0) == 0);
  int line = 0;
  for (const ExportBill& b : r.bills) {
    check(std::isfinite(b.amount) && b.amount > 0.0000001);
    check(b.time >= kMinDateTime && b.time <= kMaxDateTime &&
          make_date_time(date_time_parts(b.time)) == b.time);
    check(cut_gbk(b.remark, b.remark.size()).size() == b.remark.size());
    check(gbk_to_utf8(b.remark).has_value());
    check(trim_cell(b.order).size() == b.order.size());
    check(trim_cell(b.merchant).size() == b.merchant.size() && b.merchant != "/");
    // In row order; rows that a lone carriage return splits share the line's number.
    check(b.line >= line);
    line = b.line;
  }
  for (size_t i = 1; i < r.errors.size(); ++i) check(r.errors[i - 1].line <= r.errors[i].line);
}

// A number cell holds a plain decimal: an optional minus, digits, an optional point and digits.
bool plain_decimal(std::string_view t) {
  if (!t.empty() && t[0] == '-') t.remove_prefix(1);
  const size_t point = t.find('.');
  const std::string_view whole = t.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? "" : t.substr(point + 1);
  return !whole.empty() && whole.find_first_not_of("0123456789") == std::string_view::npos &&
         (point == std::string_view::npos ||
          (!fraction.empty() && fraction.find_first_not_of("0123456789") == std::string_view::npos));
}

// A workbook's sheets, written again (each row at its own row number, every other number in
// exponent form), read back the same.
void round_trip_xlsx(const std::vector<Sheet>& sheets) {
  std::vector<testing::XlsxSheet> book;
  size_t n = 0;
  for (const Sheet& sheet : sheets) {
    if (!sheet.rows.empty() && sheet.rows.back().line > kMaxRoundTripLine) return;
    testing::XlsxSheet out{sheet.name, {}};
    out.rows.resize(sheet.rows.empty() ? 0 : static_cast<size_t>(sheet.rows.back().line));
    for (const SheetRow& row : sheet.rows) {
      for (const SheetCell& c : row.cells) {
        check(!c.number || plain_decimal(c.text));
        std::string text = c.text;
        if (c.number && n % 2) text = testing::exponent_text(std::strtod(c.text.c_str(), nullptr));
        const auto kind = c.number
                              ? testing::XlsxCell::Kind::Number
                              : (n % 2 ? testing::XlsxCell::Kind::Inline : testing::XlsxCell::Kind::Shared);
        out.rows[static_cast<size_t>(row.line - 1)].push_back({text, kind});
        ++n;
      }
    }
    book.push_back(std::move(out));
  }
  if (book.empty()) return;
  Result<std::vector<Sheet>> read = read_xlsx(testing::make_workbook(book, sheets[0].date_1904));
  check(read.ok() && read->size() == sheets.size());
  for (size_t s = 0; s < sheets.size(); ++s) {
    const Sheet &sheet = sheets[s], &again = (*read)[s];
    check(again.name == sheet.name && again.rows.size() == sheet.rows.size() &&
          again.date_1904 == sheet.date_1904);
    for (size_t i = 0; i < sheet.rows.size(); ++i) {
      check(again.rows[i].line == sheet.rows[i].line && again.rows[i].cells == sheet.rows[i].cells);
    }
  }
}

// CSV rows written again cell by cell read back as the same cells.
void round_trip_csv(const Sheet& sheet) {
  std::string text;
  std::vector<std::vector<SheetCell>> kept;
  for (const SheetRow& row : sheet.rows) {
    if (!row.problem.empty()) return;
    if (row.cells.size() == 1 && row.cells[0].text.empty()) continue;  // a line with nothing on it
    for (size_t i = 0; i < row.cells.size(); ++i) text += (i ? "," : "") + csv_cell(row.cells[i].text);
    text += "\n";
    kept.push_back(row.cells);
  }
  if (text.rfind("PK\x03\x04", 0) == 0 || text.rfind("\xEF\xBB\xBF", 0) == 0) return;  // read as other things
  Result<std::vector<Sheet>> read = load_sheets(text);
  check(read.ok() && read->size() == 1);
  const Sheet& again = (*read)[0];
  std::vector<std::vector<SheetCell>> cells;
  for (const SheetRow& row : again.rows) {
    check(row.problem.empty());
    if (!(row.cells.size() == 1 && row.cells[0].text.empty())) cells.push_back(row.cells);
  }
  check(cells == kept);
}

// Deflated parts are out of reach of byte mutations: an input starting with this byte holds the
// parts themselves, split by zero bytes, zipped here: shared strings, the first worksheet and the
// workbook, then (when the input goes on) the workbook's relationships and two more worksheets.
constexpr char kPartsMode = '\x01';
constexpr size_t kAlwaysParts = 3;

std::string zip_input(std::string_view parts) {
  static const char* const kNames[] = {"xl/sharedStrings.xml",     "xl/worksheets/sheet1.xml",
                                       "xl/workbook.xml",          "xl/_rels/workbook.xml.rels",
                                       "xl/worksheets/sheet2.xml", "xl/worksheets/sheet3.xml"};
  std::vector<std::pair<std::string, std::string>> files;
  for (size_t i = 0; i < std::size(kNames) && (i < kAlwaysParts || !parts.empty()); ++i) {
    const size_t end = std::min(parts.find('\0'), parts.size());
    files.push_back({kNames[i], std::string(parts.substr(0, end))});
    parts.remove_prefix(std::min(end + 1, parts.size()));
  }
  return testing::zip_parts(files, true);
}

// What a text amount reads as keeps the rules of an amount.
void check_amount(std::string_view bytes) {
  const std::optional<double> amount = parse_export_amount(bytes.substr(0, 64));
  check(!amount || (*amount >= 0 && *amount < kExportAmountLimit));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string zipped;
  if (!bytes.empty() && bytes[0] == kPartsMode) {
    zipped = zip_input(bytes.substr(1));
    bytes = zipped;
  }
  ExportOptions options;
  Result<ExportRead> r = read_bill_export(bytes, options);
  check(r.ok() || !r.status().message().empty());
  check_amount(bytes);
  if (r.ok()) {
    check_bills(*r, is_xlsx(bytes));
    options.force = r->source;
    Result<ExportRead> forced = read_bill_export(bytes, options);
    check(forced.ok() && same(*r, *forced));
  }
  if (Result<std::vector<Sheet>> sheets = load_sheets(bytes); sheets.ok()) {
    if (is_xlsx(bytes)) {
      round_trip_xlsx(*sheets);
    } else {
      check(sheets->size() == 1);
      round_trip_csv(sheets->front());
    }
  }
  return 0;
}
