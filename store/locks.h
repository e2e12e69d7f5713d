// Byte-range locks of the record store: the retrying primitive, the per-database table that counts
// repeated holds, and lock_all.
//
//   lock              file        range
//   count slot        database    byte 16 (record count)
//   record k          database    data start + k * record length
//   whole database    database    [0, 0x7FFFFFFF)
//   auxiliary header  auxiliary   byte 0
//   auxiliary block b auxiliary   b * 512
//
// Locks are exclusive and never wait at the platform. A conflict is retried while the wait time
// allows: 0 never retries, -1 retries without limit, any other value for that many milliseconds.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/file.h"
#include "store/errors.h"

namespace pennacle {

inline constexpr int64_t kWholeFile = -1;  // the lock position that stands for the whole file

// Milliseconds of a monotonic clock, wrapping at 32 bits.
uint32_t tick_count();
// The wait rule: may a conflict met `started` ticks ago be tried again?
bool wait_allows(int32_t wait_ms, uint32_t started);
// The pause between two tries: 20 to 39 milliseconds.
void conflict_sleep();

// Locks [start, start + length) with the retry rule. Returns Ok or the code of the file error
// (LockFile for a conflict, Sharing for a sharing conflict), LockFailed for a failure without a
// cause of its own. A file system that cannot lock counts as locked.
[[nodiscard]] DbCode platform_lock_range(File& file, int64_t start, int64_t length, int32_t wait_ms);
// Lets go of a range this open holds, at once (an unlock never conflicts). Ok, the code of the file
// error, or UnlockFailed; a file system that cannot lock counts as unlocked.
[[nodiscard]] DbCode platform_unlock_range(File& file, int64_t start, int64_t length);
// One position: a single byte, or the whole file for kWholeFile.
[[nodiscard]] DbCode platform_lock(File& file, int64_t position, int32_t wait_ms);
[[nodiscard]] DbCode platform_unlock(File& file, int64_t position);

// The locks one open database holds on its main file, with nesting.
class LockTable {
 public:
  // Takes a position (a byte, or kWholeFile). A position already held only nests.
  DbCode lock(File& file, int64_t position, int32_t wait_ms);
  // UnlockFailed for a position not held.
  DbCode unlock(File& file, int64_t position);
  // At close: releases at the platform whatever the table holds, then empties it.
  void release_all(File& file);

  // lock_all: every byte of the file except the single bytes this table holds. `exclusive` is the
  // database's exclusive counter; while it is above 0 the count-slot and record locks are skipped.
  DbCode lock_all(File& file, int32_t* exclusive, int32_t wait_ms);
  void unlock_all(File& file, int32_t* exclusive);

  bool holds(int64_t position) const;
  int32_t nesting(int64_t position) const;
  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    int64_t position;
    int32_t nesting;  // holds beyond the first
  };
  struct Range {
    int64_t start, end;
    bool locked;
  };
  int find(int64_t position) const;
  // After the whole-file lock is gone (or could not be had), the single bytes are taken again;
  // entries whose byte cannot be had are dropped.
  void relock_singles(File& file, int32_t wait_ms);
  // Lets go of every range lock_all took.
  void release_ranges(File& file);

  std::vector<Entry> entries_;
  // No single byte above this is held (it may be above every byte held): an append takes its new
  // records' bytes in rising order, each found new without a search.
  int64_t highest_ = -1;
  bool whole_ = false;  // kWholeFile is among the entries
  std::vector<Range> ranges_;
};

}  // namespace pennacle
