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
// A power cut can tear only what was written after the last sync; the reader stops at the first
// line that is incomplete or fails its checksum, and the next append writes over that tail.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <string>
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
  enum class Kind { Intent, Done };
  Kind kind = Kind::Intent;
  ImportKey key;
  bool income = false;
  // Done: the serial of the bill's record. Intent: the highest serial the ledger held before it.
  int32_t serial = 0;
  // Of the bill's 类型, 付款方式 and 备注 as stored (bill_fingerprint).
  uint64_t fingerprint = 0;
};

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
  // none and fails at once. Fails when the file is not an import log or a file operation fails.
  Status open(FileSystem& fs, const std::string& gbk_path, bool for_append);

  const std::vector<ImportEntry>& entries() const { return entries_; }
  // Bytes after the last sound line: an append cut short, to be written over.
  uint64_t torn_bytes() const { return size_ - sound_end_; }

  // Appends the entries; with `sync` they are on the disk when it returns. Only after a successful
  // open for_append (asserted).
  Status append(const std::vector<ImportEntry>& entries, bool sync);
  Status sync();

 private:
  Status parse(std::string_view bytes);
  Status fail(FileCause cause, std::string_view what) const;

  FileSystem* fs_ = nullptr;
  std::string path_;
  std::unique_ptr<File> file_;
  std::vector<ImportEntry> entries_;
  uint64_t size_ = 0, sound_end_ = 0;
  bool appending_ = false;  // opened for_append
  bool directory_synced_ = false;
};

// Escaped entry lines, exposed for tests of the format.
std::string import_entry_line(const ImportEntry& e);
bool parse_import_entry_line(std::string_view line, ImportEntry* out);

}  // namespace pennacle
