#include "store/backup.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>
#include <tuple>

#include "platform/gbk.h"
#include "store/check.h"
#include "store/restore.h"
#include "store/side_files.h"
#include "store/snapshot_files.h"
#include "store/snapshot_manifest.h"

namespace pennacle {

using snapshot::utf8;

namespace {

constexpr std::string_view kSnapshotDirName = "backups";
constexpr std::string_view kSnapshotExtension = ".kdb";
constexpr std::string_view kSnapshotAuxExtension = ".KDT";
constexpr size_t kStampDigits = 8 + 1 + 6;  // YYYYMMDD-HHMMSS
constexpr size_t kMaxSequenceDigits = 4;

// The number the `n` decimal digits at `at` spell; nothing when one is not a digit.
std::optional<int> digits(std::string_view s, size_t at, size_t n) {
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

// "STEM-YYYYMMDD-HHMMSS[-N].kdb": the fields (paths left empty), or nothing when the name is not
// a snapshot's.
std::optional<SnapshotName> parse_name(std::string_view name, std::string_view stem) {
  if (name.size() < stem.size() + 1 + kStampDigits + kSnapshotExtension.size() ||
      name.substr(0, stem.size()) != stem || name[stem.size()] != '-' ||
      !name.ends_with(kSnapshotExtension)) {
    return std::nullopt;
  }
  std::string_view rest = name.substr(stem.size() + 1);
  rest.remove_suffix(kSnapshotExtension.size());
  if (rest.size() < kStampDigits || rest[8] != '-') return std::nullopt;
  const std::optional<int> date = digits(rest, 0, 8), time = digits(rest, 9, 6);
  if (!date || !time) return std::nullopt;
  SnapshotName out;
  out.year = *date / 10000, out.month = *date / 100 % 100, out.day = *date % 100;
  out.hour = *time / 10000, out.minute = *time / 100 % 100, out.second = *time % 100;
  if (out.month < 1 || out.month > 12 || out.day < 1 || out.day > 31 || out.hour > 23 || out.minute > 59 ||
      out.second > 60) {
    return std::nullopt;
  }
  if (rest.size() == kStampDigits) return out;
  const std::string_view seq = rest.substr(kStampDigits);
  if (seq.size() < 2 || seq.size() > 1 + kMaxSequenceDigits || seq[0] != '-' || seq[1] == '0')
    return std::nullopt;
  const std::optional<int> sequence = digits(seq, 1, seq.size() - 1);
  if (!sequence || *sequence < 2) return std::nullopt;
  out.sequence = *sequence;
  return out;
}

auto order_key(const SnapshotName& s) {
  return std::tie(s.year, s.month, s.day, s.hour, s.minute, s.second, s.sequence);
}

SnapshotResult take_locked(FileSystem& fs, const snapshot::DirLock& folder, snapshot::FilePair& source,
                           const std::string& file, const std::string& dir, std::time_t now, int32_t wait_ms,
                           bool audit) {
  SnapshotResult r;
  Result<SnapshotName> name = snapshot::copy_into_snapshot(fs, folder, source, file, dir, now, wait_ms);
  if (!name.ok()) {
    r.status = name.status();
    return r;
  }
  r.name = std::move(*name);
  for (const snapshot::OpenSide& side : source.sides) r.side_paths.push_back(r.name.side_path(side.suffix));
  source = {};
  if (audit) {
    const CheckReport check = check_database(r.name.path);
    r.sound = check.sound;
    r.live = check.live;
    r.report = check.lines;
    return r;
  }
  snapshot::FilePair copy;
  std::string problem = "the snapshot cannot be opened again";
  if (snapshot::open_pair(fs, r.name.path, FileAccess::Read, FileShare::DenyNone, &copy).ok())
    problem = snapshot::structure_problem(*copy.main, copy.aux.get());
  r.sound = problem.empty();
  if (!r.sound) r.report.push_back(problem);
  return r;
}

// Removes the oldest snapshots of `file` in `dir` beyond the newest `keep`, each with every file it
// has; the folder's lock is held.
Status remove_locked(FileSystem& fs, const std::string& file, const std::string& dir, int keep) {
  const std::vector<SnapshotName> all = list_snapshots(file, dir);
  const size_t kept = static_cast<size_t>(std::max(keep, 0));
  if (all.size() <= kept) return {};
  for (size_t i = 0; i < all.size() - kept; ++i) {
    // The record file first: a listed snapshot never lacks a part.
    for (const std::string& p : all[i].part_paths()) {
      if (Status s = snapshot::remove_if_present(fs, p); !s.ok()) return s;
    }
  }
  if (FileCause c = fs.sync_directory_of(all[0].path); c != FileCause::None)
    return snapshot::file_failure(c, dir, "cannot sync the folder");
  return {};
}

// Opens the source for a snapshot, refusing anything that is not a record file before any folder
// or file is made for it.
Status open_source(FileSystem& fs, const std::string& file, snapshot::FilePair* source) {
  std::error_code ec;
  const std::optional<std::string> shown = gbk_to_utf8(file);
  if (shown && std::filesystem::is_directory(*shown, ec))
    return Status::invalid(utf8(file) + " is a folder, not a record file; nothing was written");
  if (Status s = snapshot::open_pair(fs, file, FileAccess::Read, FileShare::DenyNone, source); !s.ok())
    return s;
  if (const std::string why = snapshot::not_a_record_file(*source->main); !why.empty())
    return Status::invalid(utf8(file) + ": " + why + "; nothing was written");
  return {};
}

// Refuses a daily snapshot of `file` when its pair (or the copy of it) fails the structure check.
Status structure_refusal(const std::string& file, File& main, File* aux) {
  const std::string problem = snapshot::structure_problem(main, aux);
  if (problem.empty()) return {};
  return Status::corrupt(utf8(file) + ": " + problem + "; no snapshot was taken and none was removed");
}

}  // namespace

std::string SnapshotName::side_path(std::string_view suffix) const { return side_file_path(path, suffix); }

std::vector<std::string> SnapshotName::part_paths() const {
  std::vector<std::string> out{path, aux_path};
  for (std::string_view suffix : kSideFileSuffixes) out.push_back(side_path(suffix));
  out.push_back(manifest_path);
  return out;
}

std::string default_snapshot_directory(std::string_view gbk_file) {
  return snapshot::directory_of(snapshot::normalized_file(gbk_file)) + "/" + std::string(kSnapshotDirName);
}

namespace snapshot {

SnapshotName snapshot_name(const std::string& gbk_file, const std::string& gbk_dir, std::time_t now,
                           int sequence) {
  std::tm t{};
  localtime_r(&now, &t);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "-%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  std::string base = gbk_dir + "/" + stem_of(gbk_file) + stamp;
  if (sequence > 1) base += "-" + std::to_string(sequence);
  // A name made here always parses; its fields come from the same reading as a listed one's.
  SnapshotName n =
      parse_name(snapshot::base_name_of(base) + std::string(kSnapshotExtension), stem_of(gbk_file))
          .value_or(SnapshotName{});
  n.path = base + std::string(kSnapshotExtension);
  n.aux_path = base + std::string(kSnapshotAuxExtension);
  n.manifest_path = manifest_path_of(n.path);
  return n;
}

}  // namespace snapshot

std::vector<SnapshotName> list_snapshots(std::string_view gbk_file, std::string_view gbk_dir) {
  std::vector<SnapshotName> out;
  const std::string stem = stem_of(gbk_file);
  const std::optional<std::string> dir = gbk_to_utf8(gbk_dir);
  if (!dir) return out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(*dir, ec)) {
    std::error_code type_ec;
    if (!entry.is_regular_file(type_ec)) continue;
    const std::optional<std::string> name = utf8_to_gbk(entry.path().filename().string());
    if (!name) continue;
    std::optional<SnapshotName> parsed = parse_name(*name, stem);
    if (!parsed) continue;
    SnapshotName& s = *parsed;
    const std::string base =
        std::string(gbk_dir) + "/" + name->substr(0, name->size() - kSnapshotExtension.size());
    s.path = base + std::string(kSnapshotExtension);
    s.aux_path = base + std::string(kSnapshotAuxExtension);
    s.manifest_path = manifest_path_of(s.path);
    out.push_back(std::move(s));
  }
  std::sort(out.begin(), out.end(),
            [](const SnapshotName& a, const SnapshotName& b) { return order_key(a) < order_key(b); });
  return out;
}

SnapshotResult take_snapshot(std::string_view gbk_file, std::string_view gbk_dir,
                             const SnapshotOptions& options) {
  FileSystem& fs = options.files ? *options.files : posix_file_system();
  const std::string file = snapshot::normalized_file(gbk_file);
  const std::string dir = gbk_dir.empty() ? default_snapshot_directory(file) : std::string(gbk_dir);
  SnapshotResult r;
  if (!snapshot::exists(file)) {
    r.status = snapshot::file_failure(FileCause::NotFound, file, "cannot take a snapshot: it does not exist");
    return r;
  }
  snapshot::FilePair source;
  r.status = open_source(fs, file, &source);
  if (!r.status.ok()) return r;
  snapshot::DirLock lock;
  r.status = snapshot::ensure_directory(fs, dir);
  if (r.status.ok()) r.status = lock.acquire(fs, dir, options.wait_ms);
  if (!r.status.ok()) return r;
  return take_locked(fs, lock, source, file, dir, options.now ? options.now : std::time(nullptr),
                     options.wait_ms, options.audit);
}

struct StartBackup::State {
  FileSystem* fs = nullptr;
  std::string file, dir;
  std::time_t now = 0;
  int keep = kKeptSnapshots;
  snapshot::DirLock lock;
  snapshot::TempCopy copy;
  DailyBackupResult result;
};

StartBackup::StartBackup() : s_(std::make_unique<State>()) {}
StartBackup::~StartBackup() = default;
const DailyBackupResult& StartBackup::result() const { return s_->result; }

bool StartBackup::begin(std::string_view gbk_file, std::time_t now, int keep, FileSystem* files) {
  const bool more = copy_first_half(gbk_file, now, keep, files);
  if (!more) s_->lock.release();  // nothing more to do in the folder
  return more;
}

bool StartBackup::copy_first_half(std::string_view gbk_file, std::time_t now, int keep, FileSystem* files) {
  State& s = *s_;
  s.fs = files ? files : &posix_file_system();
  s.file = snapshot::normalized_file(gbk_file);
  s.now = now;
  s.keep = keep;
  DailyBackupResult& r = s.result;
  if (!snapshot::exists(s.file)) {
    r.status = DailyBackup::NoFile;
    r.message = interrupted_restore_message(s.file);
    return false;
  }
  snapshot::FilePair source;
  Status made = open_source(*s.fs, s.file, &source);
  // A damaged pair is not snapshotted: each start would add one, and rotation would then push the
  // good copies out. The folder is not even made. Checked again on the copy, taken under the locks.
  if (made.ok()) made = structure_refusal(s.file, *source.main, source.aux.get());
  s.dir = default_snapshot_directory(s.file);
  if (made.ok()) made = snapshot::ensure_directory(*s.fs, s.dir);
  if (made.ok()) made = s.lock.acquire(*s.fs, s.dir, kSnapshotWaitMs);
  if (!made.ok()) {
    r.message = made.message();
    return false;
  }
  std::tm today{};
  localtime_r(&now, &today);
  const std::vector<SnapshotName> existing = list_snapshots(s.file, s.dir);
  if (!existing.empty()) {
    const SnapshotName& newest = existing.back();
    if (newest.year == today.tm_year + 1900 && newest.month == today.tm_mon + 1 &&
        newest.day == today.tm_mday) {
      r.status = DailyBackup::AlreadyToday;
      return false;
    }
  }
  Status copied = snapshot::copy_to_temps(*s.fs, s.lock, source, s.dir, kSnapshotWaitMs, &s.copy);
  if (!copied.ok()) r.message = copied.message();
  return copied.ok();
}

DailyBackupResult StartBackup::finish() {
  State& s = *s_;
  assert(s.lock.held() && s.copy.main && "begin returned true, and finish runs once");
  DailyBackupResult& r = s.result;
  struct Unlock {
    snapshot::DirLock& lock;
    ~Unlock() { lock.release(); }
  } unlock{s.lock};
  if (Status refused = structure_refusal(s.file, *s.copy.main, s.copy.aux.get()); !refused.ok()) {
    snapshot::discard_temps(*s.fs, s.copy);
    r.message = refused.message();
    return r;
  }
  Result<SnapshotName> name = snapshot::name_temps(*s.fs, s.copy, s.file, s.dir, s.now);
  if (!name.ok()) {
    r.message = name.status().message();
    return r;
  }
  r.name = std::move(*name);
  r.status = DailyBackup::Taken;
  if (Status removed = remove_locked(*s.fs, s.file, s.dir, s.keep); !removed.ok())
    r.message = removed.with_context("removing old snapshots").message();
  return r;
}

DailyBackupResult daily_backup(std::string_view gbk_file, std::time_t now, int keep, FileSystem* files) {
  StartBackup b;
  return b.begin(gbk_file, now, keep, files) ? b.finish() : b.result();
}

}  // namespace pennacle
