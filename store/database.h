// Inside the record store: one open database, the process-wide registry of them, and what every
// operation does at its end. Only the store's own files include this.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/mutex.h"
#include "runtime/value.h"
#include "store/compaction.h"
#include "store/errors.h"
#include "store/format.h"
#include "store/locks.h"
#include "store/sole_mode.h"

namespace pennacle {

// One open database. Reached only through the registry, under its mutex.
struct Database {
  // Both files are SoleFiles (store/sole_file.h) once opened.
  std::unique_ptr<File> file;
  std::unique_ptr<File> aux;       // only when the table has memo or byte-set fields
  std::shared_ptr<SoleMode> sole;  // set when the open succeeds
  bool read_only = false;
  int32_t exclusive = 0;  // above 0: count-slot and record locks are skipped
  std::string full_path, base_name, alias;
  FileHeader header;
  int32_t record_length = 0;
  std::vector<FieldDescriptor> fields;
  int64_t data_start = 0;
  int32_t current = 0;  // zero-based; -1 before the first record, record count after the last
  LockTable locks;
  // Field names as callers last spelled them, with the field each names: a walk names the same few
  // fields for every record. The fields never change while the table is open.
  std::vector<std::pair<std::string, size_t>> named_fields;
  size_t named_next = 0;  // where the next lookup starts: a walk names its fields in turn

  int64_t record_pos(int64_t k) const { return data_start + k * record_length; }
  SoleFile& sole_file() { return static_cast<SoleFile&>(*file); }
  SoleFile* sole_aux() { return static_cast<SoleFile*>(aux.get()); }
  [[nodiscard]] DbCode lock(int64_t position, int32_t wait_ms) {
    return exclusive > 0 ? DbCode::Ok : locks.lock(*file, position, wait_ms);
  }
  [[nodiscard]] DbCode unlock(int64_t position) {
    return exclusive > 0 ? DbCode::Ok : locks.unlock(*file, position);
  }
  RecordFile record_file(int32_t wait_ms) {
    return RecordFile{*file, aux.get(), data_start, record_length, fields, wait_ms};
  }
};

// The open databases of the process, in the order opened, and the current one.
struct Registry {
  Mutex mu;
  std::vector<std::unique_ptr<Database>> open GUARDED_BY(mu);
  int current GUARDED_BY(mu) = -1;
  int32_t wait_ms GUARDED_BY(mu) = 0;
  FileSystem* fs GUARDED_BY(mu) = nullptr;  // nullptr: the real file system

  // The current database, at the start of an operation: it takes the sole-opener mode when the
  // process is alone with its files.
  Database* current_db() REQUIRES(mu) {
    mu.assert_held();
    Database* db = current >= 0 ? open[static_cast<size_t>(current)].get() : nullptr;
    if (db && db->sole) db->sole->maybe_enter();
    return db;
  }
  FileSystem& files() REQUIRES(mu) {
    mu.assert_held();
    return fs ? *fs : posix_file_system();
  }
};

// The one registry; never destroyed, as a worker thread may still be inside the store while the
// program ends.
Registry& registry();

// Sets the calling thread's last error and gives the logical result.
inline void finish(Value* result, DbCode code) {
  set_db_last_error(code);
  *result = Value::of_logical(code == DbCode::Ok);
}

// Closes the files of a database, releasing whatever its lock table holds.
void close_database(Database& db);

}  // namespace pennacle
