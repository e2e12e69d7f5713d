#include "ledger/import/import_log.h"

#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "ledger/import/bill_csv.h"
#include "platform/gbk.h"

namespace pennacle {
namespace {

constexpr std::string_view kHeader = "kdbtool imports 1\n";
constexpr char kSeparator = '\t';
constexpr size_t kFieldCount = 8;  // kind, order, time, amount, side, serial, fingerprint, checksum
constexpr uint64_t kMaxLogBytes = 512u << 20;
constexpr uint64_t kLockOffset = 0, kLockLength = 1;

constexpr uint32_t kFnv32Basis = 2166136261u, kFnv32Prime = 16777619u;
constexpr uint64_t kFnv64Basis = 14695981039346656037ull, kFnv64Prime = 1099511628211ull;

uint32_t fnv32(std::string_view s) {
  uint32_t h = kFnv32Basis;
  for (unsigned char c : s) h = (h ^ c) * kFnv32Prime;
  return h;
}

std::string hex(uint64_t v, int digits) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%0*llx", digits, static_cast<unsigned long long>(v));
  return buf;
}

template <typename T>
bool whole(std::string_view s, T* out, int base = 10) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), *out, base);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

bool whole_double(std::string_view s, double* out) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), *out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

// Order numbers are outside text: bytes that could break a line are written as %XX.
std::string escape(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c <= ' ' || c == '%' || c == 0x7F) {
      out += '%' + hex(c, 2);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool unescape(std::string_view s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      *out += s[i];
      continue;
    }
    unsigned v = 0;
    if (i + 3 > s.size() || !whole(s.substr(i + 1, 2), &v, 16)) return false;
    *out += static_cast<char>(v);
    i += 2;
  }
  return true;
}

std::string amount_text(double a) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, a);
  return std::string(buf, r.ptr);
}

}  // namespace

uint64_t bill_fingerprint(std::string_view type, std::string_view channel, std::string_view remark) {
  uint64_t h = kFnv64Basis;
  for (std::string_view part : {type, channel, remark}) {
    for (unsigned char c : part) h = (h ^ c) * kFnv64Prime;
    h = (h ^ 0xFFu) * kFnv64Prime;  // a byte no GBK text holds, between the parts
  }
  return h;
}

std::string import_entry_line(const ImportEntry& e) {
  std::string line = e.kind == ImportEntry::Kind::Intent ? "I" : "D";
  for (const std::string& f :
       {escape(e.key.order), format_date_time(e.key.time), amount_text(e.key.amount),
        std::string(e.income ? "+" : "-"), std::to_string(e.serial), hex(e.fingerprint, 16)}) {
    line += kSeparator + f;
  }
  return line + kSeparator + hex(fnv32(line), 8) + "\n";
}

bool parse_import_entry_line(std::string_view line, ImportEntry* out) {
  if (line.empty() || line.back() != '\n') return false;
  line.remove_suffix(1);
  std::vector<std::string_view> f;
  for (size_t start = 0;;) {
    const size_t tab = line.find(kSeparator, start);
    f.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  uint32_t check = 0;
  if (f.size() != kFieldCount || !whole(f[7], &check, 16) || f[7].size() != 8 ||
      check != fnv32(line.substr(0, line.size() - 9))) {
    return false;
  }
  ImportEntry e;
  if (f[0] != "I" && f[0] != "D") return false;
  e.kind = f[0] == "I" ? ImportEntry::Kind::Intent : ImportEntry::Kind::Done;
  if (!unescape(f[1], &e.key.order) || !parse_date_time(f[2], &e.key.time)) return false;
  if (!whole_double(f[3], &e.key.amount) || !std::isfinite(e.key.amount) || (f[4] != "+" && f[4] != "-"))
    return false;
  e.income = f[4] == "+";
  if (!whole(f[5], &e.serial) || !whole(f[6], &e.fingerprint, 16)) return false;
  *out = std::move(e);
  return true;
}

ImportLog::~ImportLog() {
  if (file_) file_->close();
}

Status ImportLog::fail(FileCause cause, std::string_view what) const {
  return Status::file(cause, gbk_to_utf8_lossy(path_), what);
}

Status ImportLog::open(FileSystem& fs, const std::string& gbk_path, bool for_append) {
  fs_ = &fs;
  path_ = gbk_path;
  FileCause c =
      fs.open(gbk_path, for_append ? FileAccess::ReadWrite : FileAccess::Read, FileShare::DenyNone, &file_);
  if (c == FileCause::NotFound && !for_append) return Status();
  if (c == FileCause::NotFound) {
    c = fs.create(gbk_path, &file_);
    // Made by another import a moment ago: open that one.
    if (c == FileCause::AccessDenied)
      c = fs.open(gbk_path, FileAccess::ReadWrite, FileShare::DenyNone, &file_);
  }
  if (c != FileCause::None) return fail(c, "cannot open the record of imported bills");
  if (for_append) {
    c = file_->lock(kLockOffset, kLockLength);
    if (c == FileCause::LockViolation || c == FileCause::LockUnsupported) {
      return Status::invalid(gbk_to_utf8_lossy(path_) + ": another import into this ledger is running");
    }
    if (c != FileCause::None) return fail(c, "cannot lock");
  }
  appending_ = for_append;
  if ((c = file_->size(&size_)) != FileCause::None) return fail(c, "cannot read");
  if (size_ > kMaxLogBytes) {
    return Status::corrupt(gbk_to_utf8_lossy(path_) + ": larger than an import record can be");
  }
  std::string bytes(static_cast<size_t>(size_), '\0');
  size_t got = 0;
  if ((c = file_->read_at(0, bytes.data(), bytes.size(), &got)) != FileCause::None) {
    return fail(c, "cannot read");
  }
  bytes.resize(got);
  size_ = got;
  return parse(bytes);
}

Status ImportLog::parse(std::string_view bytes) {
  entries_.clear();
  sound_end_ = 0;
  // Empty, or a header cut short: the file was being made when an import stopped.
  if (bytes.size() < kHeader.size() && kHeader.substr(0, bytes.size()) == bytes) return Status();
  if (bytes.substr(0, kHeader.size()) != kHeader) {
    return Status::corrupt(gbk_to_utf8_lossy(path_) +
                           ": not a record of imported bills (it does not begin with '" +
                           std::string(kHeader.substr(0, kHeader.size() - 1)) + "'); move it away to import");
  }
  size_t at = kHeader.size();
  sound_end_ = at;
  while (at < bytes.size()) {
    const size_t end = bytes.find('\n', at);
    if (end == std::string_view::npos) break;
    ImportEntry e;
    if (!parse_import_entry_line(bytes.substr(at, end + 1 - at), &e)) break;
    entries_.push_back(std::move(e));
    at = end + 1;
    sound_end_ = at;
  }
  return Status();
}

Status ImportLog::append(const std::vector<ImportEntry>& entries, bool sync) {
  assert(appending_ && file_);
  std::string bytes = sound_end_ == 0 ? std::string(kHeader) : std::string();
  for (const ImportEntry& e : entries) bytes += import_entry_line(e);
  FileCause c = FileCause::None;
  if (size_ > sound_end_ && (c = file_->set_size(sound_end_)) != FileCause::None) {
    return fail(c, "cannot cut off an entry torn by an earlier import");
  }
  size_ = sound_end_;
  if ((c = file_->write_at(sound_end_, bytes.data(), bytes.size())) != FileCause::None) {
    return fail(c, "cannot write");
  }
  size_ = sound_end_ += bytes.size();
  entries_.insert(entries_.end(), entries.begin(), entries.end());
  return sync ? this->sync() : Status();
}

Status ImportLog::sync() {
  if (FileCause c = file_->sync(); c != FileCause::None) return fail(c, "cannot write to the disk");
  // A file made by this import is found after a power cut only once its directory entry is written.
  if (!directory_synced_) {
    if (FileCause c = fs_->sync_directory_of(path_); c != FileCause::None) {
      return fail(c, "cannot write its folder to the disk");
    }
    directory_synced_ = true;
  }
  return Status();
}

}  // namespace pennacle
