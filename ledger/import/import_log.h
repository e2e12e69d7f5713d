// What kdbtool has imported from bill exports into one ledger: an append-only file beside the
// ledger ("data.kdb.imports"), one line per entry, each line with its own checksum.
//
// The ledger has no field for an order number, so this file ties each imported bill (its order
// number, trade time and amount) to the record serial it got. A bill counts as imported only while
// the ledger holds a live record with that serial and those values: after a backup of the ledger is
// restored, a bill the restored file no longer holds is imported again.
//
// Before a group of bills is appended, one intent entry per bill reaches the disk; it names the
// highest serial the ledger held, so the bill's record, if it was written at all, has a higher one.
// After the group, a done entry gives the serial each bill got. An import cut short between the two
// leaves intents that the next import settles by the record's values.
//
// It also remembers the halves of payment and refund pairs that were not booked: a closed payment
// (its refund is never booked) and a refund whose payment is not booked yet (booked, from what the
// entry holds, when that payment arrives in a later export).
//
// A power cut can tear only what was written after the last sync. Each append that follows a sync
// begins with a mark line naming the length that sync made durable, so damage is told from a torn
// end: a line that is incomplete or fails its checksum below a mark's length is damage, refused
// until repair_import_log rebuilds the file; at or above it, it begins a torn end, which the reader
// drops and the next append writes over.
#pragma once

#include <compare>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/status.h"

namespace pennacle {

// Two rows of exports are the same bill when their order number, trade time and amount agree.
struct ImportKey {
  std::string order;  // UTF-8
  double time = 0;
  double amount = 0;
  auto operator<=>(const ImportKey&) const = default;
};

struct ImportEntry {
  // Intent and Done: a bill booked. Closed: a payment that moved no money, not booked. Refund: a
  // refund not booked yet, with the texts its bill gets.
  enum class Kind { Intent, Done, Closed, Refund };
  Kind kind = Kind::Intent;
  ImportKey key;
  bool income = false;  // the side booked (Refund: the side the export gave it)
  // Done: the serial of the bill's record. Intent: the highest serial the ledger held before it.
  int32_t serial = 0;
  // Of the bill's 类型, 付款方式 and 备注 as stored (bill_fingerprint).
  uint64_t fingerprint = 0;
  std::string merchant;         // UTF-8 merchant order number, empty when none
  bool refund = false;          // Intent and Done: the bill is a refund
  std::string channel, remark;  // Refund: GBK texts of the bill to book
};

// An ImportKey without its own copy of the order number.
struct ImportKeyRef {
  std::string_view order;
  double time = 0, amount = 0;
  ImportKeyRef() = default;
  ImportKeyRef(std::string_view o, double t, double a) : order(o), time(t), amount(a) {}
  explicit ImportKeyRef(const ImportKey& k) : order(k.order), time(k.time), amount(k.amount) {}
  bool operator==(const ImportKeyRef&) const = default;
};

// An ImportEntry as the log holds it: the same fields, the texts views of bytes the log keeps for as
// long as it is open (or of the ImportEntry it was made from). Those bytes never move: a view stays
// right when entries are appended and the entries themselves move.
struct LoggedEntry {
  ImportKeyRef key;
  uint64_t fingerprint = 0;
  std::string_view merchant, channel, remark;
  int32_t serial = 0;
  ImportEntry::Kind kind = ImportEntry::Kind::Intent;
  bool income = false;
  bool refund = false;

  ImportEntry entry() const;  // a copy that owns its texts
};

// Views of `e`'s texts, valid while `e` stays as it is.
LoggedEntry logged_view(const ImportEntry& e);

// The fingerprint of a bill's texts as the ledger stores them (GBK).
uint64_t bill_fingerprint(std::string_view type, std::string_view channel, std::string_view remark);

class ImportLog {
 public:
  ImportLog() = default;
  ImportLog(const ImportLog&) = delete;
  ImportLog& operator=(const ImportLog&) = delete;
  ~ImportLog();

  // Reads the log at `gbk_path`. A missing file is an empty log; it is created only when
  // `for_append`, which also locks the log so that a second import into the same ledger waits for
  // none and fails at once. Fails when the file is not an import log, is damaged (Corrupt, naming
  // the line) or a file operation fails.
  Status open(FileSystem& fs, const std::string& gbk_path, bool for_append);

  // The entries read and appended, in order; their texts live as long as the log (or the next open).
  std::span<const LoggedEntry> logged() const { return logged_; }
  // The same entries as copies that own their texts, made when first asked for and kept up to date.
  const std::vector<ImportEntry>& entries() const;
  // Bytes after the last sound line: an append cut short, to be written over.
  uint64_t torn_bytes() const { return size_ - sound_end_; }

  // Appends the entries; with `sync` they are on the disk when it returns. Only after a successful
  // open for_append (asserted).
  Status append(std::vector<ImportEntry> entries, bool sync);
  // Room for `more` entries to be appended, so that appends in groups do not move the entries read.
  void reserve(size_t more) { logged_.reserve(logged_.size() + more); }
  Status sync();

 private:
  Status parse(std::string_view bytes);
  Status fail(FileCause cause, std::string_view what) const;
  // Adds appended entries to logged_, their texts copied into texts_.
  void keep(const std::vector<ImportEntry>& entries);

  FileSystem* fs_ = nullptr;
  std::string path_;
  std::unique_ptr<File> file_;
  std::unique_ptr<char[]> bytes_;  // the file as read: the texts of the entries read
  std::deque<std::string> texts_;  // texts unescaped or appended; a deque never moves them
  std::vector<LoggedEntry> logged_;
  mutable std::vector<ImportEntry> entries_;  // copies of logged_[0, entries_.size()) once asked for
  mutable bool copied_ = false;
  uint64_t size_ = 0, sound_end_ = 0;
  uint64_t synced_end_ = 0;  // the length this log's last sync made durable
  uint64_t marked_ = 0;      // the greatest length a mark line in the file names
  bool appending_ = false;   // opened for_append
  bool directory_synced_ = false;
};

// What repair_import_log did: the entries kept, and each dropped line with its number and text.
struct LogRepair {
  size_t kept = 0;
  std::vector<std::pair<int, std::string>> dropped;  // text shortened, bytes that break a line escaped
};

// Rebuilds the log at `gbk_path` from its sound entry lines: the new file replaces it whole (after a
// cut, either the old or the new one is there), and the old one is kept as `gbk_path`.damaged.
// NotFound when there is no log; a sound log is left as it is (nothing dropped).
Result<LogRepair> repair_import_log(FileSystem& fs, const std::string& gbk_path);

// Escaped entry lines, exposed for tests of the format. A line that is no sound entry leaves `out`
// partly written.
std::string import_entry_line(const ImportEntry& e);
bool parse_import_entry_line(std::string_view line, ImportEntry* out);
// The mark line that says the first `length` bytes of the log are on the disk.
std::string import_mark_line(uint64_t length);

}  // namespace pennacle
