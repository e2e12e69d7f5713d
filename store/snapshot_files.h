// Pieces the snapshot and restore code share: paths, the snapshot folder's lock, copying a record
// file and its auxiliary file under their locks, and the quick structure check.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/status.h"
#include "store/backup.h"
#include "store/snapshot_manifest.h"

namespace pennacle::snapshot {

std::string utf8(std::string_view gbk);
std::string directory_of(std::string_view gbk_path);  // "." when the path has no '/'
std::string base_name_of(std::string_view gbk_path);
// The record file name as the store opens it: ".KDB" added when the last component has no '.'.
std::string normalized_file(std::string_view gbk_file);
bool exists(std::string_view gbk_path);
// Both paths name one existing file.
bool same_file(std::string_view a, std::string_view b);
// Removes a file; a missing one is no failure.
Status remove_if_present(FileSystem& fs, const std::string& gbk_path);
// Makes the folder when missing and syncs its parent so the folder survives a power cut.
Status ensure_directory(FileSystem& fs, const std::string& gbk_dir);
// The failure `cause` of `what` ("cannot open") on `gbk_path`: the path in UTF-8, what was being
// done, why in words when another program is the reason, and the system's error text.
Status file_failure(FileCause cause, std::string_view gbk_path, std::string_view what);

// The exclusive lock of a snapshot folder, held while the folder's files are named or removed.
class DirLock {
 public:
  Status acquire(FileSystem& fs, const std::string& gbk_dir, int32_t wait_ms);
  void release();
  bool held() const { return file_ != nullptr; }
  ~DirLock() { release(); }

 private:
  std::unique_ptr<File> file_;
};

// One side file (store/side_files.h), open for reading.
struct OpenSide {
  std::string suffix, path;
  std::unique_ptr<File> file;
};

// A record file, its auxiliary file and its side files, open, with the paths they were opened by
// (GBK).
struct FilePair {
  std::unique_ptr<File> main, aux;
  std::string main_path, aux_path;
  std::vector<OpenSide> sides;  // those that exist
};
// Opens `gbk_file` and, when it exists, its auxiliary file with the same access and sharing, and
// each side file that exists for reading, sharing everything. A failure names the file that could
// not be opened; its file_cause() says why.
Status open_pair(FileSystem& fs, const std::string& gbk_file, FileAccess access, FileShare share,
                 FilePair* out);

// Whether the open `main` is a record file at all (its header's magic); "" when it is, else what it
// is instead (UTF-8). A damaged record file is still one: its snapshot keeps the damage.
std::string not_a_record_file(File& main);

// The snapshot of `gbk_file` in `gbk_dir` taken at local time `now`, the `sequence`-th in its second.
SnapshotName snapshot_name(const std::string& gbk_file, const std::string& gbk_dir, std::time_t now,
                           int sequence);

// Copies of a pair and its side files under temporary names in a snapshot folder, not yet synced or
// named.
struct TempCopy {
  std::unique_ptr<File> main, aux;
  std::string main_path, aux_path, manifest_path;
  std::vector<OpenSide> sides;
};

// The first half of a snapshot: the side files' lock bytes, then both whole source files are locked
// while all are copied into the temporary files. `folder` is the lock of gbk_dir, which must be held.
Status copy_to_temps(FileSystem& fs, const DirLock& folder, FilePair& source, const std::string& gbk_dir,
                     int32_t wait_ms, TempCopy* out);
// The second half: the copies are synced and read back for the manifest, which is written and synced
// too; then every part but the record file is renamed to the first free name of `now`, the folder
// synced, the record file renamed and the folder synced again, so a listed snapshot (one whose
// record file is there) is whole after a power cut. The snapshot's name. On failure every file of
// the attempt is removed.
Result<SnapshotName> name_temps(FileSystem& fs, TempCopy& copy, const std::string& gbk_file,
                                const std::string& gbk_dir, std::time_t now);
// Closes and removes the copies of an attempt given up between the halves (nothing is named).
void discard_temps(FileSystem& fs, TempCopy& copy);
// Both halves.
Result<SnapshotName> copy_into_snapshot(FileSystem& fs, const DirLock& folder, FilePair& source,
                                        const std::string& gbk_file, const std::string& gbk_dir,
                                        std::time_t now, int32_t wait_ms);

// Copies every byte of `from` (opened by `gbk_from`) into a new file `gbk_to` (an old one is
// replaced) and syncs it. With `digest`, the size and SHA-256 of the bytes copied go there.
Status copy_to_new_file(FileSystem& fs, File& from, const std::string& gbk_from, const std::string& gbk_to,
                        ManifestEntry* digest = nullptr);
// Writes `bytes` as a new file `gbk_to` (an old one is replaced) and syncs it.
Status write_new_file(FileSystem& fs, const std::string& gbk_to, std::string_view bytes);
// Locks byte 0 of every side file as its writers do (store/side_files.h), waiting up to `wait_ms`;
// on failure none stays locked. unlock_sides lets go of them. With `fs`, a side file that a writer
// replaced by a rename while the lock was awaited is opened again under its name and locked, so
// the copy is of the file writers now write.
Status lock_sides(std::vector<OpenSide>& sides, int32_t wait_ms, FileSystem* fs = nullptr);
void unlock_sides(std::vector<OpenSide>& sides);

// A quick look at a record file and its auxiliary file: header, field table and lengths. "" when
// they hang together, else what is wrong (UTF-8).
std::string structure_problem(File& main, File* aux);

}  // namespace pennacle::snapshot
