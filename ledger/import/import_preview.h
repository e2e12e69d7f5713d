// What an import of a bill export does, before it does it: the bills it adds with their
// categories, how many the ledger holds already, and the rows it skips with the reason of each.
// `kdbtool import --dry-run` prints it; the second window shows it and asks before the import.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/bill.h"
#include "ledger/category_rules.h"
#include "ledger/import/bill_exports.h"
#include "platform/status.h"

namespace pennacle {

// A bill on its way in, with the line (CSV line or worksheet row) it came from.
struct ImportedBill {
  int line = 0;
  Bill bill;
};

// A bill the import adds and the category it gets (GBK; empty for none).
struct PreviewBill {
  ImportedBill bill;
  std::string category;
};

struct ImportPreview {
  ExportSource source = ExportSource::Alipay;
  std::string sheet;  // UTF-8: the worksheet read; empty for CSV text
  std::vector<PreviewBill> add;
  int already = 0;                        // rows whose bill the ledger holds
  int neutral = 0;                        // 不计收支 rows
  int failed_or_closed = 0;               // failed or closed trades, and refunds of closed payments
  int pending = 0;                        // trades in which no money has moved yet
  std::vector<RowNote> unknown_statuses;  // every row skipped for a status on neither list
  int orphan_refunds = 0;                 // refunds whose payment the ledger has not seen
  int ignored = 0;                        // rows a rule marks ignore
  bool rules = false;                     // rules were given (so `ignored` means something)
  std::vector<RowNote> notices;           // what was changed on the way in (remarks cut, characters left out)

  // Rows skipped for any reason.
  int skipped() const;
};

// Where row `line` of the previewed export stands: "line 17", or "sheet 账单, row 17".
std::string preview_place(const ImportPreview& preview, int line);

// The largest export an import reads: years of bills are a few megabytes.
inline constexpr size_t kMaxExportBytes = size_t{256} << 20;

// The bytes of the file or pipe `path` names, counted as they arrive: Invalid, naming the path,
// when it is a directory or a device, cannot be read, or holds more than `limit` bytes.
Result<std::string> read_export_input(const std::string& path, size_t limit);

// True when `bytes` hold nothing but a byte-order mark and white space.
bool blank_export(std::string_view bytes);

// The rules an import takes when none are named: rules.yaml beside the record file (UTF-8 path),
// nullopt when there is none. A file that does not read is a failure with its line and column.
Result<std::optional<CategoryRules>> rules_beside_ledger(const std::string& utf8_record_file);

}  // namespace pennacle
