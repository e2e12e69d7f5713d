// The cells of a workbook's worksheets (XLSX), read with libzip and expat. Bill exports come as
// CSV or as such a workbook; both are handed on as sheets of rows of cells.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace pennacle {

struct SheetCell {
  std::string text;  // UTF-8
  // A numeric cell: `text` is its number as a plain decimal ("45123.5", "0.07"), rounded to the 15
  // significant digits a spreadsheet keeps, whatever form the workbook stores it in ("7E-2").
  bool number = false;
  bool operator==(const SheetCell&) const = default;
};

struct SheetRow {
  int line = 0;  // the CSV line the row starts on, or the worksheet row number
  std::vector<SheetCell> cells;
  std::string problem;  // a CSV line that could not be read as cells (its quoting); no cells then
};

struct Sheet {
  std::string name;  // UTF-8: the worksheet's name; empty for CSV text
  std::vector<SheetRow> rows;
  bool date_1904 = false;  // the workbook counts date serials from 1904-01-01
};

// Cells past this column are left out: no bill export comes near it, and a cell reference far to
// the right must not make every row that wide.
inline constexpr int kMaxSheetColumns = 256;

// Reads every worksheet, in the workbook's order (a workbook without a sheet list: its
// xl/worksheets/sheet1.xml, named "sheet1"): shared strings, inline strings, numbers, formula
// results and logicals. A number cell's value that is no finite number stays text. Rows come in
// worksheet order with empty rows left out; a row's cells are placed by their column reference,
// empty cells as "". Corrupt, with what is wrong (and in which sheet), on a damaged archive or XML,
// a part or a workbook larger than the reader takes, or a reference outside the sheet.
Result<std::vector<Sheet>> read_xlsx(std::string_view bytes);

}  // namespace pennacle
