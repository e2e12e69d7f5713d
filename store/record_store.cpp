// The record operations other than open, append and create: counting, moving the current record,
// reading a field, deleting, purging, and the store's settings.
#include "store/record_store.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>

#include "runtime/args.h"
#include "runtime/fatal.h"
#include "store/aux_file.h"
#include "store/database.h"

namespace pennacle {
namespace {

// The count slot is waited for at least this long, whatever the wait time (0: not at all).
constexpr int32_t kCountSlotWaitMs = 2000;
// Fields up to this width are read into a buffer on the stack.
constexpr size_t kSmallFieldBytes = 64;

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

// Spellings of field names remembered per table; a caller naming more is served by the comparison.
constexpr size_t kNamedFieldsKept = 16;

// Why db_read_field cannot go on; these end the program.
enum class FieldFault { None, NoDatabase, BadArgumentKind, NoSuchField };

// The field an argument names: a name (compared as field names are) or a 1-based number.
FieldFault find_field(Database& db, const Args& a, size_t* index) {
  const Value& v = a[0];
  if (v.is(Kind::Text)) {
    const std::string_view name = v.text();
    const size_t known = db.named_fields.size();
    for (size_t k = 0; k < known; ++k) {
      const size_t j = (db.named_next + k) % known;
      if (db.named_fields[j].first != name) continue;
      db.named_next = j + 1;
      return *index = db.named_fields[j].second, FieldFault::None;
    }
    for (size_t i = 0; i < db.fields.size(); ++i) {
      if (!names_equal(db.fields[i].name, name)) continue;
      if (db.named_fields.size() < kNamedFieldsKept) db.named_fields.emplace_back(name, i);
      return *index = i, FieldFault::None;
    }
    return FieldFault::NoSuchField;
  }
  if (!is_numeric(v.kind_code()) || v.is_array()) return FieldFault::BadArgumentKind;
  const int32_t n = a.number(0, 0);
  if (n < 1 || static_cast<size_t>(n) > db.fields.size()) return FieldFault::NoSuchField;
  *index = static_cast<size_t>(n - 1);
  return FieldFault::None;
}

// Reads field `f` of the record at `record` in `file` (its lock held), its chain from `aux`, into
// `*result` (left empty on failure).
DbCode read_field_at(File& file, File* aux, const FieldDescriptor& f, int64_t record, int32_t wait_ms,
                     Value* result) {
  const size_t width = static_cast<size_t>(field_width(f.type, f.width));
  uint8_t small[kSmallFieldBytes];
  std::unique_ptr<uint8_t[]> big;
  uint8_t* buf = small;
  if (width > sizeof small) {
    big.reset(new (std::nothrow) uint8_t[width]);
    buf = big.get();
  }
  if (!buf) return DbCode::NoMemory;
  size_t got = 0;
  if (FileCause c = file.read_at(static_cast<uint64_t>(record + f.offset), buf, width, &got);
      c != FileCause::None) {
    return db_code_of(c, DbCode::FieldReadFailed);
  }
  if (got == 0) return DbCode::SeekFailed;  // at or past the end of the file, after the last record too
  if (got < width) return DbCode::FieldReadFailed;
  if (!is_chain_type(f.type)) {
    *result = decode_field(f, buf);
    return DbCode::Ok;
  }
  if (!aux) return DbCode::FieldReadFailed;
  std::string bytes;
  if (DbCode rc = read_chain(*aux, get_i32(buf), wait_ms, &bytes); rc != DbCode::Ok) return rc;
  if (f.type == FieldType::Memo) {
    *result = Value::of_text_block(new_text_block(bytes));  // cut at a zero byte
  } else {
    *result = Value::of_byteset_block(new_byteset_block(bytes));
  }
  return DbCode::Ok;
}

// The field read while the process is alone with the files: no lock at all (SoleFile::Pinned).
// Nothing when it is not alone.
std::optional<DbCode> read_field_alone(Database& db, const FieldDescriptor& f, int64_t record,
                                       Value* result) {
  SoleFile::Pinned file(db.sole_file());
  if (!file.alone()) return std::nullopt;
  // Only a chain is read from the auxiliary file: any other field needs no hold on it.
  if (!db.aux || !is_chain_type(f.type)) return read_field_at(file, nullptr, f, record, 0, result);
  SoleFile::Pinned aux(*db.sole_aux());  // after the record file's, as a break leaves them
  if (!aux.alone()) return std::nullopt;
  return read_field_at(file, &aux, f, record, 0, result);
}

// db_read_field under the registry's mutex; a fault is reported by the caller once it is let go.
FieldFault read_field_locked(Registry& reg, const Args& a, Value* result) REQUIRES(reg.mu) {
  reg.mu.assert_held();
  Database* db = reg.current_db();
  if (!db) return FieldFault::NoDatabase;
  size_t index = 0;
  if (FieldFault fault = find_field(*db, a, &index); fault != FieldFault::None) return fault;
  const FieldDescriptor& f = db->fields[index];
  *result = Value::make(field_kind(f.type), 0);
  if (db->current < 0) {
    set_db_last_error(DbCode::NoCurrentRecord);
    return FieldFault::None;
  }
  const int64_t record = db->record_pos(db->current);
  if (std::optional<DbCode> rc = read_field_alone(*db, f, record, result)) {
    set_db_last_error(*rc);
    return FieldFault::None;
  }
  if (DbCode rc = db->lock(record, reg.wait_ms); rc != DbCode::Ok) {
    set_db_last_error(rc);
    return FieldFault::None;
  }
  const DbCode rc = read_field_at(*db->file, db->aux.get(), f, record, reg.wait_ms, result);
  std::ignore = db->unlock(record);  // held by this table: only a closed file fails it
  set_db_last_error(rc);
  return FieldFault::None;
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

void db_read_field(int argc, const Value* args, Value* result) {
  const Args a(argc, args);
  Registry& reg = registry();
  FieldFault fault = FieldFault::None;
  {
    MutexLock g(reg.mu);
    fault = read_field_locked(reg, a, result);
  }
  // Reported without the store's mutex: the box may stay up while other threads go on.
  switch (fault) {
    case FieldFault::None:
      return;
    case FieldFault::NoDatabase:
      report_fatal_message("未指定当前数据库或者指定数据库未打开");
    case FieldFault::BadArgumentKind:
      raise_fault(kFaultBadArgumentKind, 0, 0);
    case FieldFault::NoSuchField:
      report_fatal_message("指定字段不存在");
  }
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
