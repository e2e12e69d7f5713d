// CSV (RFC 4180) as the ledger writes and reads it, the date-time text of its cells, and our own CSV
// of bills: the columns 类型,金额,付款方式[,时间[,备注]], named by a header row or in that order.
// Cells are UTF-8; bills are GBK.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ledger/bill.h"
#include "platform/status.h"

namespace pennacle {

struct CsvRecord {
  int line = 0;  // the line the record starts on
  std::vector<std::string> cells;
};
// The records of `text`. A closing quote may be followed by spaces and tabs before the comma or
// line end. Invalid, naming the line, on a quote that is never closed or other text after a
// closing quote.
Result<std::vector<CsvRecord>> parse_csv(std::string_view text);
// One cell, quoted when it holds a comma, a quote or a line break.
std::string csv_cell(std::string_view s);

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" as a date-time value.
bool parse_date_time(std::string_view s, double* out);
// Reads date-times as parse_date_time does, remembering the last date it read: where many times of
// one day follow each other (a log, an export), the date is compared, not read again.
class DateTimeReader {
 public:
  bool read(std::string_view s, double* out);

 private:
  static constexpr size_t kDateBytes = 10;  // "YYYY-MM-DD"
  char date_[kDateBytes] = {};              // the last date read, when known_
  bool known_ = false;
  int year_ = 0, month_ = 0, day_ = 0;
};
std::string format_date_time(double d);

// ---- Our own CSV of bills ----------------------------------------------------------------------

// The bill columns in order, UTF-8: 类型, 金额, 付款方式, 时间, 备注.
std::vector<std::string> bill_csv_columns();
// "类型,金额,付款方式[,时间[,备注]]": what a row of our CSV holds, for messages and help.
std::string bill_csv_row_shape();

// The rows of our CSV, with the column of each bill field (-1 where a header row leaves it out).
struct BillCsv {
  std::vector<CsvRecord> rows;
  size_t first = 0;                      // the first bill row (1 after a header row)
  int columns[6] = {0, 1, 2, 3, 4, -1};  // 类型, 金额, 付款方式, 时间, 备注, 分类 (only by its header)
};
// NotFound (with why) when `text` is not our CSV at all; Invalid when its header row lacks 金额 or
// 付款方式.
Result<BillCsv> parse_bill_csv(std::string_view text);

struct CsvBill {
  int line = 0;
  Bill bill;
  std::string category;  // GBK: the row's 分类, empty when it has none (or says 未分类)
};
struct CsvRowError {
  int line = 0;
  std::string text;
};
// The bills of `csv` for a ledger with `table`; every row that cannot be one goes to `errors`. A
// row without a time gets `now`.
std::vector<CsvBill> csv_bills(const BillCsv& csv, const BillTable& table, double now,
                               std::vector<CsvRowError>* errors);

}  // namespace pennacle
