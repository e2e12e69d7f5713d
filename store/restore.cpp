// Putting a snapshot back in place of a record file and its auxiliary file.
#include <ctime>
#include <tuple>

#include "store/backup.h"
#include "store/check.h"
#include "store/locks.h"
#include "store/snapshot_files.h"

namespace pennacle {

using snapshot::utf8;

namespace {

// A failure after the first change to the file: what is left is finished by the same restore.
constexpr std::string_view kCutShort =
    "the restore stopped half way; run the same restore again to finish it";

struct Restore {
  FileSystem& fs;
  std::string snap, file, file_aux, dir;
  RestoreResult r;

  Status audit_snapshot() {
    const CheckReport check = check_database(snap);
    if (!check.sound) {
      std::string why = utf8(snap) + " does not pass the audit; nothing was changed";
      for (const std::string& line : check.lines) {
        if (line.starts_with("error:")) why += "\n  " + line;
      }
      return Status::corrupt(why);
    }
    r.lines.push_back("snapshot " + utf8(snap) + ": sound, " + std::to_string(check.live) + " bill(s)");
    return {};
  }

  // The file stays open exclusively until the end: nobody can open it while it is replaced.
  Status hold_file(snapshot::FilePair* held) {
    Status s = snapshot::open_pair(fs, file, FileAccess::ReadWrite, FileShare::Exclusive, held);
    const FileCause c = s.file_cause();
    if (c == FileCause::SharingViolation || c == FileCause::LockViolation) {
      return Status::file(c, s.path(),
                          "is open in another program (Pennacle or kdbtool); close it and run restore again");
    }
    if (c == FileCause::NotFound && !held->main) {
      r.lines.push_back(utf8(file) + " does not exist: nothing to keep");
      return {};
    }
    return s;
  }

  Status keep_replaced(snapshot::FilePair& held) {
    constexpr std::string_view kNotKept = "cannot keep the file it would replace, so nothing was changed";
    snapshot::DirLock lock;
    Status s = snapshot::ensure_directory(fs, dir);
    if (s.ok()) s = lock.acquire(fs, dir, kSnapshotWaitMs);
    if (!s.ok()) return s.with_context(kNotKept);
    Result<SnapshotName> kept =
        snapshot::copy_into_snapshot(fs, lock, held, file, dir, std::time(nullptr), kSnapshotWaitMs);
    if (!kept.ok()) return kept.status().with_context(kNotKept);
    r.kept = true;
    r.kept_name = std::move(*kept);
    r.lines.push_back("the replaced file is kept as " + utf8(r.kept_name.path));
    return {};
  }

  // Locked as a snapshot is taken: a program writing the snapshot file cannot tear the copy.
  Status lock_source(snapshot::FilePair& source) {
    DbCode rc = platform_lock(*source.main, kWholeFile, kSnapshotWaitMs);
    if (rc == DbCode::Ok && source.aux) {
      rc = platform_lock(*source.aux, kWholeFile, kSnapshotWaitMs);
      // An unlock fails only with a closed file, whose locks are gone with it.
      if (rc != DbCode::Ok) std::ignore = platform_unlock(*source.main, kWholeFile);
    }
    if (rc == DbCode::Ok) return {};
    return Status::store(code_number(rc), utf8(snap) + " stays busy in another program; try again");
  }

  // An unlock fails only with a closed file, whose locks are gone with it.
  static void unlock_source(snapshot::FilePair& source) {
    if (source.aux) std::ignore = platform_unlock(*source.aux, kWholeFile);
    std::ignore = platform_unlock(*source.main, kWholeFile);
  }

  // Copies of the snapshot beside the file, synced; `*has_aux` tells whether the snapshot has an
  // auxiliary file.
  Status stage(bool* has_aux) {
    snapshot::FilePair source;
    if (Status s = snapshot::open_pair(fs, snap, FileAccess::Read, FileShare::DenyNone, &source); !s.ok())
      return s;
    *has_aux = source.aux != nullptr;
    const std::string staged_aux = file_aux + std::string(kRestoringSuffix);
    if (Status s = snapshot::remove_if_present(fs, staged_aux); !s.ok()) return s;
    if (Status s = lock_source(source); !s.ok()) return s;
    Status copied = snapshot::copy_to_new_file(fs, *source.main, snap, file + std::string(kRestoringSuffix));
    if (copied.ok() && source.aux)
      copied = snapshot::copy_to_new_file(fs, *source.aux, source.aux_path, staged_aux);
    unlock_source(source);
    if (!copied.ok())
      return copied.with_context("cannot copy the snapshot beside the file, so nothing was changed");
    if (FileCause c = fs.sync_directory_of(file); c != FileCause::None)
      return snapshot::file_failure(c, snapshot::directory_of(file), "cannot sync the folder");
    return {};
  }

  // One removal or rename `c` of `path` (doing `what`), then the folder synced.
  Status step(FileCause c, const std::string& path, std::string_view what) {
    if (c != FileCause::None) return snapshot::file_failure(c, path, what).with_context(kCutShort);
    if ((c = fs.sync_directory_of(file)) != FileCause::None)
      return snapshot::file_failure(c, snapshot::directory_of(file), "cannot sync the folder")
          .with_context(kCutShort);
    return {};
  }

  // The record file goes first and comes back last, so the pair never mismatches.
  Status replace(bool has_aux, bool file_had_aux) {
    const std::string staged = file + std::string(kRestoringSuffix);
    if (has_aux || file_had_aux) {
      if (snapshot::exists(file)) {
        if (Status s = step(fs.remove(file), file, "cannot remove"); !s.ok()) return s;
      }
      const std::string staged_aux = file_aux + std::string(kRestoringSuffix);
      Status s = has_aux
                     ? step(fs.rename(staged_aux, file_aux), file_aux, "cannot rename the copy into place")
                     : step(fs.remove(file_aux), file_aux, "cannot remove");
      if (!s.ok()) return s;
    }
    return step(fs.rename(staged, file), file, "cannot rename the copy into place");
  }

  Status run() {
    if (snapshot::same_file(snap, file))
      return Status::invalid("the snapshot and the file are the same file");
    if (!snapshot::exists(snap))
      return snapshot::file_failure(FileCause::NotFound, snap, "cannot restore it: it does not exist");
    if (snapshot::exists(file + std::string(kRestoringSuffix)))
      r.lines.push_back("an earlier restore was interrupted; this one replaces its copies");
    snapshot::FilePair held;
    if (Status s = hold_file(&held); !s.ok()) return s;
    if (Status s = audit_snapshot(); !s.ok()) return s;
    if (held.main) {
      if (Status s = keep_replaced(held); !s.ok()) return s;
    }
    bool has_aux = false;
    if (Status s = stage(&has_aux); !s.ok()) return s;
    if (Status s = replace(has_aux, held.aux != nullptr || snapshot::exists(file_aux)); !s.ok()) return s;
    r.lines.push_back(utf8(file) + " now holds the snapshot");
    return {};
  }
};

}  // namespace

RestoreResult restore_snapshot(std::string_view gbk_snapshot, std::string_view gbk_file, FileSystem* files) {
  const std::string file = snapshot::normalized_file(gbk_file);
  Restore job{files ? *files : posix_file_system(),
              snapshot::normalized_file(gbk_snapshot),
              file,
              aux_path_of(file),
              default_snapshot_directory(file),
              {}};
  job.r.status = job.run();
  return std::move(job.r);
}

}  // namespace pennacle
