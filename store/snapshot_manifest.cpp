#include "store/snapshot_manifest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <set>

#include "platform/gbk.h"
#include "platform/hex.h"
#include "store/paths.h"
#include "store/side_files.h"

namespace pennacle {
namespace {

constexpr std::string_view kHeader = "pennacle snapshot 1\n";
constexpr std::string_view kSealPrefix = "sha256 ";
constexpr std::string_view kRecordPart = "kdb";
constexpr std::string_view kAuxPart = "KDT";
constexpr std::string_view kManifestExtension = ".manifest";
constexpr size_t kMaxManifestBytes = 64 * 1024;  // a few lines; anything longer is not ours
constexpr size_t kReadChunk = 1 << 20;
constexpr size_t kHexDigits = 64;

std::string hex(const Sha256Digest& d) {
  return lower_hex(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
}

bool parse_hex(std::string_view s, Sha256Digest* out) {
  if (s.size() != kHexDigits) return false;
  for (size_t i = 0; i < out->size(); ++i) {
    unsigned v = 0;
    for (char c : s.substr(i * 2, 2)) {
      // Lower case only: one text for one digest, so the seal covers the spelling too.
      if (c >= '0' && c <= '9') {
        v = v * 16 + static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        v = v * 16 + static_cast<unsigned>(c - 'a' + 10);
      } else {
        return false;
      }
    }
    (*out)[i] = static_cast<uint8_t>(v);
  }
  return true;
}

bool digest_of(std::string_view bytes, Sha256Digest* out) {
  Sha256 h;
  h.add(bytes.data(), bytes.size());
  return h.finish(out);
}

// One "part size digest" line without its newline.
bool parse_entry(std::string_view line, ManifestEntry* out) {
  const size_t a = line.find(' ');
  const size_t b = a == std::string_view::npos ? a : line.find(' ', a + 1);
  if (b == std::string_view::npos) return false;
  const std::string_view size = line.substr(a + 1, b - a - 1);
  out->part = std::string(line.substr(0, a));
  const auto r = std::from_chars(size.data(), size.data() + size.size(), out->size);
  if (size.empty() || r.ec != std::errc() || r.ptr != size.data() + size.size() ||
      (size.size() > 1 && size[0] == '0'))
    return false;
  return parse_hex(line.substr(b + 1), &out->digest);
}

Status damaged_manifest(std::string_view why) { return Status::corrupt("its manifest " + std::string(why)); }

}  // namespace

struct Sha256::Context {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : ctx_(std::make_unique<Context>()) {
  failed_ = ctx_->md == nullptr || EVP_DigestInit_ex(ctx_->md, EVP_sha256(), nullptr) != 1;
}

Sha256::~Sha256() = default;

void Sha256::add(const void* bytes, size_t n) {
  if (!failed_ && n > 0) failed_ = EVP_DigestUpdate(ctx_->md, bytes, n) != 1;
}

bool Sha256::finish(Sha256Digest* out) {
  unsigned len = 0;
  if (!failed_) failed_ = EVP_DigestFinal_ex(ctx_->md, out->data(), &len) != 1 || len != out->size();
  return !failed_;
}

const ManifestEntry* Manifest::find(std::string_view part) const {
  for (const ManifestEntry& e : entries) {
    if (e.part == part) return &e;
  }
  return nullptr;
}

std::vector<std::string> snapshot_parts() {
  std::vector<std::string> parts{std::string(kRecordPart), std::string(kAuxPart)};
  for (std::string_view s : kSideFileSuffixes) parts.emplace_back(s);
  return parts;
}

std::string snapshot_part_path(std::string_view gbk_record_file, std::string_view part) {
  if (part == kRecordPart) return std::string(gbk_record_file);
  if (part == kAuxPart) return aux_path_of(gbk_record_file);
  return side_file_path(gbk_record_file, part);
}

std::string manifest_path_of(std::string_view gbk_record_file) {
  const std::string aux = aux_path_of(gbk_record_file);  // the extension replaced by "KDT"
  return aux.substr(0, aux.size() - kAuxPart.size() - 1) + std::string(kManifestExtension);
}

std::string encode_manifest(const Manifest& m) {
  std::string out(kHeader);
  for (const ManifestEntry& e : m.entries)
    out += e.part + " " + std::to_string(e.size) + " " + hex(e.digest) + "\n";
  Sha256Digest seal{};
  if (!digest_of(out, &seal)) return {};  // an empty manifest never parses
  return out + std::string(kSealPrefix) + hex(seal) + "\n";
}

Result<Manifest> parse_manifest(std::string_view bytes) {
  if (bytes.size() > kMaxManifestBytes) return damaged_manifest("is larger than a manifest can be");
  if (!bytes.starts_with(kHeader)) return damaged_manifest("does not begin with its header");
  const size_t seal_at = bytes.rfind("\n" + std::string(kSealPrefix));
  if (seal_at == std::string_view::npos || !bytes.ends_with("\n"))
    return damaged_manifest("has no seal line (it was cut short)");
  Sha256Digest seal{}, computed{};
  const std::string_view seal_hex = bytes.substr(seal_at + 1 + kSealPrefix.size());
  if (!parse_hex(seal_hex.substr(0, seal_hex.size() - 1), &seal) ||
      !digest_of(bytes.substr(0, seal_at + 1), &computed))
    return damaged_manifest("has a seal line that does not read");
  if (seal != computed) return damaged_manifest("does not match its own checksum");
  const std::vector<std::string> known = snapshot_parts();
  Manifest m;
  std::set<std::string> seen;
  for (size_t at = kHeader.size(); at <= seal_at;) {
    const size_t end = bytes.find('\n', at);
    ManifestEntry e;
    if (!parse_entry(bytes.substr(at, end - at), &e))
      return damaged_manifest("has a line that does not read");
    if (std::find(known.begin(), known.end(), e.part) == known.end())
      return Status::unsupported("its manifest names a part this version does not know: " + e.part);
    if (!seen.insert(e.part).second) return damaged_manifest("names " + e.part + " twice");
    m.entries.push_back(std::move(e));
    at = end + 1;
  }
  if (!m.find(kRecordPart)) return damaged_manifest("names no record file");
  return m;
}

Status digest_file(FileSystem& fs, const std::string& gbk_path, ManifestEntry* out) {
  std::unique_ptr<File> f;
  const std::string shown = gbk_to_utf8_lossy(gbk_path);
  if (FileCause c = fs.open(gbk_path, FileAccess::Read, FileShare::DenyNone, &f); c != FileCause::None)
    return Status::file(c, shown, "cannot open");
  Status s;
  if (FileCause c = f->size(&out->size); c != FileCause::None) s = Status::file(c, shown, "cannot read");
  Sha256 h;
  std::vector<uint8_t> buf(kReadChunk);
  for (uint64_t at = 0; s.ok() && at < out->size;) {
    size_t got = 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), out->size - at));
    if (FileCause c = f->read_at(at, buf.data(), want, &got); c != FileCause::None || got != want) {
      s = Status::file(c == FileCause::None ? FileCause::EndOfFile : c, shown, "cannot read");
      break;
    }
    h.add(buf.data(), got);
    at += got;
  }
  f->close();
  if (s.ok() && !h.finish(&out->digest)) s = Status::unsupported("SHA-256 failed in the crypto library");
  return s;
}

namespace {

// Damaged, with `why` about the file of `part`.
SealCheck damaged(std::string_view gbk_record_file, std::string_view part, std::string_view why) {
  return {SnapshotSeal::Damaged,
          gbk_to_utf8_lossy(snapshot_part_path(gbk_record_file, part)) + " " + std::string(why),
          {}};
}

}  // namespace

SealCheck check_snapshot_seal(std::string_view gbk_record_file, FileSystem* files) {
  FileSystem& fs = files ? *files : posix_file_system();
  const std::string manifest_path = manifest_path_of(gbk_record_file);
  const std::string shown = gbk_to_utf8_lossy(manifest_path);
  std::unique_ptr<File> f;
  FileCause c = fs.open(manifest_path, FileAccess::Read, FileShare::DenyNone, &f);
  if (c == FileCause::NotFound) return {};
  uint64_t size = 0;
  std::string bytes;
  if (c == FileCause::None && (c = f->size(&size)) == FileCause::None) {
    bytes.resize(static_cast<size_t>(std::min<uint64_t>(size, kMaxManifestBytes + 1)));
    size_t got = 0;
    c = f->read_at(0, bytes.data(), bytes.size(), &got);
    bytes.resize(got);
  }
  if (f) f->close();
  if (c != FileCause::None)
    return {SnapshotSeal::Damaged, Status::file(c, shown, "cannot read").message(), {}};
  Result<Manifest> m = parse_manifest(bytes);
  if (!m.ok()) return {SnapshotSeal::Damaged, shown + ": " + m.status().message(), {}};
  for (const std::string& part : snapshot_parts()) {
    const ManifestEntry* want = m->find(part);
    const std::string path = snapshot_part_path(gbk_record_file, part);
    ManifestEntry got;
    const Status read = digest_file(fs, path, &got);
    if (!want) {
      if (read.file_cause() == FileCause::NotFound) continue;
      return damaged(gbk_record_file, part, "is not in the snapshot's manifest");
    }
    if (read.file_cause() == FileCause::NotFound) return damaged(gbk_record_file, part, "is missing");
    if (!read.ok()) return {SnapshotSeal::Damaged, read.message(), {}};
    if (got.size != want->size)
      return damaged(gbk_record_file, part, "changed size since the snapshot was taken");
    if (got.digest != want->digest)
      return damaged(gbk_record_file, part, "changed since the snapshot was taken");
  }
  return {SnapshotSeal::Intact, "", std::move(*m)};
}

}  // namespace pennacle
