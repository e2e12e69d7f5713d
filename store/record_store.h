// The record store: a process-wide registry of open databases, each a file of fixed-length records
// (extension "KDB") with an auxiliary block file ("KDT") when it has memo or byte-set fields.
//
// Every operation acts on the current database and its current record, leaves its result code in
// the calling thread's last error code (store/errors.h: db_last_error, db_error_text) and, where it
// returns a logical, returns true exactly when that code is 0. One process-wide mutex makes each
// operation atomic, so any thread may call them. Between processes, byte-range locks keep readers
// and writers apart; with the wait time 0 a conflict fails at once.
//
// What an operation reports as done is on the disk: appends, deletes, purges and the repairs of a
// writable open sync their files at the barriers charted beside append (append.cpp) and
// compaction (compaction.h) before they return success.
//
// The code lives in paths.cpp (file names), open.cpp (open, validation, close), append.cpp,
// create.cpp, edit.cpp, record_read.cpp (reading fields; a record whole: record_read.h) and
// record_store.cpp (the other operations).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "runtime/value.h"
#include "store/errors.h"
#include "store/format.h"

namespace pennacle {

// ---- Operations (runtime commands) -----------------------------------------------------------
//
// db_open(file name, [alias], [read-only: 1], [share mode 1..4], [ignored], [password],
//         [index file names...]) -> Logical. Never creates the file; the name gets ".KDB" when its
//         last component has no extension. The new database becomes current, at record 1.
void db_open(int argc, const Value* args, Value* result);
// db_close([alias, base name or full path]) -> nothing. No name: the current database.
void db_close(int argc, const Value* args, Value* result);
// db_record_count() -> Int: record slots, deleted records included.
void db_record_count(int argc, const Value* args, Value* result);
// db_go_first() -> nothing: the current record becomes record 1.
void db_go_first(int argc, const Value* args, Value* result);
// db_go_to(n) -> Logical: record n (1-based), kept inside 1 .. record count.
void db_go_to(int argc, const Value* args, Value* result);
// db_skip([n = 1]) -> Logical: moves n records; one step past either end succeeds, the next fails.
void db_skip(int argc, const Value* args, Value* result);
// One record forward within `count`, the record count a walk read once (db_record_count): db_skip(1)
// without reading the count again, so a walk takes one count-slot hold rather than one per record.
// While the file keeps `count` records it moves as db_skip does; when another process's purge has
// removed records, a read where the walk stands finds no record (SeekFailed), as a read after the
// last one does. `read` is the code of the walk's read at the record it leaves: when that read met
// another process's lock (a purge holds the whole file), the step is db_skip's, whose count-slot
// hold waits the purge out rather than failing every read after it. Sets the last error.
DbCode db_skip_within(int32_t count, DbCode read = DbCode::Ok);
// db_append(one value per field, in field order) -> Logical. Omitted values leave the field zero.
void db_append(int argc, const Value* args, Value* result);
// Appends one bill per row (each row one value per field, as db_append takes them) under one hold of
// the count slot. The group shares its sync barriers: every record and chain is on the disk before
// the header that counts them, and that header before it returns, so a cut keeps the whole group or
// none of it. The current record becomes the last one appended. Codes as db_append; also sets the
// last error.
DbCode db_append_rows(const std::vector<std::vector<Value>>& rows);
// db_delete() -> Logical: marks the current record deleted; it stays until db_purge.
void db_delete(int argc, const Value* args, Value* result);
// Changes the current record in place: `values` holds one value per field in field order (as
// db_append takes them; fewer is fine), an omitted one keeping its field. The record keeps its serial
// and its slot. `serial` is the record's serial as the caller found it: NoSuchRecord when the record
// no longer has it (deleted meanwhile, or a purge moved another record there). Under the record's
// lock, the one db_delete takes: another holder gives its lock code. What it reports done is on the
// disk, and a cut at any point leaves the old record or the new one, whole (store/edit.cpp).
// Codes also: AccessDenied for a read-only open, KindMismatch, NoCurrentRecord, file and chain codes.
// Also sets the last error.
DbCode db_edit(int32_t serial, const std::vector<Value>& values);
// db_purge() -> Logical: removes the deleted records, keeping order and serials.
void db_purge(int argc, const Value* args, Value* result);
// db_read_field(name or 1-based number) -> the field's value (texts are owned by the caller), read
// under one hold of the record's lock. A walk that wants several fields of each record reads them
// under one hold with db_read_record (record_read.h). No current database, no such field, or an
// argument of another kind end the program through the fatal path.
void db_read_field(int argc, const Value* args, Value* result);

// ---- Creating a database (not an operation of the program; used by kdbtool and tests) --------

struct FieldSpec {
  std::string name;  // GBK
  FieldType type = FieldType::Int;
  int32_t width = 0;  // text fields only: bytes, 1 or more
};

// Writes a new empty database (and its auxiliary file when needed) at `gbk_path` (".KDB" added as
// db_open adds it). Codes: NoFields, BadFieldType, BadFieldName, BadFieldSize (a text width below 1
// or a record too long), DuplicateField, BadPath, CreateFailed when the file exists, or the code of
// a file error. Also sets the last error.
DbCode create_database(std::string_view gbk_path, const std::vector<FieldSpec>& fields);

// ---- Inspection (kdbtool, tests) -------------------------------------------------------------

struct DatabaseInfo {
  std::string full_path;  // GBK
  std::vector<FieldDescriptor> fields;
  int32_t record_length = 0;
  int64_t data_start = 0;
  int32_t current = -1;  // zero-based current record
};
// The current database's table; false (and NoCurrentDatabase) when there is none.
[[nodiscard]] bool db_current_info(DatabaseInfo* out);
// The serial of the current record (negative when deleted): Ok, NoCurrentDatabase,
// NoCurrentRecord, SeekFailed past the last record, RecordReadFailed, or a lock or file code.
DbCode db_current_serial(int32_t* serial);

// The process-wide wait time in milliseconds (0 at start: conflicts fail at once; -1: no limit).
void set_db_wait_time(int32_t ms);

// The file system the store opens files through (tests put a fault-injecting one here);
// nullptr restores the real one. Returns the previous one.
FileSystem* set_store_file_system(FileSystem* fs);

// Whether the store may use the sole-opener mode while no other process has a database's files
// open (store/sole_mode.h); false forces the full lock protocol everywhere. It starts false when
// the environment sets PENNACLE_STORE_FULL_PROTOCOL=1. Returns the previous setting.
bool set_sole_opener_allowed(bool allowed);
[[nodiscard]] bool sole_opener_allowed();
// Whether the current database is in the sole-opener mode now.
[[nodiscard]] bool db_current_alone();

}  // namespace pennacle
