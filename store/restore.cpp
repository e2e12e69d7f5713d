// Putting a snapshot back in place of a record file, its auxiliary file and its side files.
#include "store/restore.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <optional>
#include <tuple>

#include "store/check.h"
#include "store/crc32.h"
#include "store/locks.h"
#include "store/paths.h"
#include "store/side_files.h"
#include "store/snapshot_files.h"
#include "store/snapshot_manifest.h"

namespace pennacle {

using snapshot::utf8;

namespace {

// A failure after the first change to the file: what is left is finished by the same restore.
constexpr std::string_view kCutShort =
    "the restore stopped half way; run the same restore again to finish it";
constexpr size_t kMaxNoteBytes = 4096;

std::string note_path(const std::string& file) {
  return file + std::string(kRestoringSuffix) + std::string(kRestoringFromSuffix);
}

std::string crc_text(std::string_view s) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", crc32(0, reinterpret_cast<const uint8_t*>(s.data()), s.size()));
  return buf;
}

// The note: the snapshot's path (GBK) on one line, its CRC-32 on the next.
std::string encode_note(std::string_view gbk_snapshot) {
  return std::string(gbk_snapshot) + "\n" + crc_text(gbk_snapshot) + "\n";
}

std::optional<std::string> read_note(const std::string& file) {
  std::unique_ptr<File> f;
  if (posix_file_system().open(note_path(file), FileAccess::Read, FileShare::DenyNone, &f) != FileCause::None)
    return std::nullopt;
  std::string bytes(kMaxNoteBytes, '\0');
  size_t got = 0;
  const FileCause c = f->read_at(0, bytes.data(), bytes.size(), &got);
  f->close();
  if (c != FileCause::None) return std::nullopt;
  bytes.resize(got);
  const size_t nl = bytes.find('\n');
  if (nl == std::string::npos || nl == 0) return std::nullopt;
  const std::string path = bytes.substr(0, nl);
  if (bytes != encode_note(path)) return std::nullopt;  // torn or changed: name no snapshot
  return path;
}

// A word the shell reads back as `s`: as it is when it holds no character the shell treats
// specially, else in single quotes.
std::string shell_word(const std::string& s) {
  const bool plain = !s.empty() && std::all_of(s.begin(), s.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c >= 0x80 || std::isalnum(c) || std::string_view("_./+-:,@%=").find(ch) != std::string_view::npos;
  });
  if (plain) return s;
  std::string out = "'";
  for (char ch : s) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return out + "'";
}

// Which parts a snapshot has beside its record file.
struct Parts {
  bool aux = false;
  std::vector<std::string> sides;  // suffixes
  bool has_side(std::string_view suffix) const {
    return std::find(sides.begin(), sides.end(), suffix) != sides.end();
  }
};

struct Restore {
  FileSystem& fs;
  std::string snap, file, file_aux, dir;
  RestoreResult r;
  std::optional<Manifest> manifest;  // when the snapshot has one

  Status check_seal() {
    SealCheck seal = check_snapshot_seal(snap, &fs);
    switch (seal.seal) {
      case SnapshotSeal::NoManifest:
        r.lines.push_back("snapshot " + utf8(snap) +
                          ": no manifest (taken by an older version); checked by the audit alone");
        return {};
      case SnapshotSeal::Damaged:
        return Status::corrupt(utf8(snap) + " is damaged: " + seal.detail +
                               "; it is not restored, nothing was changed");
      case SnapshotSeal::Intact:
        manifest = std::move(seal.manifest);
        return {};
    }
    return {};
  }

  Status audit_snapshot() {
    const CheckReport check = check_database(snap);
    if (!check.sound) {
      std::string why = utf8(snap) + " does not pass the audit; nothing was changed";
      for (const std::string& line : check.lines) {
        if (line.starts_with("error:")) why += "\n  " + line;
      }
      return Status::corrupt(why);
    }
    r.lines.push_back("snapshot " + utf8(snap) + ": " + (manifest ? "intact, " : "") + "sound, " +
                      std::to_string(check.live) + " bill(s)");
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

  // Locked as a snapshot is taken: a program writing the snapshot's files cannot tear the copy.
  Status lock_source(snapshot::FilePair& source) {
    if (Status s = snapshot::lock_sides(source.sides, kSnapshotWaitMs); !s.ok()) return s;
    DbCode rc = platform_lock(*source.main, kWholeFile, kSnapshotWaitMs);
    if (rc == DbCode::Ok && source.aux) {
      rc = platform_lock(*source.aux, kWholeFile, kSnapshotWaitMs);
      // An unlock fails only with a closed file, whose locks are gone with it.
      if (rc != DbCode::Ok) std::ignore = platform_unlock(*source.main, kWholeFile);
    }
    if (rc == DbCode::Ok) return {};
    snapshot::unlock_sides(source.sides);
    return Status::store(code_number(rc), utf8(snap) + " stays busy in another program; try again");
  }

  // An unlock fails only with a closed file, whose locks are gone with it.
  static void unlock_source(snapshot::FilePair& source) {
    if (source.aux) std::ignore = platform_unlock(*source.aux, kWholeFile);
    std::ignore = platform_unlock(*source.main, kWholeFile);
    snapshot::unlock_sides(source.sides);
  }

  // One part copied to `to`, and compared with the manifest when there is one.
  Status stage_part(File& from, const std::string& from_path, std::string_view part, const std::string& to,
                    int* matched) {
    ManifestEntry got;
    if (Status s = snapshot::copy_to_new_file(fs, from, from_path, to, &got); !s.ok()) return s;
    if (!manifest) return {};
    const ManifestEntry* want = manifest->find(part);
    if (!want || want->size != got.size || want->digest != got.digest)
      return Status::corrupt(utf8(from_path) + " changed while it was being restored");
    ++*matched;
    return {};
  }

  // Every part copied while the snapshot is locked.
  Status copy_parts(snapshot::FilePair& source) {
    if (Status s = lock_source(source); !s.ok()) return s;
    int matched = 0;
    Status s = stage_part(*source.main, snap, "kdb", file + std::string(kRestoringSuffix), &matched);
    if (s.ok() && source.aux)
      s = stage_part(*source.aux, source.aux_path, "KDT", file_aux + std::string(kRestoringSuffix), &matched);
    for (size_t i = 0; s.ok() && i < source.sides.size(); ++i) {
      const snapshot::OpenSide& side = source.sides[i];
      s = stage_part(*side.file, side.path, side.suffix,
                     side_file_path(file, side.suffix) + std::string(kRestoringSuffix), &matched);
    }
    unlock_source(source);
    if (s.ok() && manifest && matched != static_cast<int>(manifest->entries.size()))
      s = Status::corrupt(utf8(snap) + " lost a file while it was being restored");
    return s;
  }

  // Copies of the snapshot's parts beside the file, synced, with the note naming the snapshot;
  // `*has` tells which parts the snapshot has besides its record file.
  Status stage(Parts* has) {
    snapshot::FilePair source;
    if (Status s = snapshot::open_pair(fs, snap, FileAccess::Read, FileShare::DenyNone, &source); !s.ok())
      return s;
    has->aux = source.aux != nullptr;
    for (const snapshot::OpenSide& side : source.sides) has->sides.push_back(side.suffix);
    // Copies an earlier restore left of parts this snapshot lacks.
    std::vector<std::string> stale{file_aux};
    for (std::string_view suffix : kSideFileSuffixes) stale.push_back(side_file_path(file, suffix));
    for (const std::string& p : stale) {
      if (Status s = snapshot::remove_if_present(fs, p + std::string(kRestoringSuffix)); !s.ok()) return s;
    }
    Status copied = copy_parts(source);
    const std::string full = full_path_of(snap);
    const std::string named = full.empty() ? snap : full;
    if (copied.ok() && named.find('\n') == std::string::npos)
      copied = snapshot::write_new_file(fs, note_path(file), encode_note(named));
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

  // `live` from its staged copy when the snapshot has it, else removed when it exists.
  Status put_beside(const std::string& live, bool in_snapshot) {
    if (in_snapshot)
      return step(fs.rename(live + std::string(kRestoringSuffix), live), live,
                  "cannot rename the copy into place");
    if (!snapshot::exists(live)) return {};
    return step(fs.remove(live), live, "cannot remove");
  }

  // The record file goes first and comes back last, so the files never mismatch.
  Status replace(const Parts& has) {
    bool beside = has.aux || !has.sides.empty() || snapshot::exists(file_aux);
    for (std::string_view suffix : kSideFileSuffixes)
      beside = beside || snapshot::exists(side_file_path(file, suffix));
    if (beside) {
      if (snapshot::exists(file)) {
        if (Status s = step(fs.remove(file), file, "cannot remove"); !s.ok()) return s;
      }
      for (std::string_view suffix : kSideFileSuffixes) {
        if (Status s = put_beside(side_file_path(file, suffix), has.has_side(suffix)); !s.ok()) return s;
      }
      if (Status s = put_beside(file_aux, has.aux); !s.ok()) return s;
    }
    const std::string staged = file + std::string(kRestoringSuffix);
    if (Status s = step(fs.rename(staged, file), file, "cannot rename the copy into place"); !s.ok())
      return s;
    // The restore is done; a note left behind names a snapshot only beside a missing record file.
    std::ignore = snapshot::remove_if_present(fs, note_path(file));
    return {};
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
    if (Status s = check_seal(); !s.ok()) return s;
    if (Status s = audit_snapshot(); !s.ok()) return s;
    if (held.main) {
      if (Status s = keep_replaced(held); !s.ok()) return s;
    }
    Parts has;
    if (Status s = stage(&has); !s.ok()) return s;
    if (Status s = replace(has); !s.ok()) return s;
    std::string with;
    for (const std::string& suffix : has.sides) with += " " + utf8(side_file_path(file, suffix));
    r.lines.push_back(utf8(file) + " now holds the snapshot" + (with.empty() ? "" : " (with" + with + ")"));
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
              {},
              {}};
  job.r.status = job.run();
  return std::move(job.r);
}

std::string interrupted_restore_message(std::string_view gbk_file, std::string_view shown_file) {
  const std::string file = snapshot::normalized_file(gbk_file);
  if (snapshot::exists(file) || !snapshot::exists(file + std::string(kRestoringSuffix))) return "";
  const std::string shown = shown_file.empty() ? utf8(file) : std::string(shown_file);
  const std::string what = shown + " is missing because a restore was cut short (" + utf8(file) +
                           std::string(kRestoringSuffix) + " lies beside it); ";
  if (const std::optional<std::string> from = read_note(file))
    return what + "finish it with: kdbtool restore " + shell_word(utf8(*from)) + " " + shell_word(shown);
  return what + "finish it by running the same kdbtool restore SNAPSHOT " + shell_word(shown) +
         " again (kdbtool backups " + shell_word(shown) + " lists the snapshots)";
}

}  // namespace pennacle
