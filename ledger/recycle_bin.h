// The recycle bin: every bill deleted from the ledger, kept beside it in "data.kdb.trash" so that it
// can be put back. An append-only file of checked lines (ledger/checked_lines.h), synced before the
// record it holds is deleted.
//
// Three kinds of line: a bill put in the bin (with an id of its own, its serial, all its values, the
// time it was deleted and its category); an undelete begun (the entry's id and the highest serial the ledger
// held before the bill was appended again); and an entry leaving the bin (its id and the serial the bill has
// in the ledger). An undelete cut short between the first two steps is settled from the ledger: the bill's
// record, if it was written, is a live one above that serial with the same values (ledger/bin_ledger.h).
//
// The bin keeps the last kBinKeepBills bills or those of the last kBinKeepDays days, whichever are
// more; trim() rewrites it without the others and without the entries that left, as a new file
// renamed into place.
//
// Lock protocol (store/side_files.h): a writer holds kSideFileLockByte of the bin from open until it
// is done, taken before any lock of the record file. A writer that waited while a trim put a new
// file in place opens that one.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ledger/bill.h"
#include "platform/file.h"
#include "platform/status.h"

namespace pennacle {

inline constexpr std::string_view kBinSuffix = "trash";
inline constexpr size_t kBinKeepBills = 1000;
inline constexpr double kBinKeepDays = 90;  // date-time values count days
// A trim is due once it would drop this many entries: a rewrite is not worth one line.
inline constexpr size_t kBinTrimSlack = 100;

struct BinEntry {
  int64_t id = 0;         // the entry's own number, rising through the file
  double deleted_at = 0;  // a date-time value
  Bill bill;              // its serial is the deleted record's
  // The category the bill had (GBK; empty: none), so that an undelete gives it back.
  std::string category{};
  bool category_by_hand = false;
};

// What a repair did: the lines kept, and each dropped line with its number and text (shortened,
// bytes that break a line escaped).
struct BinRepair {
  size_t kept = 0;
  std::vector<std::pair<int, std::string>> dropped;
};

class RecycleBin {
 public:
  RecycleBin() = default;
  RecycleBin(const RecycleBin&) = delete;
  RecycleBin& operator=(const RecycleBin&) = delete;
  ~RecycleBin();

  // Reads the bin beside the record file `gbk_record_file`. A missing bin is an empty one; it is
  // made only `for_append`, which also holds the bin's lock byte (waiting up to 2 s for a backup).
  // Fails when the file is not a recycle bin or is damaged (Corrupt, naming the line; the file is
  // left as it is), or a file operation fails.
  Status open(FileSystem& fs, const std::string& gbk_record_file, bool for_append);

  // The bills in the bin, oldest deletion first.
  std::vector<BinEntry> bills() const;
  // The bill with `serial` deleted last that is still in the bin, if any.
  std::optional<BinEntry> newest_with_serial(int32_t serial) const;
  // Undeletes begun and not finished: entry id -> the highest serial the ledger held before.
  const std::map<int64_t, int32_t>& open_undeletes() const { return undeleting_; }
  const std::string& path() const { return path_; }

  // The writes, each on the disk when it returns; only after an open for_append (asserted).
  // Puts `entry` (its id is given here) in the bin; `*id` gets the entry's id.
  Status put(BinEntry entry, int64_t* id);
  // A bill without a category.
  Status put(const Bill& bill, double deleted_at, int64_t* id) {
    return put(BinEntry{0, deleted_at, bill, {}, false}, id);
  }
  Status begin_undelete(int64_t id, int32_t highest_serial);
  // The entry leaves the bin: its bill is in the ledger as `serial`.
  Status leave(int64_t id, int32_t serial);

  // Entries a trim at `now` would drop: those that left and those past both limits.
  size_t trimmable(double now) const;
  bool trim_due(double now) const { return trimmable(now) >= kBinTrimSlack; }
  // Rewrites the bin with the entries it keeps at `now`; the new file replaces the old one whole
  // (after a cut, either is there). The bin is closed afterwards: open it again to write more.
  Status trim(double now);

  // Rebuilds the damaged bin beside `gbk_record_file` from its sound lines: the new file replaces
  // it whole, the old one is kept as "<bin>.damaged". NotFound when there is none; a sound bin is
  // left as it is (nothing dropped). The bin is closed afterwards.
  Result<BinRepair> repair(FileSystem& fs, const std::string& gbk_record_file);

 private:
  struct Slot {
    BinEntry entry;
    bool left = false;
  };
  Status open_locked(FileSystem& fs, bool for_append);
  Status read_all();
  bool take_line(std::string_view line);
  Status write(std::string bytes);
  // Writes `bytes` as "<bin>.<suffix>", synced, and renames it over the bin (the old one first
  // renamed to `keep_as` unless empty), then syncs the folder.
  Status replace_whole(std::string_view bytes, std::string_view suffix, const std::string& keep_as);
  Status fail(FileCause cause, std::string_view what) const;
  std::vector<const Slot*> kept(double now) const;

  FileSystem* fs_ = nullptr;
  std::string path_;  // GBK
  std::unique_ptr<File> file_;
  std::vector<Slot> slots_;                // every bill line, in file order
  std::map<int64_t, size_t> by_id_;        // id -> index in slots_
  std::map<int64_t, int32_t> undeleting_;  // the first unanswered intent of each entry
  uint64_t size_ = 0, sound_end_ = 0, synced_end_ = 0, marked_ = 0;
  bool appending_ = false, directory_synced_ = false;
};

// The lines of the format, exposed for tests of it.
std::string bin_bill_line(const BinEntry& e);

}  // namespace pennacle
