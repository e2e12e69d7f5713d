// kdbtool import of bills: the append of a group of bills to the ledger, the dry-run table, and the
// import of Alipay and WeChat Pay exports without duplicates (tools/import_log.h keeps what was
// imported).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "store/errors.h"
#include "tools/bill_exports.h"

namespace pennacle {

// A bill ready for the ledger table; texts are GBK.
struct LedgerBill {
  int line = 0;  // where it came from in the file imported
  std::string type, channel, remark;
  double amount = 0;
  double time = 0;
};

// Appends `group` to the current database (the ledger table) as one group that reaches the disk
// whole or, after a cut, not at all; each bill numbered as the program numbers a new one: the record
// count before the group, plus its place in it. `serials` gets the record serial of each bill
// stored: all of them, or none when the group was not stored. Returns the store's code (a remark
// that could not be stored leaves its bill, and the code).
DbCode append_bill_group(const std::vector<LedgerBill>& group, std::vector<int32_t>* serials);

// The bills as a table (UTF-8 on `out`) with the count and the totals of 支出 and 收入.
void print_bill_table(const std::vector<LedgerBill>& bills, std::ostream& out);

struct BillImportOptions {
  std::optional<ExportSource> force;  // --from alipay|wechat
  bool dry_run = false;
  FileSystem* fs = nullptr;  // where the record of imported bills is kept; nullptr: the real one
  size_t group_size = 1000;  // bills appended as one group, between two syncs of that record
};

// `kdbtool import DB EXPORT` for a bill export held in `bytes`. Returns false, doing nothing, when
// `bytes` is no bill export and no source is forced. Otherwise imports (or, dry, lists) the bills
// that the ledger does not hold yet, prints the counts, and sets `*status` to the exit status.
bool import_bill_export(const std::string& db_arg, const std::string& export_arg, std::string_view bytes,
                        const BillImportOptions& options, std::ostream& out, std::ostream& err, int* status);

}  // namespace pennacle
