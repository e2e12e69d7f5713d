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

struct Restore {
  FileSystem& fs;
  std::string snap, file, file_aux, dir;
  RestoreResult r;

  bool fail(const std::string& why) {
    r.error = why;
    return false;
  }

  bool audit_snapshot() {
    const CheckReport check = check_database(snap);
    if (!check.sound) {
      std::string why = utf8(snap) + " does not pass the audit; nothing was changed";
      for (const std::string& line : check.lines) {
        if (line.starts_with("error:")) why += "\n  " + line;
      }
      return fail(why);
    }
    r.lines.push_back("snapshot " + utf8(snap) + ": sound, " + std::to_string(check.live) + " bill(s)");
    return true;
  }

  // The file stays open exclusively until the end: nobody can open it while it is replaced.
  bool hold_file(snapshot::FilePair* held) {
    const FileCause c = snapshot::open_pair(fs, file, FileAccess::ReadWrite, FileShare::Exclusive, held);
    if (c == FileCause::SharingViolation || c == FileCause::LockViolation) {
      return fail(utf8(file) +
                  " is open in another program (Pennacle or kdbtool); close it and run restore again");
    }
    if (c == FileCause::NotFound) {
      r.lines.push_back(utf8(file) + " does not exist: nothing to keep");
      return true;
    }
    if (c != FileCause::None) return fail("cannot open " + utf8(file) + ": " + snapshot::cause_text(c));
    return true;
  }

  bool keep_replaced(snapshot::FilePair& held) {
    snapshot::DirLock lock;
    std::string error;
    if (!snapshot::ensure_directory(fs, dir, &error) || !lock.acquire(fs, dir, kSnapshotWaitMs, &error) ||
        !snapshot::copy_into_snapshot(fs, lock, held, file, dir, std::time(nullptr), kSnapshotWaitMs,
                                      &r.kept_name, &error)) {
      return fail("cannot keep the file it would replace, so nothing was changed: " + error);
    }
    r.kept = true;
    r.lines.push_back("the replaced file is kept as " + utf8(r.kept_name.path));
    return true;
  }

  bool lock_source(snapshot::FilePair& source, bool lock) {
    // An unlock fails only with a closed file, whose locks are gone with it.
    if (!lock) {
      if (source.aux) std::ignore = platform_unlock(*source.aux, kWholeFile);
      std::ignore = platform_unlock(*source.main, kWholeFile);
      return true;
    }
    if (platform_lock(*source.main, kWholeFile, kSnapshotWaitMs) != DbCode::Ok) {
      return fail(utf8(snap) + " stays busy in another program; try again");
    }
    if (source.aux && platform_lock(*source.aux, kWholeFile, kSnapshotWaitMs) != DbCode::Ok) {
      std::ignore = platform_unlock(*source.main, kWholeFile);
      return fail(utf8(snap) + " stays busy in another program; try again");
    }
    return true;
  }

  // Copies of the snapshot beside the file, synced; true when the snapshot has an auxiliary file.
  bool stage(bool* has_aux) {
    snapshot::FilePair source;
    if (FileCause c = snapshot::open_pair(fs, snap, FileAccess::Read, FileShare::DenyNone, &source);
        c != FileCause::None) {
      return fail("cannot open " + utf8(snap) + ": " + snapshot::cause_text(c));
    }
    *has_aux = source.aux != nullptr;
    std::string error;
    const std::string staged_aux = file_aux + std::string(kRestoringSuffix);
    if (!snapshot::remove_if_present(fs, staged_aux, &error)) return fail(error);
    // Locked as a snapshot is taken: a program writing the snapshot file cannot tear the copy.
    if (!lock_source(source, true)) return false;
    const bool copied =
        snapshot::copy_to_new_file(fs, *source.main, file + std::string(kRestoringSuffix), &error) &&
        (!source.aux || snapshot::copy_to_new_file(fs, *source.aux, staged_aux, &error));
    lock_source(source, false);
    if (!copied) return fail("cannot copy the snapshot beside the file, so nothing was changed: " + error);
    if (fs.sync_directory_of(file) != FileCause::None) return fail("cannot sync the folder of " + utf8(file));
    return true;
  }

  bool step(FileCause c, const std::string& what) {
    if (c == FileCause::None && (c = fs.sync_directory_of(file)) == FileCause::None) return true;
    return fail(what + ": " + snapshot::cause_text(c) + "; run the same restore again to finish it");
  }

  // The record file goes first and comes back last, so the pair never mismatches.
  bool replace(bool has_aux, bool file_had_aux) {
    const std::string staged = file + std::string(kRestoringSuffix);
    if (has_aux || file_had_aux) {
      if (snapshot::exists(file) && !step(fs.remove(file), "cannot remove " + utf8(file))) return false;
      if (has_aux) {
        if (!step(fs.rename(file_aux + std::string(kRestoringSuffix), file_aux),
                  "cannot rename into " + utf8(file_aux)))
          return false;
      } else if (!step(fs.remove(file_aux), "cannot remove " + utf8(file_aux))) {
        return false;
      }
    }
    return step(fs.rename(staged, file), "cannot rename into " + utf8(file));
  }

  bool run() {
    if (snapshot::same_file(snap, file)) return fail("the snapshot and the file are the same file");
    if (!snapshot::exists(snap)) return fail(utf8(snap) + ": " + snapshot::cause_text(FileCause::NotFound));
    if (snapshot::exists(file + std::string(kRestoringSuffix)))
      r.lines.push_back("an earlier restore was interrupted; this one replaces its copies");
    snapshot::FilePair held;
    if (!hold_file(&held) || !audit_snapshot()) return false;
    if (held.main && !keep_replaced(held)) return false;
    bool has_aux = false;
    if (!stage(&has_aux)) return false;
    if (!replace(has_aux, held.aux != nullptr || snapshot::exists(file_aux))) return false;
    r.lines.push_back(utf8(file) + " now holds the snapshot");
    return true;
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
  job.r.ok = job.run();
  return std::move(job.r);
}

}  // namespace pennacle
