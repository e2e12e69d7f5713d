#include "ledger/recycle_bin.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cmath>
#include <thread>

#include "ledger/checked_lines.h"
#include "platform/gbk.h"
#include "store/side_files.h"

namespace pennacle {
namespace {

constexpr std::string_view kHeader = "pennacle recycle bin 1\n";
constexpr uint64_t kMaxBinBytes = 256u << 20;
// A backup holds the lock byte while it copies the bin; a writer waits that long for it.
constexpr auto kLockWait = std::chrono::milliseconds(2000);
// Opens of a bin that a trim replaced while this one waited for its lock.
constexpr int kReopens = 8;
// A bill line: kind, id, serial, deleted at, the five values, and the category with its by-hand mark.
constexpr size_t kBillFields = 11, kStepFields = 3;

FileCause lock_bin(File& file) {
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (;;) {
    const FileCause c = file.lock(kSideFileLockByte, 1);
    if (c != FileCause::LockViolation || std::chrono::steady_clock::now() >= deadline) return c;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string step_line(char kind, int64_t id, int32_t serial) {
  return checked_line({std::string(1, kind), std::to_string(id), std::to_string(serial)});
}

bool parse_bill_line(const std::vector<std::string_view>& f, BinEntry* e) {
  return f.size() == kBillFields && whole_number(f[1], &e->id) && e->id > 0 &&
         whole_number(f[2], &e->bill.serial) && e->bill.serial > 0 &&
         parse_exact_number(f[3], &e->deleted_at) && std::isfinite(e->deleted_at) &&
         unescape_field(f[4], &e->bill.type) && parse_exact_number(f[5], &e->bill.amount) &&
         std::isfinite(e->bill.amount) && unescape_field(f[6], &e->bill.channel) &&
         parse_exact_number(f[7], &e->bill.time) && std::isfinite(e->bill.time) &&
         unescape_field(f[8], &e->bill.remark) && unescape_field(f[9], &e->category) &&
         (f[10] == "0" || f[10] == "1") && ((e->category_by_hand = f[10] == "1") || true);
}

}  // namespace

std::string bin_bill_line(const BinEntry& e) {
  const Bill& b = e.bill;
  return checked_line({"D", std::to_string(e.id), std::to_string(b.serial), exact_number(e.deleted_at),
                       escape_field(b.type), exact_number(b.amount), escape_field(b.channel),
                       exact_number(b.time), escape_field(b.remark), escape_field(e.category),
                       e.category_by_hand ? "1" : "0"});
}

RecycleBin::~RecycleBin() {
  if (file_) file_->close();
}

Status RecycleBin::fail(FileCause cause, std::string_view what) const {
  return Status::file(cause, gbk_to_utf8_lossy(path_), what);
}

Status RecycleBin::open(FileSystem& fs, const std::string& gbk_record_file, bool for_append) {
  fs_ = &fs;
  path_ = side_file_path(gbk_record_file, kBinSuffix);
  for (int attempt = 0;; ++attempt) {
    if (Status s = open_locked(fs, for_append); !s.ok()) return s;
    if (!file_ || !for_append) break;
    // A trim renames a new bin into place while a writer may wait on the old one's lock.
    FileId held, named;
    if (file_->id(&held) != FileCause::None || fs.id_of(path_, &named) != FileCause::None || held == named ||
        attempt == kReopens) {
      break;
    }
    file_->close();
    file_.reset();
  }
  appending_ = for_append;
  if (!file_) return Status();
  if (Status s = read_all(); !s.ok() || !for_append) return s;
  // A new bin's header reaches the disk alone, so that a cut in the first bill never leaves a file
  // that does not begin with it.
  if (sound_end_ == 0) return write("");
  // What another program wrote may not be on the disk yet. Synced now, the next write marks it, so
  // damage in it is told from a torn end.
  if (FileCause c = file_->sync(); c != FileCause::None) return fail(c, "cannot write to the disk");
  synced_end_ = sound_end_;
  return Status();
}

Status RecycleBin::open_locked(FileSystem& fs, bool for_append) {
  FileCause c =
      fs.open(path_, for_append ? FileAccess::ReadWrite : FileAccess::Read, FileShare::DenyNone, &file_);
  if (c == FileCause::NotFound && !for_append) return Status();
  if (c == FileCause::NotFound) {
    c = fs.create(path_, &file_);
    // Made by another program a moment ago: open that one.
    if (c == FileCause::AccessDenied) c = fs.open(path_, FileAccess::ReadWrite, FileShare::DenyNone, &file_);
  }
  if (c != FileCause::None) return fail(c, "cannot open the recycle bin");
  if (!for_append) return Status();
  c = lock_bin(*file_);
  if (c == FileCause::LockViolation || c == FileCause::LockUnsupported) {
    return Status::invalid(gbk_to_utf8_lossy(path_) +
                           ": another program is writing the recycle bin, or a backup of it is running; "
                           "try again");
  }
  return c == FileCause::None ? Status() : fail(c, "cannot lock");
}

Status RecycleBin::read_all() {
  FileCause c = file_->size(&size_);
  if (c != FileCause::None) return fail(c, "cannot read");
  if (size_ > kMaxBinBytes)
    return Status::corrupt(gbk_to_utf8_lossy(path_) + ": larger than a recycle bin can be");
  std::string bytes(static_cast<size_t>(size_), '\0');
  size_t got = 0;
  if ((c = file_->read_at(0, bytes.data(), bytes.size(), &got)) != FileCause::None)
    return fail(c, "cannot read");
  bytes.resize(got);
  size_ = got;
  slots_.clear();
  by_id_.clear();
  undeleting_.clear();
  sound_end_ = marked_ = 0;
  // Empty, a header cut short, or zeros where its sector never reached the disk: the file was
  // being made when a delete stopped (its header is synced alone before any bill is written).
  if ((bytes.size() < kHeader.size() && kHeader.substr(0, bytes.size()) == bytes) ||
      bytes.find_first_not_of('\0') == std::string::npos) {
    return Status();
  }
  if (!bytes.starts_with(kHeader)) {
    return Status::corrupt(gbk_to_utf8_lossy(path_) + ": not a recycle bin (it does not begin with '" +
                           std::string(kHeader.substr(0, kHeader.size() - 1)) + "'); it is left as it is");
  }
  const LineScan scan =
      scan_checked_lines(bytes, kHeader.size(), [this](std::string_view line) { return take_line(line); });
  if (scan.damaged_line > 0) {
    return Status::corrupt(gbk_to_utf8_lossy(path_) + ": line " + std::to_string(scan.damaged_line) +
                           " is damaged (it fails its checksum, and lines written after it are on the "
                           "disk); the recycle bin is left as it is ('kdbtool trash --repair' rebuilds it "
                           "from its sound lines)");
  }
  sound_end_ = scan.sound_end;
  marked_ = scan.marked;
  // Lines past a torn end were never taken; what was taken before it stands.
  return Status();
}

// One entry line; false for a line that is no sound entry. A step must name an entry before it.
bool RecycleBin::take_line(std::string_view line) {
  const std::vector<std::string_view> f = checked_fields(line);
  if (f.empty() || f[0].size() != 1) return false;
  if (f[0] == "D") {
    BinEntry e;
    if (!parse_bill_line(f, &e) || (!slots_.empty() && e.id <= slots_.back().entry.id)) return false;
    by_id_[e.id] = slots_.size();
    slots_.push_back({std::move(e), false});
    return true;
  }
  int64_t id = 0;
  int32_t serial = 0;
  if (f.size() != kStepFields || !whole_number(f[1], &id) || !whole_number(f[2], &serial) || serial < 0)
    return false;
  const auto at = by_id_.find(id);
  if (at == by_id_.end()) return false;
  if (f[0] == "U") {
    if (!slots_[at->second].left) undeleting_.emplace(id, serial);
    return true;
  }
  if (f[0] != "R" || serial == 0) return false;
  slots_[at->second].left = true;
  undeleting_.erase(id);
  return true;
}

std::vector<BinEntry> RecycleBin::bills() const {
  std::vector<BinEntry> out;
  for (const Slot& s : slots_) {
    if (!s.left) out.push_back(s.entry);
  }
  return out;
}

std::optional<BinEntry> RecycleBin::newest_with_serial(int32_t serial) const {
  for (auto it = slots_.rbegin(); it != slots_.rend(); ++it) {
    if (!it->left && it->entry.bill.serial == serial) return it->entry;
  }
  return std::nullopt;
}

Status RecycleBin::write(std::string lines) {
  assert(appending_ && file_);
  std::string bytes = sound_end_ == 0 ? std::string(kHeader) : std::string();
  // What the last sync made durable: a bad line below it is damage, never a torn end.
  if (synced_end_ > marked_ && synced_end_ <= sound_end_) {
    bytes += mark_line(synced_end_);
    marked_ = synced_end_;
  }
  bytes += lines;
  FileCause c = FileCause::None;
  if (size_ > sound_end_ && (c = file_->set_size(sound_end_)) != FileCause::None)
    return fail(c, "cannot cut off a line torn by an earlier write");
  size_ = sound_end_;
  if ((c = file_->write_at(sound_end_, bytes.data(), bytes.size())) != FileCause::None)
    return fail(c, "cannot write");
  size_ = sound_end_ += bytes.size();
  if ((c = file_->sync()) != FileCause::None) return fail(c, "cannot write to the disk");
  synced_end_ = sound_end_;
  // A bin made by this write is found after a power cut only once its directory entry is written.
  if (!directory_synced_) {
    if ((c = fs_->sync_directory_of(path_)) != FileCause::None)
      return fail(c, "cannot write its folder to the disk");
    directory_synced_ = true;
  }
  return Status();
}

Status RecycleBin::put(BinEntry e, int64_t* id) {
  e.id = slots_.empty() ? 1 : slots_.back().entry.id + 1;
  if (Status s = write(bin_bill_line(e)); !s.ok()) return s;
  *id = e.id;
  by_id_[e.id] = slots_.size();
  slots_.push_back({std::move(e), false});
  return Status();
}

Status RecycleBin::begin_undelete(int64_t id, int32_t highest_serial) {
  assert(by_id_.count(id));
  if (Status s = write(step_line('U', id, highest_serial)); !s.ok()) return s;
  undeleting_.emplace(id, highest_serial);
  return Status();
}

Status RecycleBin::leave(int64_t id, int32_t serial) {
  assert(by_id_.count(id) && serial > 0);
  if (Status s = write(step_line('R', id, serial)); !s.ok()) return s;
  slots_[by_id_[id]].left = true;
  undeleting_.erase(id);
  return Status();
}

// The newest kBinKeepBills entries in the bin, and any younger than kBinKeepDays.
std::vector<const RecycleBin::Slot*> RecycleBin::kept(double now) const {
  std::vector<const Slot*> in_bin;
  for (const Slot& s : slots_) {
    if (!s.left) in_bin.push_back(&s);
  }
  std::vector<const Slot*> out;
  for (size_t i = 0; i < in_bin.size(); ++i) {
    const bool recent = in_bin.size() - i <= kBinKeepBills;
    if (recent || now - in_bin[i]->entry.deleted_at <= kBinKeepDays) out.push_back(in_bin[i]);
  }
  return out;
}

size_t RecycleBin::trimmable(double now) const { return slots_.size() - kept(now).size(); }

Status RecycleBin::replace_whole(std::string_view bytes, std::string_view suffix,
                                 const std::string& keep_as) {
  const std::string fresh = path_ + "." + std::string(suffix), shown = gbk_to_utf8_lossy(path_);
  std::ignore = fs_->remove(fresh);  // a copy left by a rewrite cut short; none is the usual case
  std::unique_ptr<File> file;
  FileCause c = fs_->create(fresh, &file);
  if (c == FileCause::None) c = file->write_at(0, bytes.data(), bytes.size());
  if (c == FileCause::None) c = file->sync();
  if (file) file->close();
  if (c != FileCause::None) return Status::file(c, shown, "cannot write the rewritten recycle bin");
  if (!keep_as.empty() && (c = fs_->rename(path_, keep_as)) != FileCause::None)
    return Status::file(c, shown, "cannot keep the old recycle bin");
  // The old file stays locked until the new one is in place: no writer appends to it meanwhile.
  if ((c = fs_->rename(fresh, path_)) != FileCause::None)
    return Status::file(c, shown, "cannot put the rewritten recycle bin in place");
  if ((c = fs_->sync_directory_of(path_)) != FileCause::None)
    return Status::file(c, shown, "cannot write its folder to the disk");
  return Status();
}

Status RecycleBin::trim(double now) {
  assert(appending_ && file_);
  std::string bytes(kHeader);
  for (const Slot* s : kept(now)) {
    bytes += bin_bill_line(s->entry);
    if (auto u = undeleting_.find(s->entry.id); u != undeleting_.end())
      bytes += step_line('U', u->first, u->second);
  }
  if (Status s = replace_whole(bytes, "trimmed", ""); !s.ok()) return s;
  file_->close();
  file_.reset();
  appending_ = false;
  return Status();
}

}  // namespace pennacle
