// The recycle bin (ledger/recycle_bin.h) against the ledger: the delete that fills it, and what the
// ledger says of the bills in it.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ledger/bill.h"
#include "ledger/recycle_bin.h"
#include "platform/file.h"
#include "platform/status.h"

namespace pennacle {

// Deletes the current record of the current database, a ledger's, and purges: first its bill goes
// into the recycle bin beside the ledger and reaches the disk, then the record is deleted. When the
// bill cannot be put in the bin, nothing is deleted and the failure says why, so a cut or a failure
// anywhere leaves the bill in the ledger, in the bin, or in both, never in neither. A trim of the bin
// that is due follows. `now` is the deletion time.
Status delete_current_bill(FileSystem& fs, double now);
// The same for the bill with `serial` only: NotFound, and nothing deleted, when the current record
// holds another bill. `deleted` gets what went into the bin.
Status delete_current_bill(FileSystem& fs, double now, int32_t serial, BinEntry* deleted);

// Same values, as the table stores them: type, amount, channel, time and remark.
bool same_bill_values(const Bill& a, const Bill& b);

// What the ledger holds of the bills in a bin.
struct BinInLedger {
  // Undeletes begun and not finished whose bill was appended: entry id -> its record's serial.
  std::map<int64_t, int32_t> undeleted;
  // Entries whose record is live under its old serial with the same values: a delete cut short
  // after its bill was put in the bin.
  std::set<int64_t> still_live;
  int32_t highest_serial = 0;  // deleted records included
};

// Walks the current database. A record settles an open undelete when it lies above the serial the
// undelete named, holds the entry's values and settles no other one.
Result<BinInLedger> look_up_bin(const RecycleBin& bin);

// The bills in the bin beside the record file `db_arg` (UTF-8, as the user named it), newest
// deletion first, leaving out those the ledger holds again (an undelete or a delete cut short).
// Reads only; opens the ledger read-only and closes it. `fs` nullptr: the real file system.
Result<std::vector<BinEntry>> bin_bills_of(const std::string& db_arg, FileSystem* fs);

}  // namespace pennacle
