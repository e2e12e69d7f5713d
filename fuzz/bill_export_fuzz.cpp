// The bill export readers of kdbtool import (Alipay and WeChat Pay CSV, XLSX) on arbitrary bytes.
// Every bill read keeps the rules of a ledger bill (an amount above 0.0000001, a time in whole
// seconds, a remark of whole GBK characters, an order number without padding);
// forcing the source that was recognised reads the same; a workbook's cells written again by our
// writer read back the same, and so do CSV rows written again cell by cell.
#include <algorithm>
#include <cmath>
#include <cstdint>
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
      a.source != b.source) {
    return false;
  }
  for (size_t i = 0; i < a.bills.size(); ++i) {
    const ExportBill &x = a.bills[i], &y = b.bills[i];
    if (x.line != y.line || x.income != y.income || x.refund != y.refund || x.amount != y.amount ||
        x.time != y.time || x.remark != y.remark || x.order != y.order) {
      return false;
    }
  }
  return true;
}

void check_bills(const ExportRead& r) {
  int line = 0;
  for (const ExportBill& b : r.bills) {
    check(std::isfinite(b.amount) && b.amount > 0.0000001);
    check(b.time >= kMinDateTime && b.time <= kMaxDateTime &&
          make_date_time(date_time_parts(b.time)) == b.time);
    check(cut_gbk(b.remark, b.remark.size()).size() == b.remark.size());
    check(gbk_to_utf8(b.remark).has_value());
    check(trim_cell(b.order).size() == b.order.size());
    check(!b.refund || b.income);
    // In row order; rows that a lone carriage return splits share the line's number.
    check(b.line >= line);
    line = b.line;
  }
  for (size_t i = 1; i < r.errors.size(); ++i) check(r.errors[i - 1].line <= r.errors[i].line);
}

// A workbook's rows, written again (each row at its own row number), read back the same.
void round_trip_xlsx(const Sheet& sheet) {
  if (sheet.rows.empty() || sheet.rows.back().line > kMaxRoundTripLine) return;
  std::vector<std::vector<testing::XlsxCell>> rows(static_cast<size_t>(sheet.rows.back().line));
  size_t n = 0;
  for (const SheetRow& row : sheet.rows) {
    auto& out = rows[static_cast<size_t>(row.line - 1)];
    for (const SheetCell& c : row.cells) {
      const auto kind = c.number
                            ? testing::XlsxCell::Kind::Number
                            : (n++ % 2 ? testing::XlsxCell::Kind::Inline : testing::XlsxCell::Kind::Shared);
      out.push_back({c.text, kind});
    }
  }
  Result<Sheet> read = read_xlsx(testing::make_xlsx(rows, sheet.date_1904));
  check(read.ok());
  const Sheet& again = *read;
  check(again.rows.size() == sheet.rows.size() && again.date_1904 == sheet.date_1904);
  for (size_t i = 0; i < sheet.rows.size(); ++i) {
    check(again.rows[i].line == sheet.rows[i].line && again.rows[i].cells == sheet.rows[i].cells);
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
  Result<Sheet> read = load_sheet(text);
  check(read.ok());
  const Sheet& again = *read;
  std::vector<std::vector<SheetCell>> cells;
  for (const SheetRow& row : again.rows) {
    check(row.problem.empty());
    if (!(row.cells.size() == 1 && row.cells[0].text.empty())) cells.push_back(row.cells);
  }
  check(cells == kept);
}

// Deflated parts are out of reach of byte mutations: an input starting with this byte holds the
// parts themselves, shared strings, worksheet and workbook, split by zero bytes, zipped here.
constexpr char kPartsMode = '\x01';

std::string zip_input(std::string_view parts) {
  static const char* const kNames[] = {"xl/sharedStrings.xml", "xl/worksheets/sheet1.xml", "xl/workbook.xml"};
  std::vector<std::pair<std::string, std::string>> files;
  for (const char* name : kNames) {
    const size_t end = std::min(parts.find('\0'), parts.size());
    files.push_back({name, std::string(parts.substr(0, end))});
    parts.remove_prefix(std::min(end + 1, parts.size()));
  }
  return testing::zip_parts(files, true);
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
  if (r.ok()) {
    check_bills(*r);
    options.force = r->source;
    Result<ExportRead> forced = read_bill_export(bytes, options);
    check(forced.ok() && same(*r, *forced));
  }
  if (Result<Sheet> sheet = load_sheet(bytes); sheet.ok()) {
    if (is_xlsx(bytes)) {
      round_trip_xlsx(*sheet);
    } else {
      round_trip_csv(*sheet);
    }
  }
  return 0;
}
