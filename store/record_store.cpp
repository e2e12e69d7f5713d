// The record operations other than open, append, create and reading fields (record_read.cpp):
// counting, moving the current record, deleting, purging, and the store's settings.
#include "store/record_store.h"

#include <algorithm>

#include "runtime/args.h"
#include "store/database.h"

namespace pennacle {
namespace {

// The count slot is waited for at least this long, whatever the wait time (0: not at all).
constexpr int32_t kCountSlotWaitMs = 2000;

// Record count and next serial, read under the count-slot lock.
DbCode read_count(Database& db, int32_t wait_ms, int32_t* count, int32_t* next) {
  *count = 0;
  *next = 1;
  {
    SoleFile::Pinned file(db.sole_file());
    if (file.alone()) return read_count_held(file, count, next);
  }
  const int32_t w = wait_ms == -1 ? wait_ms : std::max(wait_ms, kCountSlotWaitMs);
  if (DbCode rc = db.lock(kCountOffset, w); rc != DbCode::Ok) return rc;
  const DbCode rc = read_count_held(*db.file, count, next);
  std::ignore = db.unlock(kCountOffset);  // held by this table: only a closed file fails it
  return rc;
}

// Moves the current record of the current database: `to` gets it and the record count (read under
// the count-slot lock when `with_count`, else 0) and gives the operation's code.
template <typename To>
void move_current(Value* result, bool with_count, To to) {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  Database* db = reg.current_db();
  if (!db) return finish(result, DbCode::NoCurrentDatabase);
  int32_t count = 0, next = 0;
  if (with_count) {
    if (DbCode rc = read_count(*db, reg.wait_ms, &count, &next); rc != DbCode::Ok) return finish(result, rc);
  }
  finish(result, to(&db->current, count));
}

// The serial of the record at `position` (its lock held): Ok, `past_end` when the file ends before
// it, RecordReadFailed for a partial record, or a file code.
DbCode read_serial_at(Database& db, int64_t position, DbCode past_end, int32_t* serial) {
  uint8_t raw[kSerialSize];
  size_t got = 0;
  if (FileCause c = db.file->read_at(static_cast<uint64_t>(position), raw, sizeof raw, &got);
      c != FileCause::None) {
    return db_code_of(c);
  }
  if (got == 0) return past_end;
  if (got < sizeof raw) return DbCode::RecordReadFailed;
  *serial = get_i32(raw);
  return DbCode::Ok;
}

// Marks the record at `position` (its lock held) deleted; on the disk before it returns Ok.
DbCode delete_held(Database& db, int64_t position) {
  int32_t serial = 0;
  if (DbCode rc = read_serial_at(db, position, DbCode::NoCurrentRecord, &serial); rc != DbCode::Ok) return rc;
  if (serial > 0) {
    uint8_t raw[kSerialSize];
    put_i32(raw, -serial);
    if (FileCause c = db.file->write_at(static_cast<uint64_t>(position), raw, sizeof raw);
        c != FileCause::None) {
      return db_code_of(c);
    }
  }
  // The mark is on the disk before success, also when an earlier delete wrote it.
  if (FileCause c = db.file->sync(); c != FileCause::None) return db_code_of(c);
  return DbCode::Ok;
}

}  // namespace

Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

void db_record_count(int, const Value*, Value* result) {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  Database* db = reg.current_db();
  int32_t count = 0, next = 0;
  const DbCode rc = db ? read_count(*db, reg.wait_ms, &count, &next) : DbCode::NoCurrentDatabase;
  set_db_last_error(rc);
  *result = Value::of_int(rc == DbCode::Ok ? count : 0);
}

void db_go_first(int, const Value*, Value* result) {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  Database* db = reg.current_db();
  *result = Value{};
  if (!db) return set_db_last_error(DbCode::NoCurrentDatabase);
  db->current = 0;
  set_db_last_error(DbCode::Ok);
}

void db_go_to(int argc, const Value* args, Value* result) {
  const int64_t n = Args(argc, args).number(0, 0);  // 1-based
  move_current(result, true, [n](int32_t* current, int32_t count) {
    *current = static_cast<int32_t>(std::max<int64_t>(std::min<int64_t>(n - 1, int64_t{count} - 1), 0));
    return DbCode::Ok;
  });
}

void db_skip(int argc, const Value* args, Value* result) {
  const int64_t n = Args(argc, args).number(0, 1);
  move_current(result, n != 0, [n](int32_t* current, int32_t count) {
    if (n == 0) return DbCode::Ok;
    if (n < 0 && (count == 0 || *current < 0)) return DbCode::BeforeFirst;
    if (n > 0 && (count == 0 || *current >= count)) return DbCode::AfterLast;
    *current = static_cast<int32_t>(std::clamp<int64_t>(int64_t{*current} + n, -1, count));
    return DbCode::Ok;
  });
}

DbCode db_skip_within(int32_t count, DbCode read) {
  Value result;
  if (is_lock_conflict(read)) {
    db_skip(0, nullptr, &result);
    return db_last_error();
  }
  move_current(&result, false, [count](int32_t* current, int32_t) {
    if (count <= 0 || *current >= count) return DbCode::AfterLast;
    ++*current;
    return DbCode::Ok;
  });
  return db_last_error();
}

void db_delete(int, const Value*, Value* result) {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  Database* db = reg.current_db();
  if (!db) return finish(result, DbCode::NoCurrentDatabase);
  if (db->current < 0) return finish(result, DbCode::NoCurrentRecord);
  const int64_t position = db->record_pos(db->current);
  if (DbCode rc = db->lock(position, reg.wait_ms); rc != DbCode::Ok) return finish(result, rc);
  const DbCode rc = delete_held(*db, position);
  std::ignore = db->unlock(position);  // held by this table: only a closed file fails it
  finish(result, rc);
}

void db_purge(int, const Value*, Value* result) {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  Database* db = reg.current_db();
  if (!db) return finish(result, DbCode::NoCurrentDatabase);
  if (DbCode rc = db->locks.lock_all(*db->file, &db->exclusive, reg.wait_ms); rc != DbCode::Ok) {
    return finish(result, rc);
  }
  int32_t count = 0;
  const DbCode rc = compact_records(db->record_file(reg.wait_ms), Removal::DeletedAndStaleCopies, &count);
  db->current = 0;
  db->locks.unlock_all(*db->file, &db->exclusive);
  finish(result, rc);
}

bool db_current_info(DatabaseInfo* out) {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  Database* db = reg.current_db();
  if (!db) {
    set_db_last_error(DbCode::NoCurrentDatabase);
    return false;
  }
  out->full_path = db->full_path;
  out->fields = db->fields;
  out->record_length = db->record_length;
  out->data_start = db->data_start;
  out->current = db->current;
  set_db_last_error(DbCode::Ok);
  return true;
}

DbCode db_current_serial(int32_t* serial) {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  *serial = 0;
  Database* db = reg.current_db();
  if (!db) return DbCode::NoCurrentDatabase;
  if (db->current < 0) return DbCode::NoCurrentRecord;
  const int64_t position = db->record_pos(db->current);
  if (DbCode rc = db->lock(position, reg.wait_ms); rc != DbCode::Ok) return rc;
  const DbCode rc = read_serial_at(*db, position, DbCode::SeekFailed, serial);
  std::ignore = db->unlock(position);  // held by this table: only a closed file fails it
  return rc;
}

void set_db_wait_time(int32_t ms) {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  reg.wait_ms = ms;
}

FileSystem* set_store_file_system(FileSystem* fs) {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  FileSystem* old = reg.fs;
  reg.fs = fs;
  return old;
}

bool set_sole_opener_allowed(bool allowed) {
  const bool was = SoleMode::allowed();
  SoleMode::allow(allowed);
  if (!allowed) {
    // Databases in the mode leave it now, so that what follows runs the full protocol.
    Registry& reg = registry();
    MutexLock g(reg.mu);
    for (const auto& db : reg.open) {
      if (db->sole) db->sole->leave();
    }
  }
  return was;
}

bool sole_opener_allowed() { return SoleMode::allowed(); }

bool db_current_alone() {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  Database* db = reg.current >= 0 ? reg.open[static_cast<size_t>(reg.current)].get() : nullptr;
  return db && db->sole && db->sole->alone();
}

}  // namespace pennacle
