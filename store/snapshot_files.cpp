#include "store/snapshot_files.h"

#include <time.h>

#include <algorithm>
#include <cassert>
#include <filesystem>
#include <system_error>
#include <tuple>
#include <vector>

#include "platform/gbk.h"
#include "store/errors.h"
#include "store/format.h"
#include "store/locks.h"
#include "store/side_files.h"

namespace pennacle::snapshot {
namespace {

constexpr size_t kCopyChunk = 1 << 20;
constexpr long kPollNanoseconds = 1000000;
constexpr int kMaxSequence = 9999;  // snapshots in one second
constexpr std::string_view kLockName = ".lock";
constexpr std::string_view kTempPrefix = ".snapshot.";
constexpr std::string_view kTempSuffix = ".tmp";

std::filesystem::path fs_path(std::string_view gbk) {
  return std::filesystem::path(gbk_to_utf8(gbk).value_or(std::string(gbk)));
}

}  // namespace

std::string utf8(std::string_view gbk) { return gbk_to_utf8_lossy(gbk); }

std::string directory_of(std::string_view p) {
  const size_t slash = p.rfind('/');
  if (slash == std::string_view::npos) return ".";
  return slash == 0 ? "/" : std::string(p.substr(0, slash));
}

std::string base_name_of(std::string_view p) {
  const size_t slash = p.rfind('/');
  return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

std::string normalized_file(std::string_view gbk_file) {
  std::string f(gbk_file);
  const std::string base = base_name_of(f);
  if (base.find('.') == std::string::npos) f += '.';
  if (!f.empty() && f.back() == '.') f += "KDB";
  return f;
}

bool exists(std::string_view gbk_path) {
  std::error_code ec;
  return std::filesystem::exists(fs_path(gbk_path), ec);
}

bool same_file(std::string_view a, std::string_view b) {
  std::error_code ec;
  return std::filesystem::equivalent(fs_path(a), fs_path(b), ec) && !ec;
}

namespace {

// Why in words, where the system's text ("Resource temporarily unavailable") would not say that
// another program is the reason.
std::string_view other_program(FileCause c) {
  switch (c) {
    case FileCause::SharingViolation:
      return "another program holds it exclusively";
    case FileCause::LockViolation:
      return "another program is writing it";
    default:
      return "";
  }
}

}  // namespace

Status file_failure(FileCause cause, std::string_view gbk_path, std::string_view what) {
  std::string doing(what);
  if (const std::string_view why = other_program(cause); !why.empty())
    doing.append(" (").append(why).append(")");
  return Status::file(cause, utf8(gbk_path), doing);
}

Status remove_if_present(FileSystem& fs, const std::string& gbk_path) {
  const FileCause c = fs.remove(gbk_path);
  if (c == FileCause::None || c == FileCause::NotFound) return {};
  return file_failure(c, gbk_path, "cannot remove");
}

Status ensure_directory(FileSystem& fs, const std::string& gbk_dir) {
  std::error_code ec;
  const bool made = std::filesystem::create_directories(fs_path(gbk_dir), ec);
  if (ec) return file_failure(file_cause_from_errno(ec.value()), gbk_dir, "cannot make the folder");
  if (!made) return {};
  if (FileCause c = fs.sync_directory_of(gbk_dir); c != FileCause::None)
    return file_failure(c, directory_of(gbk_dir), "cannot sync the folder");
  return {};
}

Status DirLock::acquire(FileSystem& fs, const std::string& gbk_dir, int32_t wait_ms) {
  const std::string path = gbk_dir + "/" + std::string(kLockName);
  FileCause c = fs.open(path, FileAccess::ReadWrite, FileShare::DenyNone, &file_);
  if (c == FileCause::NotFound) {
    c = fs.create(path, &file_);
    if (c == FileCause::AccessDenied) c = fs.open(path, FileAccess::ReadWrite, FileShare::DenyNone, &file_);
  }
  if (c != FileCause::None) return file_failure(c, path, "cannot open");
  if (DbCode rc = platform_lock(*file_, kWholeFile, wait_ms); rc != DbCode::Ok) {
    file_.reset();
    return Status::store(code_number(rc), "another backup or restore is working in " + utf8(gbk_dir) + " (" +
                                              std::to_string(code_number(rc)) + ")");
  }
  return {};
}

void DirLock::release() {
  if (file_) file_->close();  // closing releases the lock
  file_.reset();
}

Status open_pair(FileSystem& fs, const std::string& gbk_file, FileAccess access, FileShare share,
                 FilePair* out) {
  out->main_path = gbk_file;
  out->aux_path = aux_path_of(gbk_file);
  if (FileCause c = fs.open(gbk_file, access, share, &out->main); c != FileCause::None)
    return file_failure(c, gbk_file, "cannot open");
  const FileCause c = fs.open(out->aux_path, access, share, &out->aux);
  if (c != FileCause::None) out->aux.reset();
  // A table without chains has no auxiliary file.
  if (c != FileCause::None && c != FileCause::NotFound) return file_failure(c, out->aux_path, "cannot open");
  for (std::string_view suffix : kSideFileSuffixes) {
    OpenSide side{std::string(suffix), side_file_path(gbk_file, suffix), nullptr};
    const FileCause sc = fs.open(side.path, FileAccess::Read, FileShare::DenyNone, &side.file);
    if (sc == FileCause::NotFound) continue;
    if (sc != FileCause::None) return file_failure(sc, side.path, "cannot open");
    out->sides.push_back(std::move(side));
  }
  return {};
}

std::string not_a_record_file(File& main) {
  FileHeader h;
  size_t got = 0;
  if (main.read_at(0, h.raw.data(), h.raw.size(), &got) != FileCause::None)
    return "it cannot be read as a file";
  if (got != h.raw.size()) return "it is too short to be a record file";
  if (!h.plain() && !h.protected_file()) return "it is not a record file";
  return "";
}

namespace {

// With `digest`, the size and SHA-256 of the bytes copied.
Status copy_bytes(File& from, const std::string& from_path, File& to, const std::string& to_path,
                  ManifestEntry* digest = nullptr) {
  uint64_t size = 0;
  if (FileCause c = from.size(&size); c != FileCause::None) return file_failure(c, from_path, "cannot read");
  std::vector<uint8_t> buf(kCopyChunk);
  Sha256 hash;
  for (uint64_t at = 0; at < size;) {
    size_t got = 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), size - at));
    if (FileCause c = from.read_at(at, buf.data(), want, &got); c != FileCause::None)
      return file_failure(c, from_path, "cannot read");
    if (got != want)
      return file_failure(FileCause::EndOfFile, from_path, "cannot read: the file ended early");
    if (FileCause c = to.write_at(at, buf.data(), got); c != FileCause::None)
      return file_failure(c, to_path, "cannot write the copy");
    if (digest) hash.add(buf.data(), got);
    at += got;
  }
  if (!digest) return {};
  digest->size = size;
  if (!hash.finish(&digest->digest)) return Status::unsupported("SHA-256 failed in the crypto library");
  return {};
}

Status create_fresh(FileSystem& fs, const std::string& path, std::unique_ptr<File>* out) {
  if (Status s = remove_if_present(fs, path); !s.ok()) return s;
  if (FileCause c = fs.create(path, out); c != FileCause::None) return file_failure(c, path, "cannot make");
  return {};
}

Status sync_file(File& f, const std::string& path) {
  if (FileCause c = f.sync(); c != FileCause::None) return file_failure(c, path, "cannot sync");
  return {};
}

// The whole file, tried every millisecond while `wait_ms` allows: a writer that stores bill after
// bill leaves only short gaps between its locks, which the store's 20 to 39 ms pause would miss.
DbCode lock_whole(File& f, int32_t wait_ms) {
  const uint32_t started = tick_count();
  for (;;) {
    const DbCode rc = platform_lock(f, kWholeFile, 0);
    const bool conflict = rc == DbCode::LockFile || rc == DbCode::Sharing;
    if (!conflict || !wait_allows(wait_ms, started)) return rc;
    const timespec pause{0, kPollNanoseconds};
    nanosleep(&pause, nullptr);
  }
}

Status busy(DbCode rc, std::string_view which) {
  return Status::store(code_number(rc), std::string(which) + " stays busy in another program (" +
                                            std::to_string(code_number(rc)) + "); try again");
}

// The side files' lock bytes, then both whole files (record file first, as the store's operations
// take them) locked; everything copied; released. An unlock fails only with a closed file, whose
// locks are gone with it.
Status copy_locked(FileSystem& fs, FilePair& source, TempCopy& copy, int32_t wait_ms) {
  if (Status s = lock_sides(source.sides, wait_ms, &fs); !s.ok()) return s;
  if (DbCode rc = lock_whole(*source.main, wait_ms); rc != DbCode::Ok) {
    unlock_sides(source.sides);
    return busy(rc, "the file");
  }
  if (source.aux) {
    if (DbCode rc = lock_whole(*source.aux, wait_ms); rc != DbCode::Ok) {
      std::ignore = platform_unlock(*source.main, kWholeFile);
      unlock_sides(source.sides);
      return busy(rc, "the auxiliary file");
    }
  }
  Status s = copy_bytes(*source.main, source.main_path, *copy.main, copy.main_path);
  if (s.ok() && source.aux) s = copy_bytes(*source.aux, source.aux_path, *copy.aux, copy.aux_path);
  for (size_t i = 0; s.ok() && i < source.sides.size(); ++i) {
    s = copy_bytes(*source.sides[i].file, source.sides[i].path, *copy.sides[i].file, copy.sides[i].path);
  }
  if (source.aux) std::ignore = platform_unlock(*source.aux, kWholeFile);
  std::ignore = platform_unlock(*source.main, kWholeFile);
  unlock_sides(source.sides);
  return s;
}

// Removes the temporary copies after a failure, which is the one reported: a copy left behind is
// removed by the next snapshot in the folder anyway.
void remove_temps(FileSystem& fs, const TempCopy& copy) {
  for (const std::string* p : {&copy.main_path, &copy.aux_path, &copy.manifest_path})
    std::ignore = remove_if_present(fs, *p);
  for (const OpenSide& side : copy.sides) std::ignore = remove_if_present(fs, side.path);
}

// The first name of `now` none of whose files exists, sequence 1 first.
Result<SnapshotName> free_name(const std::string& gbk_file, const std::string& gbk_dir, std::time_t now) {
  for (int sequence = 1; sequence <= kMaxSequence; ++sequence) {
    SnapshotName name = snapshot_name(gbk_file, gbk_dir, now, sequence);
    const std::vector<std::string> parts = name.part_paths();
    if (std::none_of(parts.begin(), parts.end(), [](const std::string& p) { return exists(p); })) return name;
  }
  return Status::unsupported("too many snapshots in one second");
}

std::string temp_path(const std::string& gbk_dir, std::string_view part) {
  return gbk_dir + "/" + std::string(kTempPrefix) + std::string(part) + std::string(kTempSuffix);
}

// Syncs the copies and closes them.
Status sync_copies(TempCopy& copy) {
  Status s = sync_file(*copy.main, copy.main_path);
  if (s.ok() && copy.aux) s = sync_file(*copy.aux, copy.aux_path);
  for (size_t i = 0; s.ok() && i < copy.sides.size(); ++i)
    s = sync_file(*copy.sides[i].file, copy.sides[i].path);
  copy.main.reset();
  copy.aux.reset();
  for (OpenSide& side : copy.sides) side.file.reset();
  return s;
}

// The manifest of the copies as they are on the disk, read back, written and synced beside them.
Status seal_copies(FileSystem& fs, const TempCopy& copy, bool has_aux) {
  Manifest m;
  std::vector<std::pair<std::string, std::string>> parts{{"kdb", copy.main_path}};
  if (has_aux) parts.emplace_back("KDT", copy.aux_path);
  for (const OpenSide& side : copy.sides) parts.emplace_back(side.suffix, side.path);
  for (const auto& [part, path] : parts) {
    ManifestEntry e;
    e.part = part;
    if (Status s = digest_file(fs, path, &e); !s.ok()) return s;
    m.entries.push_back(std::move(e));
  }
  return write_new_file(fs, copy.manifest_path, encode_manifest(m));
}

Status rename_into(FileSystem& fs, const std::string& from, const std::string& to) {
  if (FileCause c = fs.rename(from, to); c != FileCause::None)
    return file_failure(c, to, "cannot name the snapshot");
  return {};
}

Status sync_folder(FileSystem& fs, const std::string& gbk_path_in_it) {
  if (FileCause c = fs.sync_directory_of(gbk_path_in_it); c != FileCause::None)
    return file_failure(c, directory_of(gbk_path_in_it), "cannot sync the folder");
  return {};
}

// Every part but the record file under its name, the folder synced, then the record file.
Status rename_parts(FileSystem& fs, const TempCopy& copy, bool has_aux, const SnapshotName& name) {
  Status s;
  for (size_t i = 0; s.ok() && i < copy.sides.size(); ++i)
    s = rename_into(fs, copy.sides[i].path, name.side_path(copy.sides[i].suffix));
  if (s.ok() && has_aux) s = rename_into(fs, copy.aux_path, name.aux_path);
  if (s.ok()) s = rename_into(fs, copy.manifest_path, name.manifest_path);
  if (s.ok()) s = sync_folder(fs, name.path);
  if (s.ok()) s = rename_into(fs, copy.main_path, name.path);
  if (s.ok()) s = sync_folder(fs, name.path);
  return s;
}

}  // namespace

Status copy_to_new_file(FileSystem& fs, File& from, const std::string& gbk_from, const std::string& gbk_to,
                        ManifestEntry* digest) {
  std::unique_ptr<File> to;
  if (Status s = create_fresh(fs, gbk_to, &to); !s.ok()) return s;
  Status s = copy_bytes(from, gbk_from, *to, gbk_to, digest);
  if (s.ok()) s = sync_file(*to, gbk_to);
  to->close();
  return s;
}

Status write_new_file(FileSystem& fs, const std::string& gbk_to, std::string_view bytes) {
  std::unique_ptr<File> to;
  if (Status s = create_fresh(fs, gbk_to, &to); !s.ok()) return s;
  Status s;
  if (FileCause c = to->write_at(0, bytes.data(), bytes.size()); c != FileCause::None)
    s = file_failure(c, gbk_to, "cannot write");
  if (s.ok()) s = sync_file(*to, gbk_to);
  to->close();
  return s;
}

namespace {

// True when `side`'s name now reaches another file than the one open: a writer renamed a rewritten
// file into place (the recycle bin's trim) while this open waited for the lock byte.
bool replaced(FileSystem& fs, OpenSide& side) {
  FileId held, named;
  return side.file->id(&held) == FileCause::None && fs.id_of(side.path, &named) == FileCause::None &&
         !(held == named);
}

// Opens of a side file that was replaced while a lock was awaited.
constexpr int kSideReopens = 8;

}  // namespace

Status lock_sides(std::vector<OpenSide>& sides, int32_t wait_ms, FileSystem* fs) {
  for (size_t i = 0; i < sides.size(); ++i) {
    DbCode rc = platform_lock(*sides[i].file, kSideFileLockByte, wait_ms);
    for (int reopen = 0; rc == DbCode::Ok && fs && reopen < kSideReopens && replaced(*fs, sides[i]);
         ++reopen) {
      std::unique_ptr<File> now;
      if (FileCause c = fs->open(sides[i].path, FileAccess::Read, FileShare::DenyNone, &now);
          c != FileCause::None) {
        for (size_t j = 0; j <= i; ++j) std::ignore = platform_unlock(*sides[j].file, kSideFileLockByte);
        return file_failure(c, sides[i].path, "cannot open");
      }
      sides[i].file->close();  // closing releases the lock on the file that was replaced
      sides[i].file = std::move(now);
      rc = platform_lock(*sides[i].file, kSideFileLockByte, wait_ms);
    }
    if (rc == DbCode::Ok) continue;
    for (size_t j = 0; j < i; ++j) std::ignore = platform_unlock(*sides[j].file, kSideFileLockByte);
    const std::string running = sides[i].suffix == "imports" ? "an import into the ledger is running"
                                                             : "a delete or an undelete is running";
    return Status::store(code_number(rc), utf8(sides[i].path) + " is being written by another program (" +
                                              running + "); try again when it ends (" +
                                              std::to_string(code_number(rc)) + ")");
  }
  return {};
}

void unlock_sides(std::vector<OpenSide>& sides) {
  // An unlock fails only with a closed file, whose locks are gone with it.
  for (OpenSide& side : sides) std::ignore = platform_unlock(*side.file, kSideFileLockByte);
}

Status copy_to_temps(FileSystem& fs, [[maybe_unused]] const DirLock& folder, FilePair& source,
                     const std::string& gbk_dir, int32_t wait_ms, TempCopy* out) {
  assert(folder.held());
  // Under the folder's lock nobody else uses these names: one left over is from a run that died.
  out->main_path = temp_path(gbk_dir, "kdb");
  out->aux_path = temp_path(gbk_dir, "KDT");
  out->manifest_path = temp_path(gbk_dir, "manifest");
  for (std::string_view suffix : kSideFileSuffixes) {
    if (Status s = remove_if_present(fs, temp_path(gbk_dir, suffix)); !s.ok()) return s;
  }
  if (Status s = remove_if_present(fs, out->manifest_path); !s.ok()) return s;
  if (Status s = remove_if_present(fs, out->aux_path); !s.ok()) return s;
  Status s = create_fresh(fs, out->main_path, &out->main);
  if (s.ok() && source.aux) s = create_fresh(fs, out->aux_path, &out->aux);
  for (size_t i = 0; s.ok() && i < source.sides.size(); ++i) {
    out->sides.push_back({source.sides[i].suffix, temp_path(gbk_dir, source.sides[i].suffix), nullptr});
    s = create_fresh(fs, out->sides.back().path, &out->sides.back().file);
  }
  if (s.ok()) s = copy_locked(fs, source, *out, wait_ms);
  if (s.ok()) return s;
  out->main.reset();
  out->aux.reset();
  for (OpenSide& side : out->sides) side.file.reset();
  remove_temps(fs, *out);
  return s;
}

Result<SnapshotName> name_temps(FileSystem& fs, TempCopy& copy, const std::string& gbk_file,
                                const std::string& gbk_dir, std::time_t now) {
  // Synced and read back after the source's locks are gone: writers wait only for the copying.
  const bool has_aux = copy.aux != nullptr;
  Status s = sync_copies(copy);
  if (s.ok()) s = seal_copies(fs, copy, has_aux);
  Result<SnapshotName> name = s.ok() ? free_name(gbk_file, gbk_dir, now) : Result<SnapshotName>(s);
  if (name.ok()) {
    if (Status r = rename_parts(fs, copy, has_aux, *name); !r.ok()) {
      // The record file first: what is left of the attempt is never listed.
      for (const std::string& p : name->part_paths()) std::ignore = remove_if_present(fs, p);
      name = r;
    }
  }
  if (!name.ok()) remove_temps(fs, copy);
  return name;
}

void discard_temps(FileSystem& fs, TempCopy& copy) {
  copy.main.reset();
  copy.aux.reset();
  for (OpenSide& side : copy.sides) side.file.reset();
  remove_temps(fs, copy);
}

Result<SnapshotName> copy_into_snapshot(FileSystem& fs, const DirLock& folder, FilePair& source,
                                        const std::string& gbk_file, const std::string& gbk_dir,
                                        std::time_t now, int32_t wait_ms) {
  TempCopy copy;
  if (Status s = copy_to_temps(fs, folder, source, gbk_dir, wait_ms, &copy); !s.ok()) return s;
  return name_temps(fs, copy, gbk_file, gbk_dir, now);
}

std::string structure_problem(File& main, File* aux) {
  uint64_t size = 0;
  FileHeader h;
  size_t got = 0;
  if (main.size(&size) != FileCause::None ||
      main.read_at(0, h.raw.data(), h.raw.size(), &got) != FileCause::None || got != h.raw.size() ||
      size < static_cast<uint64_t>(kFieldTableOffset)) {
    return "the record file is shorter than its header";
  }
  if (h.protected_file()) return "a password-protected file: its structure cannot be checked";
  if (!h.plain()) return "not a record file";
  if (h.version() > kFileVersion) return "a newer file version";
  if (h.record_length() <= 0 || h.record_length() > kMaxRecordLength || h.record_count() < 0 ||
      h.next_serial() < 1)
    return "the header's counts are out of range";
  uint8_t count_bytes[4];
  if (main.read_at(kFieldCountOffset, count_bytes, 4, &got) != FileCause::None || got != 4)
    return "no field count";
  const int64_t fields = get_i32(count_bytes);
  const int64_t data_start = kFieldTableOffset + fields * kDescriptorSize;
  if (fields <= 0 || data_start > static_cast<int64_t>(size))
    return "the field table does not fit in the file";
  std::vector<uint8_t> table(static_cast<size_t>(fields * kDescriptorSize));
  if (main.read_at(kFieldTableOffset, table.data(), table.size(), &got) != FileCause::None ||
      got != table.size())
    return "the field table cannot be read";
  std::vector<FieldDescriptor> descriptors(static_cast<size_t>(fields));
  bool chains = false;
  for (size_t i = 0; i < descriptors.size(); ++i) {
    if (!parse_descriptor(&table[i * kDescriptorSize], &descriptors[i]))
      return "a field name is not terminated";
    chains = chains || is_chain_type(descriptors[i].type);
  }
  if (!descriptors_valid(descriptors, h.record_length())) return "the field table is not valid";
  if (static_cast<int64_t>(size) < data_start + int64_t{h.record_count()} * h.record_length())
    return "the file holds fewer records than its header counts";
  if (!chains) return "";
  uint8_t raw[kAuxHeaderSize];
  uint64_t aux_size = 0;
  if (!aux || aux->size(&aux_size) != FileCause::None ||
      aux->read_at(0, raw, sizeof raw, &got) != FileCause::None || got != sizeof raw) {
    return "the table has memo or byte-set fields but no readable auxiliary file";
  }
  const AuxHeader a = AuxHeader::parse(raw);
  if (!a.magic_ok || !a.sane()) return "the auxiliary file's header is not valid";
  if (a.version != h.version()) return "the auxiliary file's version differs from the record file's";
  if (static_cast<int64_t>(aux_size / kAuxBlockSize) < a.block_count)
    return "the auxiliary file holds fewer blocks than its header counts";
  return "";
}

}  // namespace pennacle::snapshot
