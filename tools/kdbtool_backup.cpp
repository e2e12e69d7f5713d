// kdbtool backup, restore and backups. Compiled with UTF-8 literals like the rest of kdbtool.
#include "tools/kdbtool_backup.h"

#include <cstdio>
#include <ostream>

#include "platform/gbk.h"
#include "store/backup.h"
#include "store/check.h"
#include "tools/kdbtool_text.h"

namespace pennacle {
namespace {

const char* const kBackupHelp =
    "usage: kdbtool backup FILE [DIR]\n"
    "Writes a snapshot of FILE and its .KDT file into DIR (default: backups/ beside FILE), named by the\n"
    "date and time, e.g. data-20250131-093000.kdb. Both files are locked while they are copied, so a\n"
    "running Pennacle or kdbtool cannot tear the snapshot; it waits up to 2 seconds for them. The\n"
    "snapshot is synced to the disk and audited before it is reported.\n";

const char* const kRestoreHelp =
    "usage: kdbtool restore SNAPSHOT FILE\n"
    "Replaces FILE and its .KDT file with a snapshot. The snapshot must pass the audit, and no program may\n"
    "have FILE open (close Pennacle first). FILE is first kept as one more snapshot in backups/ beside it.\n"
    "The copy is synced before it takes FILE's place. If the restore is cut short (a crash, a full disk),\n"
    "FILE is missing rather than mismatched and FILE.restoring lies beside it: run the same restore again.\n";

const char* const kBackupsHelp =
    "usage: kdbtool backups FILE [DIR]\n"
    "Lists the snapshots of FILE in DIR (default: backups/ beside FILE), oldest first, with the time each\n"
    "was taken, its bill count and whether it passes the audit.\n";

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
    out << when(s) << "  " << check.live << " bill(s)  " << utf8(s.path) << (check.sound ? "" : "  NOT sound")
        << "\n";
  }
  out << all.size() << " snapshot(s) in " << utf8(dir) << "\n";
  return 0;
}

}  // namespace pennacle
