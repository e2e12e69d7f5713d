#include "store/locks.h"

#include <time.h>

#include <algorithm>
#include <tuple>

#include "store/format.h"

namespace pennacle {

uint32_t tick_count() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

bool wait_allows(int32_t wait_ms, uint32_t started) {
  if (wait_ms == 0) return false;
  if (wait_ms == -1) return true;
  return tick_count() - started <= static_cast<uint32_t>(wait_ms);
}

void conflict_sleep() {
  const uint32_t ms = 20 + tick_count() % 20;
  timespec ts{0, static_cast<long>(ms) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

DbCode platform_lock_range(File& file, int64_t start, int64_t length, int32_t wait_ms) {
  uint32_t started = 0;
  bool conflicted = false;
  for (;;) {
    const FileCause cause = file.lock(static_cast<uint64_t>(start), static_cast<uint64_t>(length));
    if (cause == FileCause::None || cause == FileCause::LockUnsupported) return DbCode::Ok;
    const bool conflict = cause == FileCause::LockViolation || cause == FileCause::SharingViolation;
    if (!conflict || wait_ms == 0) return db_code_of(cause, DbCode::LockFailed);
    // The clock is read at the first conflict: a lock that is had at once costs no clock call.
    if (!conflicted) {
      conflicted = true;
      started = tick_count();
    }
    if (!wait_allows(wait_ms, started)) return db_code_of(cause, DbCode::LockFailed);
    conflict_sleep();
  }
}

DbCode platform_unlock_range(File& file, int64_t start, int64_t length) {
  const FileCause cause = file.unlock(static_cast<uint64_t>(start), static_cast<uint64_t>(length));
  if (cause == FileCause::None || cause == FileCause::LockUnsupported) return DbCode::Ok;
  return db_code_of(cause, DbCode::UnlockFailed);
}

DbCode platform_lock(File& file, int64_t position, int32_t wait_ms) {
  if (position == kWholeFile) return platform_lock_range(file, 0, kWholeFileLength, wait_ms);
  return platform_lock_range(file, position, 1, wait_ms);
}

DbCode platform_unlock(File& file, int64_t position) {
  if (position == kWholeFile) return platform_unlock_range(file, 0, kWholeFileLength);
  return platform_unlock_range(file, position, 1);
}

int LockTable::find(int64_t position) const {
  if (position != kWholeFile && position > highest_) return -1;
  // From the newest: locks are mostly let go in the reverse order they were taken (an append of a
  // thousand rows holds a thousand record bytes).
  for (size_t i = entries_.size(); i-- > 0;) {
    if (entries_[i].position == position) return static_cast<int>(i);
  }
  return -1;
}

bool LockTable::holds(int64_t position) const {
  return position == kWholeFile ? whole_ : find(position) >= 0;
}

int32_t LockTable::nesting(int64_t position) const {
  int i = find(position);
  return i < 0 ? -1 : entries_[static_cast<size_t>(i)].nesting;
}

void LockTable::relock_singles(File& file, int32_t wait_ms) {
  for (size_t i = 0; i < entries_.size();) {
    if (entries_[i].position != kWholeFile &&
        platform_lock(file, entries_[i].position, wait_ms) != DbCode::Ok) {
      entries_.erase(entries_.begin() + static_cast<long>(i));
      continue;
    }
    ++i;
  }
}

DbCode LockTable::lock(File& file, int64_t position, int32_t wait_ms) {
  if (int i = find(position); i >= 0) {
    ++entries_[static_cast<size_t>(i)].nesting;
    return DbCode::Ok;
  }
  if (!holds(kWholeFile)) {
    if (position != kWholeFile) {
      if (DbCode rc = platform_lock(file, position, wait_ms); rc != DbCode::Ok) return rc;
    } else {
      // Same-owner ranges merge at the platform, so the single bytes are let go first and taken
      // back if the whole file cannot be had. A byte that cannot be let go stays locked: harmless.
      for (const Entry& e : entries_) std::ignore = platform_unlock(file, e.position);
      if (DbCode rc = platform_lock(file, kWholeFile, wait_ms); rc != DbCode::Ok) {
        relock_singles(file, 0);
        return rc;
      }
    }
  }
  entries_.push_back({position, 0});
  if (position == kWholeFile) whole_ = true;
  highest_ = std::max(highest_, position);
  return DbCode::Ok;
}

DbCode LockTable::unlock(File& file, int64_t position) {
  int i = find(position);
  if (i < 0) return DbCode::UnlockFailed;
  Entry& e = entries_[static_cast<size_t>(i)];
  if (e.nesting > 0) {
    --e.nesting;
    return DbCode::Ok;
  }
  entries_.erase(entries_.begin() + i);
  if (entries_.empty()) highest_ = -1;
  if (position == kWholeFile) whole_ = false;
  if (position != kWholeFile) {
    if (!holds(kWholeFile)) return platform_unlock(file, position);
    return DbCode::Ok;
  }
  DbCode rc = platform_unlock(file, kWholeFile);
  relock_singles(file, 0);
  return rc;
}

void LockTable::release_all(File& file) {
  // At close: the file's locks go with its descriptor anyway, so a failed unlock changes nothing.
  if (holds(kWholeFile)) {
    std::ignore = platform_unlock(file, kWholeFile);
  } else {
    for (const Entry& e : entries_) std::ignore = platform_unlock(file, e.position);
  }
  entries_.clear();
  highest_ = -1;
  whole_ = false;
}

DbCode LockTable::lock_all(File& file, int32_t* exclusive, int32_t wait_ms) {
  if (++*exclusive > 1) return DbCode::Ok;
  ranges_.clear();
  if (!holds(kWholeFile)) {
    ranges_.push_back({0, kWholeFileLength, false});
    for (const Entry& e : entries_) {
      for (size_t i = 0; i < ranges_.size(); ++i) {
        Range r = ranges_[i];
        if (e.position < r.start || e.position >= r.end) continue;
        ranges_.erase(ranges_.begin() + static_cast<long>(i));
        if (e.position + 1 < r.end)
          ranges_.insert(ranges_.begin() + static_cast<long>(i), {e.position + 1, r.end, false});
        if (r.start < e.position)
          ranges_.insert(ranges_.begin() + static_cast<long>(i), {r.start, e.position, false});
        break;
      }
    }
  }
  for (Range& r : ranges_) {
    DbCode rc = platform_lock_range(file, r.start, r.end - r.start, wait_ms);
    if (rc == DbCode::Ok) {
      r.locked = true;
      continue;
    }
    release_ranges(file);
    --*exclusive;
    return rc;
  }
  return DbCode::Ok;
}

void LockTable::unlock_all(File& file, int32_t* exclusive) {
  if (*exclusive <= 0) return;
  if (--*exclusive == 0) release_ranges(file);
}

void LockTable::release_ranges(File& file) {
  // An unlock of a range this open holds fails only with a closed file, whose locks are gone.
  for (const Range& r : ranges_) {
    if (r.locked) std::ignore = platform_unlock_range(file, r.start, r.end - r.start);
  }
  ranges_.clear();
}

}  // namespace pennacle
