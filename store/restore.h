// Putting a snapshot (store/backup.h) back in place of a record file, its auxiliary file and its
// side files, durably, and telling the user about a restore that was cut short.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/status.h"
#include "store/backup.h"

namespace pennacle {

struct RestoreResult {
  Status status;
  std::vector<std::string> lines;  // what was done, for the terminal
  bool kept = false;               // the replaced file was kept as a snapshot
  SnapshotName kept_name;
};

// Replaces `gbk_file` (with its auxiliary file and side files) by the snapshot `gbk_snapshot`:
// 1. the snapshot must be intact against its manifest (one without a manifest, from an older
//    version, is taken on the audit alone) and pass the audit;
// 2. the file must not be open anywhere: it is opened exclusively, which fails while any program
//    (Pennacle, kdbtool) has it open, and stays open so until the end;
// 3. the file is kept, with its side files, as one more snapshot in backups/ beside it;
// 4. every part of the snapshot is copied beside the file as "<part>.restoring" and synced, and
//    "FILE.restoring.from" names the snapshot for the message of a restore cut short;
// 5. the record file is removed; each side file is renamed into place from its copy, or removed when
//    the snapshot has none (it would be newer than the ledger restored); the auxiliary file likewise;
//    the record copy is renamed into place last. Each step is followed by a sync of the folder.
// So the files are never a mismatch: while the record file is there they are the old set or the new
// one, and a stop in between leaves no record file at all (every open reports it; see
// interrupted_restore_message) with "FILE.restoring" beside it. A second run of the same restore
// finishes the work.
RestoreResult restore_snapshot(std::string_view gbk_snapshot, std::string_view gbk_file,
                               FileSystem* files = nullptr);

// The suffix of the copies a restore puts beside the file before renaming them into place.
inline constexpr std::string_view kRestoringSuffix = ".restoring";
// The suffix, after kRestoringSuffix, of the note naming the snapshot being restored.
inline constexpr std::string_view kRestoringFromSuffix = ".from";

// When `gbk_file` (as the store normalizes it) is missing and a restore's copy lies beside it: one
// line (UTF-8) saying that a restore was cut short, with the kdbtool command that finishes it
// (naming the snapshot when the restore's note is readable). Empty otherwise. `shown_file` is how the
// file is named in that command (what the user typed); empty: `gbk_file` in UTF-8.
std::string interrupted_restore_message(std::string_view gbk_file, std::string_view shown_file = {});

}  // namespace pennacle
