// Bill exports of Alipay (GBK CSV) and WeChat Pay (UTF-8 CSV or XLSX), read into ledger bills.
//
// An export is recognised by its header row, which is looked for by its column names among the
// first lines; summaries above it and footers below it are not bills. Each row becomes one of:
// - a payment: 支出 or 收入 by its 收/支, in a trade whose status says the money moved;
// - a refund; its side is the opposite of the payment it refunds, which the import finds;
// - a closed payment (failed or closed: no money moved), not booked, kept for its refund's sake;
// - a neutral row (收/支 "不计收支" or "/": top-ups, withdrawals, transfers between own accounts);
// - a pending trade (no money moved yet) or one whose status is on neither list, skipped.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/import/xlsx_reader.h"
#include "platform/status.h"

namespace pennacle {

enum class ExportSource { Alipay, WeChat };

struct ExportBill {
  enum class Kind { Payment, Refund, Closed };
  int line = 0;  // the CSV line or worksheet row
  Kind kind = Kind::Payment;
  bool income = false;  // 收入, else 支出 (a refund: its own 收/支, which does not decide its side)
  double amount = 0;    // absolute, above 0.0000001
  double time = 0;      // the trade time, whole seconds
  std::string remark;  // GBK: "交易对方 · 商品说明", whole (the import cuts it to what the ledger takes)
  std::string order;     // UTF-8: the order number as the export gives it, padding removed
  std::string merchant;  // UTF-8: the merchant order number, empty when none ("/" too)
  // What the category rules meet (UTF-8, empty when the export has none, "/" too): 交易对方, 商品说明
  // (商品), Alipay's 交易分类, the payment method (收/付款方式, 支付方式), WeChat's 交易类型.
  std::string peer, item, category, method, tx_type;
};

// Something about one row: why it cannot be imported, or what was changed on the way in.
struct RowNote {
  int line = 0;
  std::string text;
};

struct ExportRead {
  ExportSource source = ExportSource::Alipay;
  std::vector<ExportBill> bills;          // payments, refunds and closed payments, in the export's order
  int neutral = 0;                        // neutral rows skipped
  int failed_or_closed = 0;               // failed or closed trades skipped
  int pending = 0;                        // trades in which no money has moved yet
  std::vector<RowNote> unknown_statuses;  // rows skipped for a status on neither list: the status
  std::vector<RowNote> errors;            // rows that cannot be imported, by line
  std::vector<RowNote> notices;           // remarks left without characters GBK cannot hold
  std::string sheet;                      // UTF-8: the worksheet the rows come from; empty for CSV text
};

// Where row `line` of `read` stands, for messages: "line 17" in CSV text, "sheet 账单, row 17" in a
// workbook.
std::string row_place(const ExportRead& read, int line);

struct ExportOptions {
  std::optional<ExportSource> force;  // --from: only this source's header is looked for
};

// Reads `bytes` (a whole file) as a bill export: its bills, counts and row errors. The header is
// looked for in every worksheet of a workbook, in workbook order; the first that has one is read.
// In CSV text a row must have as many cells as the header (a trailing comma on either is no cell):
// any other row is an error, never read with its cells shifted. NotFound when it has no export
// header and no source is forced (the caller may try its own formats); otherwise a failure says why
// (damaged XLSX, text in no known charset, forced header missing, how many sheets were searched).
Result<ExportRead> read_bill_export(std::string_view bytes, const ExportOptions& options);

// What the header rows of both exports look like, for a message about a file that is neither.
std::string expected_export_headers();

// "支付宝" or "微信": the payment channel of a source's bills (UTF-8).
std::string_view source_channel(ExportSource source);
std::string_view source_name(ExportSource source);  // "Alipay" or "WeChat Pay"

// True when `bytes` begin as an XLSX workbook (a zip archive).
bool is_xlsx(std::string_view bytes);
// Reads `bytes` into sheets of rows: an XLSX workbook's worksheets, or CSV text in UTF-8 (with or
// without a byte-order mark) or GB18030 as one sheet without a name. A failure says why when it is
// neither.
Result<std::vector<Sheet>> load_sheets(std::string_view bytes);

}  // namespace pennacle
