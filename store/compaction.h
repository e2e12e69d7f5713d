// Removing records from a record file in place, so that no cut (a kill, a power cut) at any point
// loses a live record, tears one, or leaves one showing twice.
//
// Removing a record moves every later record down. A moved record overwrites a slot whose own
// record may not have reached its new place on the disk yet, so a cut in the middle of the moves
// could lose or tear records. Before anything moves, the records that will move are copied behind
// the counted records, followed by a trailer that describes the move and checksums the copy:
//
//   [header][fields][records 1 .. count][copy of the records that move][trailer]
//
// Bytes behind the counted records are dropped at the next writable open, so the copy changes
// nothing a reader sees. While the trailer is on the file's end and checks out, the move can be done
// again from the copy: the next writable open (and the next purge) finish it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/file.h"
#include "store/errors.h"
#include "store/format.h"

namespace pennacle {

// What the compaction works on: one open record file, held by the caller under the whole-file lock
// (or lock_all), and its auxiliary file when the table has one.
struct RecordFile {
  File& file;
  File* aux;  // nullptr when the table has no memo or byte-set field
  int64_t data_start;
  int32_t record_length;
  const std::vector<FieldDescriptor>& fields;
  int32_t wait_ms;

  int64_t record_pos(int64_t k) const { return data_start + k * record_length; }
};

enum class Removal {
  // db_purge: deleted records and stale copies; the chains only deleted records used are freed.
  DeletedAndStaleCopies,
  // The writable open: only stale copies (a live record a cut purge of an earlier version left
  // twice); deleted records stay until a purge.
  StaleCopiesOnly,
};

// Removes records as `what` says, keeping the order of the rest and the next serial. `*count`
// receives the record count afterwards (the old one when nothing changed or the removal failed
// before the file was shortened). Every write is on the disk when it returns Ok.
DbCode compact_records(const RecordFile& rf, Removal what, int32_t* count);

// Finishes a compaction that a cut left half done, when the file ends in a trailer that checks out
// against the header. `*count` is the header's record count; it receives the count afterwards.
// Returns Ok also when there was nothing to finish.
DbCode finish_interrupted_compaction(const RecordFile& rf, int32_t* count);

}  // namespace pennacle
