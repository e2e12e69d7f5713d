// The import of bills: the dry-run table, and the import of Alipay and WeChat Pay exports without
// duplicates (ledger/import/import_log.h keeps what was imported).
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/bill.h"
#include "ledger/category_rules.h"
#include "ledger/import/bill_exports.h"
#include "ledger/import/import_preview.h"
#include "platform/file.h"
#include "platform/status.h"

namespace pennacle {

// The bills as a table (UTF-8 on `out`) with the count and the totals of 支出 and 收入.
void print_bill_table(const std::vector<ImportedBill>& bills, std::ostream& out);

struct BillImportOptions {
  std::optional<ExportSource> force;  // --from alipay|wechat
  bool dry_run = false;
  FileSystem* fs = nullptr;  // where the record of imported bills is kept; nullptr: the real one
  size_t group_size = 1000;  // bills appended as one group, between two syncs of that record
  // The rules that give each new bill its category (ledger/import/import_categories.h); nullptr:
  // the export's own category alone.
  const CategoryRules* rules = nullptr;
  // Called after each group is stored with the bills stored so far and the number to store, on the
  // thread running the import.
  std::function<void(size_t stored, size_t total)> progress;
};

// What an import found and did.
struct BillImportRun {
  ImportPreview preview;  // the plan: what a dry run shows, what a real one sets out to do
  bool wrote = false;     // the writing began (not a dry run, and nothing stopped it before)
  size_t added = 0;       // bills stored
  // What stopped the import once the export was read and planned; the bills stored before it stay.
  Status problem;
};

// Reads the export in `bytes` and plans it against the ledger `db_arg` (UTF-8), then, unless dry,
// stores the bills to add, group by group. The failure when it cannot be planned: NotFound when
// `bytes` is no bill export and no source is forced; each bad row is added to `bad_rows`
// ("EXPORT: line 17: reason") and the failure says how many there were; nothing is written then.
// The ledger is opened (read-only when dry) and closed again. Runs on the thread that owns the
// store in this process.
Result<BillImportRun> run_bill_import(const std::string& db_arg, const std::string& export_arg,
                                      std::string_view bytes, const BillImportOptions& options,
                                      std::vector<std::string>* bad_rows);

// `kdbtool import DB EXPORT` for a bill export held in `bytes` (paths as the user gave them, UTF-8).
// NotFound, doing nothing, when `bytes` is no bill export and no source is forced. Otherwise
// imports (or, dry, lists) the bills that the ledger does not hold yet, each with its category in
// the category file beside the ledger, and prints the counts on `out`; each bad row is named on `err`, and a
// failure says what stopped the import.
Status import_bill_export(const std::string& db_arg, const std::string& export_arg, std::string_view bytes,
                          const BillImportOptions& options, std::ostream& out, std::ostream& err);

// `kdbtool import --repair-log FILE`: rebuilds FILE.imports from its sound lines and prints what it
// kept and dropped on `out`. Bills whose lines were dropped are found by their values at the next
// import. `fs` nullptr: the real file system.
Status repair_import_record(const std::string& db_arg, FileSystem* fs, std::ostream& out);

}  // namespace pennacle
