// The import's plan for one export against the ledger: which bills it adds, which the ledger holds
// already (by the import log first, then by their values), and what the log must settle. Used by
// the import alone (ledger/import/bill_import.h); both a dry run and a real one plan the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ledger/bill.h"
#include "ledger/category_rules.h"
#include "ledger/import/bill_exports.h"
#include "ledger/import/import_categories.h"
#include "ledger/import/import_keys.h"
#include "ledger/import/import_log.h"
#include "ledger/import/import_pairs.h"
#include "ledger/import/import_preview.h"
#include "store/errors.h"

namespace pennacle {

// What one live record of the ledger holds, as far as telling imported bills apart needs.
struct RecordFacts {
  int32_t serial = 0;
  double time = 0, amount = 0;
  bool income = false;
  std::string channel;       // GBK
  uint64_t fingerprint = 0;  // read only for records that may settle an intent
};

struct LedgerFacts {
  std::vector<RecordFacts> live;  // by serial, ascending, each serial once
  int32_t highest_serial = 0;     // deleted records included
  // When the serials are dense (the usual ledger): 1 + the index in `live` of each serial, 0 for
  // none; empty otherwise, and find searches.
  std::vector<int32_t> index;
  // The index in `live` of the record with `serial`, or -1.
  ptrdiff_t find(int32_t serial) const;
};

// Orders the records read by serial (the last one read of a serial stands for it) and indexes them.
void order_facts(LedgerFacts* facts);

// Walks the current database, reading each live record once; fingerprints for serials above
// `fingerprints_after`. Returns Ok or a store code.
DbCode walk_ledger(int32_t fingerprints_after, LedgerFacts* out);

// What the log says the ledger holds: the live records each key claims, which records are claimed,
// and the done entries that settle intents of an import cut short. Keys are views of the log's
// texts: a Presence is used only while the log is open.
struct Presence {
  SerialStacks<SidedKeyRef, SidedKeyHash> present;  // the serials of the live records of each key
  std::vector<bool> claimed;                        // by index in LedgerFacts::live
  std::vector<ImportEntry> settled;
};

// Intents that no later done entry of the same key answers: imports cut short between the two.
std::vector<const LoggedEntry*> open_intents(std::span<const LoggedEntry> log);
// The lowest serial an open intent names: records above it may settle it.
int32_t lowest_open_intent(const std::vector<const LoggedEntry*>& open);

// `rows`: how many bills plan meets in it afterwards, whose keys it makes room for now (growing later
// would hash every key held again).
Presence resolve(std::span<const LoggedEntry> log, const std::vector<const LoggedEntry*>& open,
                 const LedgerFacts& ledger, const BillTable& table, size_t rows);

// Live records no log entry claims, by time, amount, side and channel (views of `ledger`).
using Unclaimed = SerialStacks<ValueKeyRef, ValueKeyHash>;
Unclaimed unclaimed_records(const LedgerFacts& ledger, const Presence& p);

// A row the ledger holds already: its record's key and the category the row gives. No more of the
// bill: a re-import meets every row here.
using BillThere = ImportCategoryWriter::HeldBill;

struct PlannedBill {
  ImportedBill bill;
  ImportEntry entry;  // the intent
  ImportCategory category;
};

struct Plan {
  std::vector<PlannedBill> add;
  std::vector<ImportEntry> found;  // done entries of rows found by their values
  int already = 0;
  int ignored = 0;               // rows a rule marks ignore
  std::vector<BillThere> there;  // rows the ledger holds already, with the record of each
};

// The bills of `pairing` to book, split into those to add and those the ledger holds. Rows with the
// same non-empty order number, time, amount and side are one bill; rows without one never are.
// `channel` (GBK) is the export's 付款方式; remarks cut to the table are noted in `notices`.
// Takes the records it finds from `presence` and `unclaimed`.
Plan plan(const LoggedPairing& pairing, const BillTable& table, Presence& presence, Unclaimed unclaimed,
          const std::string& channel, const ExportRead& read, const CategoryRules* rules,
          std::vector<RowNote>* notices);

}  // namespace pennacle
