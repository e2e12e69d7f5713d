// kdbtool backup, restore and backups. Compiled with UTF-8 literals like the rest of kdbtool.
#include "tools/kdbtool_backup.h"

#include <cstdio>
#include <optional>
#include <ostream>

#include "platform/gbk.h"
#include "store/backup.h"
#include "store/check.h"
#include "store/restore.h"
#include "store/snapshot_manifest.h"
#include "tools/kdbtool_text.h"

namespace pennacle {
namespace {

const char* const kBackupHelp =
    "usage: kdbtool backup FILE [DIR]\n"
    "Writes a snapshot of FILE, its .KDT file and the files beside it (FILE.imports, the record of\n"
    "imported bills, and FILE.trash, the recycle bin) into DIR (default: backups/ beside FILE), named\n"
    "by the date and time, e.g. data-20250131-093000.kdb with data-20250131-093000.KDT,\n"
    "data-20250131-093000.kdb.imports, data-20250131-093000.kdb.trash and\n"
    "data-20250131-093000.manifest, which holds the SHA-256 of each. The files are locked while they\n"
    "are copied, so a running Pennacle or kdbtool cannot tear the snapshot; it waits up to 2 seconds\n"
    "for them, and fails (try again) while an import into FILE runs longer. The snapshot is synced to\n"
    "the disk and audited before it is reported. FILE must be a record file: nothing is written for\n"
    "anything else.\n";

const char* const kRestoreHelp =
    "usage: kdbtool restore SNAPSHOT FILE\n"
    "Replaces FILE, its .KDT file and the files beside it (FILE.imports, FILE.trash) with a snapshot.\n"
    "A file beside FILE that the snapshot lacks is removed: it would be newer than the bills restored.\n"
    "The snapshot must match its manifest (a snapshot whose bytes changed since it was taken is refused\n"
    "as damaged; one without a manifest, from an older version, is taken on the audit alone) and pass\n"
    "the audit, and no program may have FILE open (close Pennacle first). FILE is first kept as one\n"
    "more snapshot in backups/ beside it. The copies are synced before they take FILE's place. If the "
    "restore is cut\n"
    "short (a crash, a full disk), FILE is missing rather than mismatched and FILE.restoring lies beside\n"
    "it: every kdbtool command then says so, and the same restore run again finishes it.\n";

const char* const kBackupsHelp =
    "usage: kdbtool backups FILE [DIR]\n"
    "Lists the snapshots of FILE in DIR (default: backups/ beside FILE), oldest first, with the time each\n"
    "was taken, its bill count, whether it passes the audit, and \"damaged\" when its bytes changed since\n"
    "it was taken (its manifest says so) or \"no manifest\" for one taken by an older version.\n";

std::string when(const SnapshotName& s) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", s.year, s.month, s.day, s.hour, s.minute,
                s.second);
  return buf;
}

}  // namespace

int kdbtool_backup(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << kBackupHelp, 0;
  std::vector<std::string> paths;
  if (args.empty() || args.size() > 2)
    return fail(err, "backup needs FILE and maybe DIR (see kdbtool backup --help)");
  if (!to_gbk(args, &paths, err)) return 1;
  const SnapshotResult r = take_snapshot(paths[0], paths.size() > 1 ? paths[1] : "", SnapshotOptions{});
  if (!r.status.ok()) return fail(err, "backup failed: " + r.status.message());
  out << "snapshot: " << utf8(r.name.path) << "\n";
  for (const std::string& side : r.side_paths) out << "with: " << utf8(side) << "\n";
  if (!r.sound) {
    for (const std::string& line : r.report) out << line << "\n";
    return fail(err, "the snapshot does not pass the audit: " + args[0] +
                         " itself is damaged in the same way (the snapshot is kept)");
  }
  out << r.live << " bill(s); sound\n";
  return 0;
}

int kdbtool_restore(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << kRestoreHelp, 0;
  std::vector<std::string> paths;
  if (args.size() != 2) return fail(err, "restore needs SNAPSHOT and FILE (see kdbtool restore --help)");
  if (!to_gbk(args, &paths, err)) return 1;
  const RestoreResult r = restore_snapshot(paths[0], paths[1]);
  for (const std::string& line : r.lines) out << line << "\n";
  if (!r.status.ok()) return fail(err, "restore failed: " + r.status.message());
  return 0;
}

int kdbtool_backups(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << kBackupsHelp, 0;
  std::vector<std::string> paths;
  if (args.empty() || args.size() > 2)
    return fail(err, "backups needs FILE and maybe DIR (see kdbtool backups --help)");
  if (!to_gbk(args, &paths, err)) return 1;
  const std::string dir = paths.size() > 1 ? paths[1] : default_snapshot_directory(paths[0]);
  const std::vector<SnapshotName> all = list_snapshots(paths[0], dir);
  for (const SnapshotName& s : all) {
    const CheckReport check = check_database(s.path);
    const SealCheck seal = check_snapshot_seal(s.path);
    out << when(s) << "  " << check.live << " bill(s)  " << utf8(s.path)
        << (check.sound ? "" : "  NOT sound");
    if (seal.seal == SnapshotSeal::Damaged) out << "  damaged: " << seal.detail;
    if (seal.seal == SnapshotSeal::NoManifest) out << "  no manifest";
    out << "\n";
  }
  out << all.size() << " snapshot(s) in " << utf8(dir) << "\n";
  return 0;
}

int stop_after_interrupted_restore(const std::string& command, const std::vector<std::string>& args,
                                   std::ostream& err) {
  if (command == "restore" || wants_help(args)) return 0;
  for (const std::string& arg : args) {
    const std::optional<std::string> gbk = utf8_to_gbk(arg);
    if (!gbk || arg.starts_with("-")) continue;
    const std::string message = interrupted_restore_message(*gbk, arg);
    if (message.empty()) continue;
    if (command == "backups") {
      err << "kdbtool: note: " << message << "\n";
      return 0;
    }
    return fail(err, message);
  }
  return 0;
}

}  // namespace pennacle
