// Snapshots of a record file, its auxiliary file and its side files (store/side_files.h): taken
// under the store's locks so a writer in another process cannot tear them, named by the local date
// and time they were taken, sealed by a manifest (store/snapshot_manifest.h), kept in a folder (by
// default backups/ beside the file). Restoring one is store/restore.h.
//
// A snapshot of FILE "dir/data.kdb" is "dir/backups/data-YYYYMMDD-HHMMSS.kdb" with its auxiliary
// file "data-YYYYMMDD-HHMMSS.KDT", its side files "data-YYYYMMDD-HHMMSS.kdb.imports" (and so on) and
// its manifest "data-YYYYMMDD-HHMMSS.manifest"; a second snapshot in the same second gets "-2",
// "-3", ... after the time. A snapshot is listed by its record file, which is named last, so a
// listed snapshot is whole; rotation removes the record file first and then the rest. Every change
// to a snapshot folder (new snapshot, rotation) holds the exclusive lock of its file ".lock", so two
// programs never pick the same name.
//
// Messages are UTF-8 (for the terminal); paths are GBK, as everywhere inside the program.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/status.h"
#include "store/paths.h"

namespace pennacle {

// How long a snapshot waits for another program to finish an operation on the file.
inline constexpr int32_t kSnapshotWaitMs = 2000;
// Snapshots the daily backup keeps.
inline constexpr int kKeptSnapshots = 30;

struct SnapshotName {
  std::string path;           // GBK, the snapshot's record file
  std::string aux_path;       // GBK, its auxiliary file (it may not exist: a table without chains)
  std::string manifest_path;  // GBK (it may not exist: a snapshot of an older version)
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int sequence = 1;  // 1 for the first snapshot of its second

  // GBK, its side file with `suffix` (it may not exist).
  std::string side_path(std::string_view suffix) const;
  // Every file the snapshot may have, record file first, manifest last (existing or not).
  std::vector<std::string> part_paths() const;
};

// "dir/backups" for "dir/data.kdb".
std::string default_snapshot_directory(std::string_view gbk_file);

// The snapshots of `gbk_file` in `gbk_dir`, oldest first. Files whose names do not parse are not
// snapshots and are left out. A missing folder has none.
std::vector<SnapshotName> list_snapshots(std::string_view gbk_file, std::string_view gbk_dir);

struct SnapshotOptions {
  std::time_t now = 0;  // the time the name carries; 0: the current time
  int32_t wait_ms = kSnapshotWaitMs;
  bool audit = true;            // run the full audit on the snapshot (check_database)
  FileSystem* files = nullptr;  // nullptr: the real file system
};

struct SnapshotResult {
  Status status;       // ok: the snapshot is complete, synced and named
  bool sound = false;  // it passed the audit (or, without the audit, the structure check)
  SnapshotName name;
  std::vector<std::string> side_paths;  // GBK, the side files it holds
  int32_t live = 0;                     // live records, when audited
  std::vector<std::string> report;      // audit lines, or the structure problem
};

// Copies `gbk_file`, its auxiliary file and its side files into a new snapshot in `gbk_dir` (made
// when missing). A `gbk_file` that is not a record file (a folder, another kind of file) is refused
// before anything is made. The side files' lock bytes and then the whole record and auxiliary files
// are locked while they are copied; a running import delays it and, past `wait_ms`, fails it. The
// copies are synced under temporary names, sealed by the manifest and named (store/snapshot_files.h).
// A snapshot that fails the audit is kept (it is what the file holds) and reported unsound.
SnapshotResult take_snapshot(std::string_view gbk_file, std::string_view gbk_dir,
                             const SnapshotOptions& options);

enum class DailyBackup { Taken, AlreadyToday, NoFile, Failed };
struct DailyBackupResult {
  DailyBackup status = DailyBackup::Failed;
  std::string message;  // UTF-8, one line, when Failed or when old snapshots could not be removed
  SnapshotName name;    // when Taken
};

// The backup at program start, in two halves so that start-up waits only for the copying.
// Only a pair that passes the structure check (the full audit would make start-up slow) is taken:
// begin checks the file before it touches backups/, finish checks the copy again and discards it
// when it fails; either way no snapshot is named and none removed (Failed, with the problem).
// begin: when `gbk_file` exists and the newest snapshot in backups/ beside it is not from the local
// day of `now`, copies the files under their locks into temporary files. finish: syncs the copies,
// names the snapshot and keeps the newest `keep`. finish
// touches no open database, so it may run on another thread while the program works; the folder
// stays locked from begin until finish ends. A StartBackup destroyed between the halves leaves
// its temporary files, which the next snapshot in the folder removes.
class StartBackup {
 public:
  StartBackup();
  ~StartBackup();
  StartBackup(const StartBackup&) = delete;
  StartBackup& operator=(const StartBackup&) = delete;

  // True when finish has work to do; otherwise result() says why not (NoFile, AlreadyToday, Failed).
  bool begin(std::string_view gbk_file, std::time_t now, int keep = kKeptSnapshots,
             FileSystem* files = nullptr);
  // Once, after begin returned true (asserted).
  DailyBackupResult finish();
  const DailyBackupResult& result() const;

 private:
  bool copy_first_half(std::string_view gbk_file, std::time_t now, int keep, FileSystem* files);
  struct State;
  std::unique_ptr<State> s_;
};

// Both halves at once.
DailyBackupResult daily_backup(std::string_view gbk_file, std::time_t now, int keep = kKeptSnapshots,
                               FileSystem* files = nullptr);

}  // namespace pennacle
