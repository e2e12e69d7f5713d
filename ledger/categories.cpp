#include "ledger/categories.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <chrono>
#include <cmath>
#include <set>
#include <thread>

#include "ledger/checked_lines.h"
#include "platform/gbk.h"
#include "store/side_files.h"

namespace pennacle {
namespace {

constexpr uint64_t kMaxFileBytes = 256u << 20;
// A backup holds the lock byte while it copies the file; a writer waits that long for it.
constexpr auto kLockWait = std::chrono::milliseconds(2000);
// A file with this many more lines than its state needs is written anew at the next update.
constexpr size_t kSupersededSlack = 4096;
// Room for entries made before a file is read: an entry line is rarely shorter (room not used is
// never touched, so a guess too high costs only address space).
constexpr size_t kShortestEntryLine = 32;

// A time or an amount as the file holds it: the exact number, never one that is not finite.
bool whole_double(std::string_view s, double* out) {
  return parse_exact_number(s, out) && std::isfinite(*out);
}

std::string name_line(std::string_view name) { return checked_line({"N", std::string(name)}); }
std::string drop_line(int32_t serial) { return checked_line({"D", std::to_string(serial)}); }

bool same_values(const CategoryKey& a, const CategoryKey& b) {
  return a.time == b.time && a.amount == b.amount && a.income == b.income;
}

}  // namespace

CategoryKey category_key(int32_t serial, const Bill& bill) {
  return {serial, bill.time, bill.amount, !bill.is_expense()};
}

CategoryKey stored_category_key(const BillTable& table, int32_t serial, const Bill& bill) {
  return {serial, bill.time, stored_amount(table, bill.amount), !bill.is_expense()};
}

std::string_view uncategorized() { return "未分类"; }

const std::vector<std::string>& starting_categories() {
  static const std::vector<std::string> kNames = {"餐饮", "交通", "购物", "居住", "通讯", "医疗", "教育",
                                                  "娱乐", "人情", "旅行", "工资", "理财", "其他"};
  return kNames;
}

std::string category_name_problem(std::string_view name) {
  if (name.empty()) return "a category cannot be empty";
  if (name.size() > kMaxCategoryBytes)
    return "a category takes at most " + std::to_string(kMaxCategoryBytes) + " bytes";
  for (size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7F) return "a category cannot hold control characters";
    const size_t n = gbk_char_length(name, i);
    if (n == 2 && (i + 1 >= name.size() || static_cast<unsigned char>(name[i + 1]) < 0x40))
      return "a category must be GBK text";
    i += n;
  }
  if (name.front() == ':' || name.back() == ':' || name.find("::") != std::string_view::npos)
    return "each part of a category (between colons) must hold something";
  return "";
}

const NamedEntryFileKind& category_file_kind() {
  static const NamedEntryFileKind kKind{"categories", "pennacle categories 1\n", "categories",
                                        &starting_categories(), &category_name_problem};
  return kKind;
}

std::string categories_path(std::string_view gbk_record_file) {
  return side_file_path(gbk_record_file, category_file_kind().suffix);
}

namespace {

// Appends the entry's line to `out`: the bytes checked_line makes of its fields, without a string
// for each (an import writes one a bill).
void append_entry_line(std::string* out, const CategoryEntry& e) {
  // Every field before the name fits: a serial of 11 characters, two shortest doubles of 24 at most.
  char head[96];
  char* const end = head + sizeof head;
  char* at = head;
  *at++ = 'E';
  *at++ = '\t';
  at = std::to_chars(at, end, e.key.serial).ptr;
  *at++ = '\t';
  at = std::to_chars(at, end, e.key.time).ptr;  // the shortest text that reads back the same, as exact_number
  *at++ = '\t';
  at = std::to_chars(at, end, e.key.amount).ptr;
  *at++ = '\t';
  *at++ = e.key.income ? '+' : '-';
  *at++ = '\t';
  *at++ = e.by_hand ? 'h' : 'r';
  *at++ = '\t';
  const size_t start = out->size();
  out->append(head, at);
  out->append(e.name);
  end_checked_line(out, start);
}

}  // namespace

std::string category_entry_line(const CategoryEntry& e) {
  std::string line;
  append_entry_line(&line, e);
  return line;
}

std::string category_mark_line(uint64_t length) { return checked_line({"S", std::to_string(length)}); }

CategoryFile::~CategoryFile() {
  if (file_) file_->close();
}

Status CategoryFile::fail(FileCause cause, std::string_view what) const {
  return Status::file(cause, gbk_to_utf8_lossy(path_), what);
}

const CategoryEntry* CategoryFile::find(const CategoryKey& key) const {
  const auto it = entries_.find(key.serial);
  return it != entries_.end() && same_values(it->second.key, key) ? &it->second : nullptr;
}

// Takes the lock byte of the file now at path_. A writer that renamed a new file into place while
// this one waited leaves the lock on the old one: then the new one is opened and locked instead.
Status CategoryFile::lock_current() {
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (;;) {
    FileCause c = file_->lock(kSideFileLockByte, 1);
    if (c == FileCause::LockViolation && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (c == FileCause::LockViolation || c == FileCause::LockUnsupported) {
      return Status::invalid(gbk_to_utf8_lossy(path_) + ": another change of the " +
                             std::string(kind_->noun) + ", or a backup of the ledger, is running");
    }
    if (c != FileCause::None) return fail(c, "cannot lock");
    FileId held, named;
    if (file_->id(&held) != FileCause::None || fs_->id_of(path_, &named) != FileCause::None ||
        held == named) {
      return Status();
    }
    file_->close();
    if ((c = fs_->open(path_, FileAccess::ReadWrite, FileShare::DenyNone, &file_)) != FileCause::None)
      return fail(c, "cannot open the " + std::string(kind_->noun));
  }
}

Status CategoryFile::open(FileSystem& fs, const std::string& gbk_path, bool for_write) {
  fs_ = &fs;
  path_ = gbk_path;
  names_ = *kind_->starting_names;
  entries_.clear();
  lines_ = size_ = sound_end_ = durable_ = marked_ = 0;
  durable_known_ = false;
  FileCause c =
      fs.open(gbk_path, for_write ? FileAccess::ReadWrite : FileAccess::Read, FileShare::DenyNone, &file_);
  if (c == FileCause::NotFound && !for_write) return Status();
  bool made = false;
  if (c == FileCause::NotFound) {
    c = fs.create(gbk_path, &file_);
    made = c == FileCause::None;
    // Made by another writer a moment ago: open that one.
    if (c == FileCause::AccessDenied)
      c = fs.open(gbk_path, FileAccess::ReadWrite, FileShare::DenyNone, &file_);
  }
  if (c != FileCause::None) return fail(c, "cannot open the " + std::string(kind_->noun));
  if (for_write) {
    if (Status s = lock_current(); !s.ok()) return s;
  }
  writing_ = for_write;
  directory_synced_ = !made;
  if (Status s = read_all(); !s.ok()) return s;
  if (!for_write || sound_end_ > 0) return Status();
  std::string lines;
  for (const std::string& n : names_) lines += name_line(n);
  return append(lines);
}

Status CategoryFile::read_all() {
  FileCause c = file_->size(&size_);
  if (c != FileCause::None) return fail(c, "cannot read");
  if (size_ > kMaxFileBytes)
    return Status::corrupt(gbk_to_utf8_lossy(path_) + ": larger than a " + std::string(kind_->noun) +
                           " file can be");
  std::string bytes(static_cast<size_t>(size_), '\0');
  size_t got = 0;
  if ((c = file_->read_at(0, bytes.data(), bytes.size(), &got)) != FileCause::None)
    return fail(c, "cannot read");
  bytes.resize(got);
  size_ = got;
  return parse(bytes);
}

namespace {

// The lines of `bytes` from an offset, each with whether it passes its checksum: checked 64 at a
// time, four side by side (check_lines), and handed out in order.
class LinesAhead {
 public:
  LinesAhead(std::string_view bytes, size_t at) : bytes_(bytes), next_(at) {}

  // The next line (with its end when it has one) and its check; false past the last.
  bool next(std::string_view* line, bool* sound) {
    if (given_ == count_ && !fill()) return false;
    *line = lines_[given_];
    *sound = sound_[given_++];
    return true;
  }

 private:
  bool fill() {
    given_ = count_ = 0;
    while (count_ < kBatch && next_ < bytes_.size()) {
      const size_t end = bytes_.find('\n', next_);
      lines_[count_] = bytes_.substr(next_, end == std::string_view::npos ? end : end + 1 - next_);
      next_ += lines_[count_++].size();
    }
    check_lines(lines_, count_, sound_);
    return count_ > 0;
  }

  static constexpr size_t kBatch = 64;
  std::string_view bytes_;
  size_t next_;
  std::string_view lines_[kBatch];
  bool sound_[kBatch] = {};
  size_t count_ = 0, given_ = 0;
};

// One line's effect, or false when the line is not a sound line of the format.
struct LineEffect {
  char kind = 0;
  uint64_t mark = 0;
  CategoryEntry entry;
  std::string name;
  int32_t dropped = 0;
};

// `good_name`: a name already found sound (nullptr for none), not checked again; `kind` checks the
// others.
bool parse_line(std::string_view line, LineEffect* out, const std::string* good_name,
                const NamedEntryFileKind& kind) {
  std::string_view f[7];  // the most fields a line has (an entry's)
  const size_t n = checked_fields(line, f, std::size(f), /*known_sound=*/true);
  if (n == 0 || n > std::size(f) || f[0].size() != 1) return false;
  out->kind = f[0][0];
  switch (out->kind) {
    case 'S':
      return n == 2 && whole_number(f[1], &out->mark);
    case 'D':
      return n == 2 && whole_number(f[1], &out->dropped);
    case 'N':
      out->name = std::string(n == 2 ? f[1] : std::string_view());
      return n == 2 && kind.name_problem(out->name).empty();
    case 'E': {
      if (n != 7) return false;
      CategoryEntry& e = out->entry;
      e.name = std::string(f[6]);
      if (!whole_number(f[1], &e.key.serial) || !whole_double(f[2], &e.key.time) ||
          !whole_double(f[3], &e.key.amount))
        return false;
      if ((f[4] != "+" && f[4] != "-") || (f[5] != "h" && f[5] != "r")) return false;
      e.key.income = f[4] == "+";
      e.by_hand = f[5] == "h";
      return (good_name && e.name == *good_name) || kind.name_problem(e.name).empty();
    }
    default:
      return false;
  }
}

}  // namespace

Status CategoryFile::parse(std::string_view bytes) {
  const std::string_view header = kind_->header;
  // Empty, or a header cut short: the file was being made when its writer stopped. All zero bytes: a
  // power cut kept the length of its first write but none of its bytes.
  if (bytes.size() < header.size() && header.substr(0, bytes.size()) == bytes) return Status();
  if (bytes.find_first_not_of('\0') == std::string_view::npos) return Status();
  if (bytes.substr(0, header.size()) != header) {
    return Status::corrupt(gbk_to_utf8_lossy(path_) + ": not a " + std::string(kind_->noun) +
                           " file (it does not begin with '" +
                           std::string(header.substr(0, header.size() - 1)) + "')");
  }
  std::set<std::string> known(names_.begin(), names_.end());
  entries_.reserve(bytes.size() / kShortestEntryLine);
  std::string last_name;  // the name of the last sound entry: checked and known
  bool have_last = false;
  size_t at = header.size(), bad_at = std::string_view::npos;
  int line_number = 1, bad_line = 0;
  sound_end_ = at;
  // Past the first bad line only marks are looked for: one naming a length beyond it is damage.
  LinesAhead ahead(bytes, at);
  std::string_view line;
  bool checked = false;
  while (ahead.next(&line, &checked)) {
    ++line_number;
    LineEffect e;
    const bool sound = checked && parse_line(line, &e, have_last ? &last_name : nullptr, *kind_);
    if (sound && e.kind == 'S') {
      marked_ = std::max(marked_, e.mark);
    } else if (sound && bad_at == std::string_view::npos) {
      ++lines_;
      if (e.kind == 'N' && known.insert(e.name).second) names_.push_back(e.name);
      if (e.kind == 'D') entries_.drop_in_order(e.dropped);
      if (e.kind == 'E') {
        if (!have_last || e.entry.name != last_name) {
          if (known.insert(e.entry.name).second) names_.push_back(e.entry.name);
          last_name = e.entry.name;
          have_last = true;
        }
        entries_.add_in_order(std::move(e.entry));
      }
    } else if (bad_at == std::string_view::npos) {
      bad_at = at;
      bad_line = line_number;
    }
    at += line.size();
    if (bad_at == std::string_view::npos && line.back() == '\n') sound_end_ = at;
  }
  entries_.settle();
  if (bad_at != std::string_view::npos && marked_ > bad_at) {
    return Status::corrupt(gbk_to_utf8_lossy(path_) + ": line " + std::to_string(bad_line) +
                           " is damaged (it fails its checksum, and lines written after it are on the disk)");
  }
  marked_ = std::min<uint64_t>(marked_, sound_end_);
  return Status();
}

Status CategoryFile::append(const std::string& lines) {
  assert(writing_ && file_);
  FileCause c = FileCause::None;
  // What an earlier writer left in the page cache (it may have been killed before its sync) is made
  // durable before this writer's first change, so the mark it puts down tells damage from a torn end.
  if (!durable_known_ && sound_end_ > 0) {
    if ((c = file_->sync()) != FileCause::None) return fail(c, "cannot write to the disk");
    durable_ = sound_end_;
  }
  durable_known_ = true;
  std::string bytes = sound_end_ == 0 ? std::string(kind_->header) : std::string();
  if (durable_ > marked_) {
    bytes += category_mark_line(durable_);
    marked_ = durable_;
  }
  bytes += lines;
  if (size_ > sound_end_ && (c = file_->set_size(sound_end_)) != FileCause::None)
    return fail(c, "cannot cut off a change that was cut short");
  size_ = sound_end_;
  if ((c = file_->write_at(sound_end_, bytes.data(), bytes.size())) != FileCause::None)
    return fail(c, "cannot write");
  size_ = sound_end_ += bytes.size();
  if ((c = file_->sync()) != FileCause::None) return fail(c, "cannot write to the disk");
  durable_ = sound_end_;
  // A file made here is found after a power cut only once its directory entry is written.
  if (!directory_synced_) {
    if ((c = fs_->sync_directory_of(path_)) != FileCause::None)
      return fail(c, "cannot write its folder to the disk");
    directory_synced_ = true;
  }
  return Status();
}

// The whole state as a new file under a temporary name, synced, renamed into place, the folder
// synced; then that file is the one held (and locked) for the writes that follow.
Status CategoryFile::rewrite() {
  std::string bytes(kind_->header);
  for (const std::string& n : names_) bytes += name_line(n);
  for (const auto& [serial, e] : entries_) append_entry_line(&bytes, e);
  const std::string fresh = path_ + ".rewriting";
  std::ignore = fs_->remove(fresh);  // left by a rewrite cut short; none is the usual case
  std::unique_ptr<File> file;
  FileCause c = fs_->create(fresh, &file);
  if (c == FileCause::None) c = file->write_at(0, bytes.data(), bytes.size());
  if (c == FileCause::None) c = file->sync();
  if (c == FileCause::None && (c = file->lock(kSideFileLockByte, 1)) == FileCause::LockUnsupported)
    c = FileCause::None;
  if (c == FileCause::None) c = fs_->rename(fresh, path_);
  if (c == FileCause::None) c = fs_->sync_directory_of(path_);
  if (c != FileCause::None) {
    if (file) file->close();
    return fail(c, "cannot write the " + std::string(kind_->noun) + " anew");
  }
  file_->close();
  file_ = std::move(file);
  size_ = sound_end_ = durable_ = bytes.size();
  durable_known_ = true;
  marked_ = 0;
  lines_ = names_.size() + entries_.size();
  directory_synced_ = true;
  return Status();
}

Status CategoryFile::update(const std::vector<CategoryEntry>& changes, const LiveBills* live) {
  assert(writing_);
  std::string lines;
  std::set<std::string> known(names_.begin(), names_.end());
  for (const CategoryEntry& e : changes) {
    if (std::string why = kind_->name_problem(e.name); !why.empty())
      return Status::invalid("'" + gbk_to_utf8_lossy(e.name) + "': " + why);
  }
  for (const CategoryEntry& e : changes) {
    if (known.insert(e.name).second) {
      names_.push_back(e.name);
      lines += name_line(e.name);
    }
    append_entry_line(&lines, e);
  }
  entries_.set_all(changes);
  size_t dropped = 0;
  if (live) {
    dropped = entries_.erase_if([live](const CategoryEntry& e) {
      auto bill = live->find(e.key.serial);
      return bill == live->end() || !same_values(bill->second, e.key);
    });
  }
  lines_ += changes.size();
  if (dropped > 0 || lines_ > 2 * (names_.size() + entries_.size()) + kSupersededSlack) return rewrite();
  return lines.empty() ? Status() : append(lines);
}

Status CategoryFile::rekey(const CategoryKey& from, const CategoryKey& to) {
  assert(writing_);
  const CategoryEntry* e = find(from);
  if (!e || (from == to)) return Status();
  CategoryEntry moved{to, e->name, e->by_hand};
  std::string lines = category_entry_line(moved);
  if (from.serial != to.serial) {
    lines += drop_line(from.serial);
    entries_.erase(from.serial);
  }
  entries_.set(std::move(moved));
  lines_ += 2;
  return append(lines);
}

Status CategoryFile::drop(int32_t serial) {
  assert(writing_);
  if (entries_.erase(serial) == 0) return Status();
  ++lines_;
  return append(drop_line(serial));
}

}  // namespace pennacle
