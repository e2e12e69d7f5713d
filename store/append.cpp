// Appending records: one bill (db_append) or a group (db_append_rows), behind the counted records.
#include <algorithm>
#include <span>

#include "store/aux_file.h"
#include "store/database.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

// Appending, in the order its writes must reach the disk. Two barriers; a barrier syncs the files
// named, and nothing after it is written before it returns:
//
//   step  file  writes                                      barrier after the step
//   1     KDT   each memo and byte-set chain, then the
//               KDT header
//   2     KDB   the new records, behind the counted ones    A: sync KDT (when a chain was
//                                                              written) and KDB
//   3     KDB   record count and next serial (8 bytes at    B: sync KDB, then success
//               offset 16)
//
// Until step 3 is on the disk the header counts only the old records: the bytes behind them are
// dropped at the next writable open, and chain blocks nothing refers to are lost space, so no
// half-written record is ever counted. A group of rows shares the barriers: a cut keeps the whole
// group or none of it.

// One row of an append: one value per field, as db_append takes them.
struct Row {
  int argc;
  const Value* args;
};

size_t values_used(const Database& db, const Row& row) {
  return std::min(static_cast<size_t>(std::max(row.argc, 0)), db.fields.size());
}

bool kinds_fit(const Database& db, std::span<const Row> rows) {
  for (const Row& row : rows) {
    for (size_t i = 0; i < values_used(db, row); ++i) {
      if (!row.args[i].omitted() && !kind_fits(db.fields[i], row.args[i])) return false;
    }
  }
  return true;
}

// Builds one record in `record` (zero-filled, record length bytes) but for its chains' first
// blocks; each memo or byte-set value with bytes goes to `chains`, the place of its first block in
// `records` to `places`.
void build_record(Database& db, const Row& row, int32_t serial, size_t at, std::vector<uint8_t>* records,
                  std::vector<std::string_view>* chains, std::vector<size_t>* places) {
  uint8_t* record = records->data() + at;
  put_i32(record, serial);
  for (size_t i = 0; i < values_used(db, row); ++i) {
    const FieldDescriptor& f = db.fields[i];
    const Value& v = row.args[i];
    if (v.omitted()) continue;
    if (!is_chain_type(f.type)) {
      encode_field(f, v, record);
      continue;
    }
    const std::string_view bytes = f.type == FieldType::Memo ? v.text() : byteset_view(v.byteset());
    if (bytes.empty()) continue;
    chains->push_back(bytes);
    places->push_back(at + static_cast<size_t>(f.offset));
  }
}

// Steps 2 and 3 for records already built (their chains written), `count` and `next` as read under
// the count-slot lock.
DbCode write_appended(Database& db, const std::vector<uint8_t>& records, bool chained, int32_t count,
                      int32_t next, int32_t n) {
  const uint64_t position = static_cast<uint64_t>(db.record_pos(count));
  if (FileCause c = db.file->write_at(position, records.data(), records.size()); c != FileCause::None) {
    return db_code_of(c);
  }
  if (chained) {
    if (FileCause c = db.aux->sync(); c != FileCause::None) return db_code_of(c);  // barrier A
  }
  if (FileCause c = db.file->sync(); c != FileCause::None) return db_code_of(c);  // barrier A
  uint8_t raw[8];
  put_i32(raw, count + n);
  put_i32(raw + 4, next + n);
  if (FileCause c = db.file->write_at(kCountOffset, raw, 8); c != FileCause::None) return db_code_of(c);
  if (FileCause c = db.file->sync(); c != FileCause::None) return db_code_of(c);  // barrier B
  return DbCode::Ok;
}

// The records of `rows` built and written behind `count` records, their locks held by the caller.
DbCode write_rows(Database& db, std::span<const Row> rows, int32_t count, int32_t next, int32_t wait_ms) {
  const int64_t n = static_cast<int64_t>(rows.size());
  std::vector<uint8_t> records(static_cast<size_t>(n * db.record_length), 0);
  std::vector<std::string_view> chains;
  std::vector<size_t> places;
  for (int64_t i = 0; i < n; ++i) {
    build_record(db, rows[static_cast<size_t>(i)], next + static_cast<int32_t>(i),
                 static_cast<size_t>(i * db.record_length), &records, &chains, &places);
  }
  // Step 1, the group's chains under one hold of the auxiliary header. A value whose chain cannot be
  // written is stored empty, and the code says so.
  std::vector<int32_t> firsts(chains.size(), 0);
  const DbCode value_rc = chains.empty() ? DbCode::Ok
                          : db.aux       ? write_chains(*db.aux, chains, wait_ms, &firsts)
                                         : DbCode::AuxAccess;
  for (size_t k = 0; k < places.size(); ++k) put_i32(&records[places[k]], firsts[k]);
  const DbCode rc = write_appended(db, records, !chains.empty(), count, next, static_cast<int32_t>(n));
  if (rc != DbCode::Ok) return rc;
  db.current = count + static_cast<int32_t>(n) - 1;
  return value_rc;
}

// Appends `rows` behind the counted records under the count-slot lock and the new records' locks.
DbCode append_rows(Database& db, std::span<const Row> rows, int32_t wait_ms) {
  if (rows.empty()) return DbCode::Ok;
  if (!kinds_fit(db, rows)) return DbCode::KindMismatch;
  if (DbCode rc = db.lock(kCountOffset, wait_ms); rc != DbCode::Ok) return rc;
  int32_t count = 0, next = 1;
  DbCode rc = read_count_held(*db.file, &count, &next);
  next = std::max(1, next);
  const int64_t n = static_cast<int64_t>(rows.size());
  // The new records must stay addressable, and the count and serial must not wrap.
  if (rc == DbCode::Ok && (db.record_pos(int64_t{count} + n) > kWholeFileLength ||
                           int64_t{count} + n > INT32_MAX || int64_t{next} + n > INT32_MAX)) {
    rc = DbCode::Unknown;
  }
  int64_t locked = 0;
  while (rc == DbCode::Ok && locked < n) {
    rc = db.lock(db.record_pos(count + locked), wait_ms);
    if (rc == DbCode::Ok) ++locked;
  }
  if (rc == DbCode::Ok) rc = write_rows(db, rows, count, next, wait_ms);
  // Held by this table, so an unlock fails only with a closed file, whose locks are gone with it.
  while (locked > 0) std::ignore = db.unlock(db.record_pos(count + --locked));
  std::ignore = db.unlock(kCountOffset);
  return rc;
}

}  // namespace

void db_append(int argc, const Value* args, Value* result) {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  Database* db = reg.current_db();
  if (!db) return finish(result, DbCode::NoCurrentDatabase);
  const Row row{argc, args};
  finish(result, append_rows(*db, {&row, 1}, reg.wait_ms));
}

DbCode db_append_rows(const std::vector<std::vector<Value>>& rows) {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  Database* db = reg.current_db();
  DbCode rc = DbCode::NoCurrentDatabase;
  if (db) {
    std::vector<Row> r;
    r.reserve(rows.size());
    for (const std::vector<Value>& values : rows)
      r.push_back({static_cast<int>(values.size()), values.data()});
    rc = append_rows(*db, r, reg.wait_ms);
  }
  set_db_last_error(rc);
  return rc;
}

}  // namespace pennacle
