#include "ledger/import/import_log.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <chrono>
#include <cmath>
#include <thread>

#include "ledger/checked_lines.h"
#include "ledger/import/bill_csv.h"
#include "platform/gbk.h"
#include "runtime/convert.h"
#include "store/side_files.h"

namespace pennacle {
namespace {

constexpr std::string_view kHeader = "kdbtool imports 1\n";
// Fields before the checksum: kind, order, time, amount, side, serial, fingerprint; the later
// format adds merchant, role, channel and remark.
constexpr size_t kFirstFormatFields = 7, kFields = 11;
constexpr size_t kUsualLineBytes = 64;  // fewer than most entry lines have
constexpr uint64_t kMaxLogBytes = 512u << 20;
// A backup holds the lock byte while it copies the log; an import waits that long for it.
constexpr auto kLockWait = std::chrono::milliseconds(2000);

constexpr uint64_t kFnv64Basis = 14695981039346656037ull, kFnv64Prime = 1099511628211ull;

// Takes the log's lock byte, waiting a little while another program (a backup) holds it.
FileCause lock_log(File& file) {
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (;;) {
    const FileCause c = file.lock(kSideFileLockByte, 1);
    if (c != FileCause::LockViolation || std::chrono::steady_clock::now() >= deadline) return c;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// `v` as 16 lowercase hex digits at `at`.
char* write_hex16(char* at, uint64_t v) {
  constexpr char kDigits[] = "0123456789abcdef";
  for (int i = 15; i >= 0; --i, v >>= 4) at[i] = kDigits[v & 0xF];
  return at + 16;
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

namespace {

constexpr char kKindLetters[] = {'I', 'D', 'C', 'R'};  // by ImportEntry::Kind

}  // namespace

namespace {

// `v` as `digits` decimal digits at `at`, zero-padded (v below 10^digits).
char* write_digits(char* at, int v, int digits) {
  for (int i = digits - 1; i >= 0; --i, v /= 10) at[i] = static_cast<char>('0' + v % 10);
  return at + digits;
}

// The trade time as format_date_time writes it (31 bytes at most), without a format string.
char* write_date_time(char* at, double time) {
  const DateTimeParts p = date_time_parts(time);
  if (p.year < 1000 || p.year > 9999) {  // outside the ledger's four-digit years: the general way
    const std::string text = format_date_time(time);
    return std::copy(text.begin(), text.end(), at);
  }
  at = write_digits(at, p.year, 4);
  *at++ = '-';
  at = write_digits(at, p.month, 2);
  *at++ = '-';
  at = write_digits(at, p.day, 2);
  *at++ = ' ';
  at = write_digits(at, p.hour, 2);
  *at++ = ':';
  at = write_digits(at, p.minute, 2);
  *at++ = ':';
  return write_digits(at, p.second, 2);
}

// Room for an entry line's fields besides its escaped texts: the kind, side and role, the time (31
// bytes at most), the amount (a shortest double, 24 at most), the serial (11 at most), the
// fingerprint (16) and ten tabs.
constexpr size_t kMaxDoubleChars = 24, kMaxSerialChars = 11;
constexpr size_t kLineRoomBesidesTexts = 3 + 31 + kMaxDoubleChars + kMaxSerialChars + 16 + 10;
constexpr size_t kStackLineBytes = 512;  // room for the usual line; a longer one is built on the heap

// Writes the entry line's fields, joined by tabs, at `at`, which has room for kLineRoomBesidesTexts
// and each text escaped at its longest; returns their end.
char* write_entry_fields(char* at, const ImportEntry& e) {
  *at++ = kKindLetters[static_cast<int>(e.kind)];
  *at++ = '\t';
  at = write_escaped(at, e.key.order);
  *at++ = '\t';
  at = write_date_time(at, e.key.time);
  *at++ = '\t';
  at = std::to_chars(at, at + kMaxDoubleChars, e.key.amount).ptr;
  *at++ = '\t';
  *at++ = e.income ? '+' : '-';
  *at++ = '\t';
  at = std::to_chars(at, at + kMaxSerialChars, e.serial).ptr;
  *at++ = '\t';
  at = write_hex16(at, e.fingerprint);
  *at++ = '\t';
  at = write_escaped(at, e.merchant);
  *at++ = '\t';
  *at++ = e.refund ? 'r' : 'p';
  *at++ = '\t';
  at = write_escaped(at, e.channel);
  *at++ = '\t';
  return write_escaped(at, e.remark);
}

// Appends the entry's checked line to `out`; `checked` false leaves its checksum to fill_checksums.
// The line is built in one buffer and appended once.
void append_entry_line(std::string* out, const ImportEntry& e, bool checked = true) {
  const size_t room = kLineRoomBesidesTexts + max_escaped_size(e.key.order.size() + e.merchant.size() +
                                                               e.channel.size() + e.remark.size());
  char stack[kStackLineBytes];
  std::unique_ptr<char[]> heap;
  char* const line = room <= sizeof stack ? stack : (heap = std::make_unique<char[]>(room)).get();
  const size_t start = out->size();
  out->append(line, write_entry_fields(line, e));
  if (checked) {
    end_checked_line(out, start);
  } else {
    end_line_unchecked(out);
  }
}

}  // namespace

std::string import_entry_line(const ImportEntry& e) {
  std::string line;
  append_entry_line(&line, e);
  return line;
}

std::string import_mark_line(uint64_t length) { return mark_line(length); }

ImportEntry LoggedEntry::entry() const {
  ImportEntry e;
  e.kind = kind;
  e.key = {std::string(key.order), key.time, key.amount};
  e.income = income;
  e.serial = serial;
  e.fingerprint = fingerprint;
  e.merchant = merchant;
  e.refund = refund;
  e.channel = channel;
  e.remark = remark;
  return e;
}

LoggedEntry logged_view(const ImportEntry& e) {
  LoggedEntry l;
  l.key = ImportKeyRef(e.key);
  l.fingerprint = e.fingerprint;
  l.merchant = e.merchant;
  l.channel = e.channel;
  l.remark = e.remark;
  l.serial = e.serial;
  l.kind = e.kind;
  l.income = e.income;
  l.refund = e.refund;
  return l;
}

namespace {

// Whether `field` is the one character `a` or `b`.
bool one_of(std::string_view field, char a, char b) {
  return field.size() == 1 && (field[0] == a || field[0] == b);
}

// A field's text: a view of the line itself when nothing in it is escaped (the usual field), else
// unescaped into a new string of `texts`.
bool field_text(std::string_view field, std::deque<std::string>* texts, std::string_view* out) {
  if (field.find('%') == std::string_view::npos) {
    *out = field;
    return true;
  }
  std::string& text = texts->emplace_back();
  if (!unescape_field(field, &text)) {
    texts->pop_back();
    return false;
  }
  *out = text;
  return true;
}

// An entry from the fields of a sound line: a line of the first format has the first seven; the
// later one adds merchant, role and texts. Every field of `*out` is set when they make an entry; its
// texts are views of the fields or of strings added to `texts`.
bool parse_entry_fields(const std::string_view* f, size_t n, DateTimeReader& times,
                        std::deque<std::string>* texts, LoggedEntry* out) {
  if ((n != kFirstFormatFields && n != kFields) || f[0].size() != 1) return false;
  const char* kind = std::find(std::begin(kKindLetters), std::end(kKindLetters), f[0][0]);
  const bool first_format = n == kFirstFormatFields;
  if (kind == std::end(kKindLetters) || (first_format && kind - kKindLetters > 1)) return false;
  LoggedEntry& e = *out;
  e.kind = static_cast<ImportEntry::Kind>(kind - kKindLetters);
  if (!field_text(f[1], texts, &e.key.order) || !times.read(f[2], &e.key.time)) return false;
  if (!parse_exact_number(f[3], &e.key.amount) || !std::isfinite(e.key.amount) || !one_of(f[4], '+', '-'))
    return false;
  e.income = f[4][0] == '+';
  if (!whole_number(f[5], &e.serial) || !whole_number(f[6], &e.fingerprint, 16)) return false;
  e.merchant = e.channel = e.remark = std::string_view();
  e.refund = false;
  if (!first_format) {
    if (!field_text(f[7], texts, &e.merchant) || !one_of(f[8], 'r', 'p') ||
        !field_text(f[9], texts, &e.channel) || !field_text(f[10], texts, &e.remark)) {
      return false;
    }
    e.refund = f[8][0] == 'r';
  }
  return true;
}

}  // namespace

bool parse_import_entry_line(std::string_view line, ImportEntry* out) {
  std::string_view f[kFields];
  std::deque<std::string> texts;
  DateTimeReader times;
  LoggedEntry e;
  if (!parse_entry_fields(f, checked_fields(line, f, kFields), times, &texts, &e)) return false;
  *out = e.entry();
  return true;
}

namespace {

// A dropped line as a repair reports it: printable, and short.
std::string shown_line(std::string_view line) {
  constexpr size_t kShown = 60;
  std::string s = escape_field(line.substr(0, kShown));
  return line.size() > kShown ? s + "…" : s;
}

}  // namespace

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
    c = lock_log(*file_);
    if (c == FileCause::LockViolation || c == FileCause::LockUnsupported) {
      return Status::invalid(gbk_to_utf8_lossy(path_) +
                             ": another import into this ledger, or a backup of it, is running");
    }
    if (c != FileCause::None) return fail(c, "cannot lock");
  }
  appending_ = for_append;
  if ((c = file_->size(&size_)) != FileCause::None) return fail(c, "cannot read");
  if (size_ > kMaxLogBytes) {
    return Status::corrupt(gbk_to_utf8_lossy(path_) + ": larger than an import record can be");
  }
  // Read into bytes nothing writes first: the log is read whole at every import. The entries' texts
  // are views of them, so they are kept.
  logged_.clear();
  entries_.clear();
  texts_.clear();
  bytes_.reset(new char[static_cast<size_t>(size_)]);
  size_t got = 0;
  if ((c = file_->read_at(0, bytes_.get(), static_cast<size_t>(size_), &got)) != FileCause::None) {
    return fail(c, "cannot read");
  }
  size_ = got;
  return parse(std::string_view(bytes_.get(), got));
}

const std::vector<ImportEntry>& ImportLog::entries() const {
  // Once asked for, append keeps the copies up to date.
  entries_.reserve(logged_.size());
  for (size_t i = entries_.size(); i < logged_.size(); ++i) entries_.push_back(logged_[i].entry());
  copied_ = true;
  return entries_;
}

void ImportLog::keep(const std::vector<ImportEntry>& entries) {
  size_t size = 0;
  for (const ImportEntry& e : entries)
    size += e.key.order.size() + e.merchant.size() + e.channel.size() + e.remark.size();
  // One copy of the group's texts, which stays where it is in the deque (however short it is), sized
  // once and filled in place.
  char* at = texts_.emplace_back(size, '\0').data();
  for (const ImportEntry& e : entries) {
    LoggedEntry& l = logged_.emplace_back(logged_view(e));
    for (std::string_view* part : {&l.key.order, &l.merchant, &l.channel, &l.remark}) {
      const std::string_view from = *part;
      *part = std::string_view(at, from.size());
      at = std::copy(from.begin(), from.end(), at);
    }
  }
}

Status ImportLog::parse(std::string_view bytes) {
  logged_.clear();
  entries_.clear();
  copied_ = false;
  sound_end_ = marked_ = 0;
  // Empty, or a header cut short: the file was being made when an import stopped. All zero bytes: a
  // power cut kept the length of its first write but none of its bytes.
  if (bytes.size() < kHeader.size() && kHeader.substr(0, bytes.size()) == bytes) return Status();
  if (bytes.find_first_not_of('\0') == std::string_view::npos) return Status();
  if (bytes.substr(0, kHeader.size()) != kHeader) {
    return Status::corrupt(gbk_to_utf8_lossy(path_) +
                           ": not a record of imported bills (it does not begin with '" +
                           std::string(kHeader.substr(0, kHeader.size() - 1)) + "')");
  }
  // Every line's checksum first, several lines side by side; then the lines, in order.
  std::vector<std::string_view> lines;
  lines.reserve(bytes.size() / kUsualLineBytes + 1);  // a guess, not a count: more lines grow it
  for (size_t at = kHeader.size(); at < bytes.size();) {
    const size_t end = std::min(bytes.find('\n', at), bytes.size() - 1);
    lines.push_back(bytes.substr(at, end + 1 - at));
    at = end + 1;
  }
  const std::unique_ptr<bool[]> sound(new bool[lines.size()]);
  check_lines(lines.data(), lines.size(), sound.get());
  logged_.reserve(lines.size());
  size_t next = 0;
  const auto next_line = [&](std::string_view* line) {
    if (next == lines.size()) return false;
    *line = lines[next++];
    return true;
  };
  DateTimeReader times;
  // Made once, not per line: each line's fields and entry are written whole before they are read.
  std::string_view f[kFields];
  LoggedEntry e;
  const LineScan scan = scan_lines(kHeader.size(), next_line, [&](std::string_view line, size_t i) {
    if (!sound[i] || !parse_entry_fields(f, checked_fields(line, f, kFields, true), times, &texts_, &e))
      return false;
    logged_.push_back(e);
    return true;
  });
  if (scan.damaged_line > 0) {
    return Status::corrupt(gbk_to_utf8_lossy(path_) + ": line " + std::to_string(scan.damaged_line) +
                           " is damaged (it fails its checksum, and lines written after it are on the "
                           "disk); nothing was imported");
  }
  sound_end_ = scan.sound_end;
  marked_ = scan.marked;
  return Status();
}

Status ImportLog::append(std::vector<ImportEntry> entries, bool sync) {
  assert(appending_ && file_);
  std::string bytes = sound_end_ == 0 ? std::string(kHeader) : std::string();
  // What the last sync made durable: a bad line below it is damage, never a torn end.
  if (synced_end_ > marked_ && synced_end_ <= sound_end_) {
    bytes += import_mark_line(synced_end_);
    marked_ = synced_end_;
  }
  std::vector<size_t> starts;
  starts.reserve(entries.size());
  bytes.reserve(bytes.size() + entries.size() * 128);  // an entry line's usual length, and more
  for (const ImportEntry& e : entries) {
    starts.push_back(bytes.size());
    append_entry_line(&bytes, e, false);
  }
  fill_checksums(&bytes, starts);
  FileCause c = FileCause::None;
  if (size_ > sound_end_ && (c = file_->set_size(sound_end_)) != FileCause::None) {
    return fail(c, "cannot cut off an entry torn by an earlier import");
  }
  size_ = sound_end_;
  if ((c = file_->write_at(sound_end_, bytes.data(), bytes.size())) != FileCause::None) {
    return fail(c, "cannot write");
  }
  size_ = sound_end_ += bytes.size();
  keep(entries);
  if (copied_) {
    entries_.insert(entries_.end(), std::make_move_iterator(entries.begin()),
                    std::make_move_iterator(entries.end()));
  }
  return sync ? this->sync() : Status();
}

Status ImportLog::sync() {
  if (FileCause c = file_->sync(); c != FileCause::None) return fail(c, "cannot write to the disk");
  synced_end_ = sound_end_;
  // A file made by this import is found after a power cut only once its directory entry is written.
  if (!directory_synced_) {
    if (FileCause c = fs_->sync_directory_of(path_); c != FileCause::None) {
      return fail(c, "cannot write its folder to the disk");
    }
    directory_synced_ = true;
  }
  return Status();
}

namespace {

// The sound entry lines of a damaged log, and what was dropped.
std::string rebuilt_bytes(std::string_view bytes, LogRepair* report) {
  std::string out(kHeader);
  int line_number = 0;
  for (size_t at = 0; at < bytes.size();) {
    ++line_number;
    const size_t end = bytes.find('\n', at);
    const std::string_view line = bytes.substr(at, end == std::string_view::npos ? end : end + 1 - at);
    at = end == std::string_view::npos ? bytes.size() : end + 1;
    ImportEntry e;
    uint64_t mark = 0;
    if (line_number == 1 && line == kHeader) continue;
    if (parse_import_entry_line(line, &e)) {
      out += line;
      ++report->kept;
    } else if (!parse_mark_line(line, &mark)) {
      report->dropped.emplace_back(line_number, shown_line(line));
    }
  }
  return out;
}

Status write_whole(FileSystem& fs, const std::string& gbk_path, std::string_view bytes) {
  const std::string shown = gbk_to_utf8_lossy(gbk_path);
  std::ignore = fs.remove(gbk_path);  // a copy left by a repair cut short; none is the usual case
  std::unique_ptr<File> file;
  FileCause c = fs.create(gbk_path, &file);
  if (c == FileCause::None) c = file->write_at(0, bytes.data(), bytes.size());
  if (c == FileCause::None) c = file->sync();
  if (file) file->close();
  return c == FileCause::None ? Status() : Status::file(c, shown, "cannot write the rebuilt record");
}

}  // namespace

Result<LogRepair> repair_import_log(FileSystem& fs, const std::string& gbk_path) {
  const std::string shown = gbk_to_utf8_lossy(gbk_path);
  std::unique_ptr<File> file;
  FileCause c = fs.open(gbk_path, FileAccess::ReadWrite, FileShare::DenyNone, &file);
  if (c == FileCause::NotFound) return Status::not_found(shown + ": there is no record of imported bills");
  if (c != FileCause::None) return Status::file(c, shown, "cannot open the record of imported bills");
  // Held until the new file is in place: no import appends to the old one meanwhile.
  c = lock_log(*file);
  if (c == FileCause::LockViolation || c == FileCause::LockUnsupported) {
    return Status::invalid(shown + ": an import into this ledger, or a backup of it, is running");
  }
  uint64_t size = 0;
  if (c == FileCause::None) c = file->size(&size);
  if (c == FileCause::None && size > kMaxLogBytes)
    return Status::corrupt(shown + ": larger than an import record can be");
  std::string bytes(static_cast<size_t>(size), '\0');
  size_t got = 0;
  if (c == FileCause::None) c = file->read_at(0, bytes.data(), bytes.size(), &got);
  if (c != FileCause::None) return Status::file(c, shown, "cannot read");
  bytes.resize(got);
  LogRepair report;
  const std::string rebuilt = rebuilt_bytes(bytes, &report);
  if (report.dropped.empty() && bytes.substr(0, kHeader.size()) == kHeader) return report;
  const std::string fresh = gbk_path + ".rebuilt", kept = gbk_path + ".damaged";
  if (Status s = write_whole(fs, fresh, rebuilt); !s.ok()) return s;
  if ((c = fs.rename(gbk_path, kept)) != FileCause::None)
    return Status::file(c, shown, "cannot keep the damaged record");
  if ((c = fs.rename(fresh, gbk_path)) != FileCause::None)
    return Status::file(c, shown, "cannot put the rebuilt record in place");
  if ((c = fs.sync_directory_of(gbk_path)) != FileCause::None)
    return Status::file(c, shown, "cannot write its folder to the disk");
  return report;
}

}  // namespace pennacle
