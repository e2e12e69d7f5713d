// `kdbtool undelete`: a bill from the recycle bin (ledger/recycle_bin.h) appended to the ledger again,
// and the record of imported bills told its new serial, so that importing its export again books
// nothing new.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ledger/recycle_bin.h"
#include "platform/file.h"
#include "platform/status.h"

namespace pennacle {

struct Undeleted {
  BinEntry entry;                  // the bill as it was deleted
  int32_t serial = 0;              // its record's serial now
  bool appended = false;           // false: the record was live still (its delete was cut short)
  std::vector<std::string> notes;  // what the user should know besides (UTF-8)
};

// Appends the bill with `serial` deleted last from the bin beside the record file `db_arg` (UTF-8)
// with its type, amount, channel, time and remark, then takes it out of the bin.
//
// Order, so a cut anywhere neither loses the bill nor makes it twice: an undelete-begun line reaches
// the bin's disk first, naming the highest serial the ledger held; then the bill is appended
// (durable); then the import record learns the new serial; then the entry leaves the bin. A later
// undelete (or `kdbtool trash`) finds a bill whose append reached the disk as a live record above
// that serial with the same values, and settles it instead of appending it again.
//
// Locks: the import record's and the bin's lock bytes, in that order (the order a snapshot takes
// them), before any lock of the record file. `fs` nullptr: the real file system.
Result<Undeleted> undelete_bill(const std::string& db_arg, int32_t serial, FileSystem* fs);

}  // namespace pennacle
