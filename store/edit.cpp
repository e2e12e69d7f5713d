// Editing a record in place (db_edit): its serial and its slot stay, any other field may change.
#include <algorithm>
#include <tuple>

#include "store/aux_file.h"
#include "store/database.h"
#include "store/edit_journal.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

// The journal's lock is held by an edit for a few syncs: it is waited for at least this long.
constexpr int32_t kJournalWaitMs = 2000;

// An edit, in the order its writes must reach the disk. A barrier syncs the file named; nothing
// after it is written before it returns. The record's lock is held throughout.
//
//   step  file    writes                                   barrier after the step
//   1     KDT     each changed memo or byte-set value as   A: sync KDT (when a chain was
//                 a new chain, then the KDT header            written)
//   2     edits   old and new record (only when the         B: sync the journal (and its
//                 record straddles a sector boundary)          directory entry when new)
//   3     KDB     the new record over the old one           C: sync KDB: the new values stand
//   4     KDT     the replaced chains freed                 D: sync KDT, then success
//
// A cut before C leaves the old record (and new chains nothing refers to: lost space), after C the
// new one; a cut in step 3 of a straddling record is repaired from the journal. Old chains are
// freed only once the record no longer refers to them; a cut in step 4 loses their blocks at worst.

bool kinds_fit(const Database& db, const std::vector<Value>& values) {
  if (values.size() > db.fields.size()) return false;
  for (size_t i = 0; i < values.size(); ++i) {
    if (!values[i].omitted() && !kind_fits(db.fields[i], values[i])) return false;
  }
  return true;
}

// What step 1 built: the new record, and the chains it made and replaced.
struct Built {
  std::vector<uint8_t> record;
  std::vector<int32_t> new_chains, old_chains;
};

// Step 1: the new record from the old one and `values`, its changed chains written and synced.
DbCode build_edited(Database& db, const std::vector<Value>& values, int32_t wait_ms, Built* b) {
  for (size_t i = 0; i < values.size(); ++i) {
    const FieldDescriptor& f = db.fields[i];
    const Value& v = values[i];
    if (v.omitted()) continue;
    if (!is_chain_type(f.type)) {
      encode_field(f, v, b->record.data());
      continue;
    }
    if (!db.aux) return DbCode::AuxAccess;
    const std::string_view bytes = f.type == FieldType::Memo ? v.text() : byteset_view(v.byteset());
    int32_t first = 0;
    if (DbCode rc = write_chain(*db.aux, bytes, wait_ms, &first); rc != DbCode::Ok) return rc;
    if (first != 0) b->new_chains.push_back(first);
    const int32_t old = get_i32(b->record.data() + f.offset);
    if (old != 0) b->old_chains.push_back(old);
    put_i32(b->record.data() + f.offset, first);
  }
  if (b->new_chains.empty()) return DbCode::Ok;
  const FileCause c = db.aux->sync();  // barrier A
  return c == FileCause::None ? DbCode::Ok : db_code_of(c);
}

// Before its own entry goes in, a journal an edit cut short left is acted on: its slot may still
// be torn. Nearly always it is not (the journal of the last edit, which ended), and that is seen
// without the slot's lock: while this edit holds the journal, only a delete's four bytes can change
// that slot. Only a slot that looks torn is locked (nesting when it is the edit's own) and repaired.
DbCode repair_before_journal(Database& db, JournalFile& journal, int32_t wait_ms) {
  EditJournal stale;
  if (!journal.read(db.record_length, &stale) || !slot_looks_torn(db, stale)) return DbCode::Ok;
  const int64_t position = db.record_pos(stale.slot);
  if (DbCode rc = db.lock(position, wait_ms); rc != DbCode::Ok) return rc;
  const DbCode rc = repair_torn_edit(db, stale);
  std::ignore = db.unlock(position);  // held by this table: only a closed file fails it
  return rc;
}

// Steps 2 to 4 once the new record is built.
DbCode write_edited(Database& db, JournalFile* journal, int64_t position, const std::vector<uint8_t>& old,
                    const Built& b, int32_t wait_ms) {
  if (journal) {
    if (DbCode rc = repair_before_journal(db, *journal, wait_ms); rc != DbCode::Ok) return rc;
    EditJournal j{static_cast<int32_t>(db.data_start), db.current, get_i32(old.data()), old, b.record};
    if (DbCode rc = journal->write(j); rc != DbCode::Ok) return rc;  // barrier B
  }
  if (FileCause c = db.file->write_at(static_cast<uint64_t>(position), b.record.data(), b.record.size());
      c != FileCause::None) {
    return db_code_of(c, DbCode::RecordWriteFailed);
  }
  if (FileCause c = db.file->sync(); c != FileCause::None) return db_code_of(c);  // barrier C
  if (b.old_chains.empty()) return DbCode::Ok;
  // The new values stand from here on: a chain that cannot be freed, or a sync that fails, leaves
  // lost space, never a failed edit.
  if (free_chains(*db.aux, b.old_chains, wait_ms) == DbCode::Ok) std::ignore = db.aux->sync();  // barrier D
  return DbCode::Ok;
}

// The edit of the record at `position`, its lock (and the journal's, when given) held.
DbCode edit_held(Database& db, JournalFile* journal, int64_t position, int32_t serial,
                 const std::vector<Value>& values, int32_t wait_ms) {
  std::vector<uint8_t> old(static_cast<size_t>(db.record_length));
  size_t got = 0;
  if (FileCause c = db.file->read_at(static_cast<uint64_t>(position), old.data(), old.size(), &got);
      c != FileCause::None) {
    return db_code_of(c, DbCode::RecordReadFailed);
  }
  if (got == 0) return DbCode::NoCurrentRecord;
  if (got < old.size()) return DbCode::RecordReadFailed;
  // Deleted, or another record since a purge moved them: not the record the caller named.
  if (get_i32(old.data()) != serial) return DbCode::NoSuchRecord;
  Built b{old, {}, {}};
  DbCode rc = build_edited(db, values, wait_ms, &b);
  if (rc == DbCode::Ok && b.record == old) return DbCode::Ok;
  if (rc == DbCode::Ok) rc = write_edited(db, journal, position, old, b, wait_ms);
  // Before step 3 nothing refers to the new chains: they go back to the free list.
  if (rc != DbCode::Ok && !b.new_chains.empty()) {
    std::vector<uint8_t> now(old.size());
    const bool unchanged =
        db.file->read_at(static_cast<uint64_t>(position), now.data(), now.size(), &got) == FileCause::None &&
        got == now.size() && now == old;
    if (unchanged) std::ignore = free_chains(*db.aux, b.new_chains, wait_ms);  // else lost space at worst
  }
  return rc;
}

// Takes the journal's lock (when the record straddles a sector) and the record's, in the order of
// the side-file protocol: the journal first. The record's conflict is met first, though, so that
// two editors of one record see the record's lock code, as deleters do.
DbCode edit_current(Registry& reg, Database& db, int32_t serial, const std::vector<Value>& values)
    REQUIRES(reg.mu) {
  reg.mu.assert_held();
  if (db.read_only) return DbCode::AccessDenied;
  if (db.current < 0) return DbCode::NoCurrentRecord;
  if (!kinds_fit(db, values)) return DbCode::KindMismatch;
  const int64_t position = db.record_pos(db.current);
  const int32_t wait_ms = reg.wait_ms;
  if (DbCode rc = db.lock(position, wait_ms); rc != DbCode::Ok) return rc;
  JournalFile journal;
  DbCode rc = DbCode::Ok;
  if (crosses_sector(position, db.record_length)) {
    rc = journal.open(reg.files(), db);
    if (rc == DbCode::Ok && journal.lock(0) != DbCode::Ok) {
      // Held by another edit or a snapshot: let go of the record while waiting for it.
      std::ignore = db.unlock(position);
      rc = journal.lock(wait_ms == -1 ? -1 : std::max(wait_ms, kJournalWaitMs));
      if (rc != DbCode::Ok) return rc;
      if (rc = db.lock(position, wait_ms); rc != DbCode::Ok) return rc;
    }
  }
  if (rc == DbCode::Ok)
    rc = edit_held(db, journal.is_open() ? &journal : nullptr, position, serial, values, wait_ms);
  std::ignore = db.unlock(position);  // held by this table: only a closed file fails it
  return rc;
}

}  // namespace

DbCode db_edit(int32_t serial, const std::vector<Value>& values) {
  Registry& reg = registry();
  MutexLock g(reg.mu);
  Database* db = reg.current_db();
  const DbCode rc = db ? edit_current(reg, *db, serial, values) : DbCode::NoCurrentDatabase;
  set_db_last_error(rc);
  return rc;
}

}  // namespace pennacle
