// The cells of a workbook's first worksheet (XLSX), read with libzip and expat. Bill exports come as
// CSV or as such a sheet; both are handed on as rows of cells.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace pennacle {

struct SheetCell {
  std::string text;     // UTF-8
  bool number = false;  // a numeric cell: `text` is the stored number ("45123.5", "28.16")
  bool operator==(const SheetCell&) const = default;
};

struct SheetRow {
  int line = 0;  // the CSV line the row starts on, or the worksheet row number
  std::vector<SheetCell> cells;
  std::string problem;  // a CSV line that could not be read as cells (its quoting); no cells then
};

struct Sheet {
  std::vector<SheetRow> rows;
  bool date_1904 = false;  // the workbook counts date serials from 1904-01-01
};

// Cells past this column are left out: no bill export comes near it, and a cell reference far to
// the right must not make every row that wide.
inline constexpr int kMaxSheetColumns = 256;

// Reads the first worksheet: shared strings, inline strings, numbers, formula results and logicals.
// Rows come in worksheet order with empty rows left out; a row's cells are placed by their column
// reference, empty cells as "". Corrupt, with what is wrong, on a damaged archive or XML, a part
// larger than the reader takes, or a reference outside the sheet.
Result<Sheet> read_xlsx(std::string_view bytes);

}  // namespace pennacle
