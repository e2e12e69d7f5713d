// The CSV reader of the import on arbitrary bytes: whatever it reads, written back cell by cell
// reads the same again; every cell that parses as a time formats to a time that parses back equal.
#include <cstdint>
#include <string>
#include <vector>

#include "ledger/import/bill_csv.h"

using namespace pennacle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  Result<std::vector<CsvRecord>> parsed = parse_csv(text);
  if (!parsed.ok()) return 0;
  const std::vector<CsvRecord>& rows = *parsed;
  std::string again;
  for (const CsvRecord& r : rows) {
    for (size_t i = 0; i < r.cells.size(); ++i) again += (i ? "," : "") + csv_cell(r.cells[i]);
    again += "\r\n";
    for (const std::string& c : r.cells) {
      double d = 0, back = 0;
      if (parse_date_time(c, &d) && (!parse_date_time(format_date_time(d), &back) || back != d))
        __builtin_trap();
    }
  }
  Result<std::vector<CsvRecord>> reread = parse_csv(again);
  if (!reread.ok() || reread->size() != rows.size()) __builtin_trap();
  for (size_t i = 0; i < rows.size(); ++i) {
    if ((*reread)[i].cells != rows[i].cells) __builtin_trap();
  }
  return 0;
}
