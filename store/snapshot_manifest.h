// A snapshot's manifest: the size and SHA-256 of every file the snapshot holds, so that bytes that
// changed after it was taken (a flipped bit in an amount or a remark, which the structure audit
// cannot see) are found before the snapshot is listed as sound or restored.
//
// The manifest of "dir/data-20250131-093000.kdb" is "dir/data-20250131-093000.manifest". It is ASCII
// text, one file a line, named by its part, not its path, so a snapshot copied or moved elsewhere
// (all its files, same names) still checks out:
//
//   pennacle snapshot 1
//   kdb 5188 <64 hex digits>          the record file, always present
//   KDT 20992 <64 hex digits>         the auxiliary file, when the snapshot has one
//   imports 412 <64 hex digits>       each side file (store/side_files.h), when present
//   sha256 <64 hex digits>            of every byte above this line; nothing may follow
//
// A snapshot without a manifest is one taken before manifests were written: it is listed and
// restored on the audit alone, and said to have no manifest.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/status.h"

namespace pennacle {

using Sha256Digest = std::array<uint8_t, 32>;

// SHA-256 over bytes given in pieces.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void add(const void* bytes, size_t n);
  // Once; false when the library failed (then the digest is worthless).
  [[nodiscard]] bool finish(Sha256Digest* out);

 private:
  struct Context;
  std::unique_ptr<Context> ctx_;
  bool failed_ = false;
};

struct ManifestEntry {
  std::string part;  // "kdb", "KDT" or a side file's suffix
  uint64_t size = 0;
  Sha256Digest digest{};
};

struct Manifest {
  std::vector<ManifestEntry> entries;
  const ManifestEntry* find(std::string_view part) const;
};

// The parts a snapshot may hold, in the order a manifest lists them: "kdb", "KDT", the side files.
std::vector<std::string> snapshot_parts();
// The file of `part` for the snapshot whose record file is `gbk_record_file`.
std::string snapshot_part_path(std::string_view gbk_record_file, std::string_view part);
// "dir/data-20250131-093000.manifest" for "dir/data-20250131-093000.kdb".
std::string manifest_path_of(std::string_view gbk_record_file);

std::string encode_manifest(const Manifest& m);
// Corrupt, saying what is wrong, for anything but a manifest exactly as encode_manifest writes it.
Result<Manifest> parse_manifest(std::string_view bytes);

// The size and SHA-256 of a whole file.
Status digest_file(FileSystem& fs, const std::string& gbk_path, ManifestEntry* out);

enum class SnapshotSeal {
  NoManifest,  // taken before manifests: nothing to compare
  Intact,      // every part is there with the bytes it had when it was taken
  Damaged,     // a part changed, went missing or appeared, or the manifest itself is damaged
};

struct SealCheck {
  SnapshotSeal seal = SnapshotSeal::NoManifest;
  std::string detail;                // UTF-8, what is damaged
  std::optional<Manifest> manifest;  // when Intact
};

// Reads every part of the snapshot whose record file is `gbk_record_file` and compares it with its
// manifest. A file that cannot be read makes the snapshot Damaged with the reason.
SealCheck check_snapshot_seal(std::string_view gbk_record_file, FileSystem* files = nullptr);

}  // namespace pennacle
