// The edit journal: how an edit in place stays whole across a power cut. Only the store's own files
// include this.
//
// A disk keeps a 512-byte sector whole or not at all, but a record that straddles a sector boundary
// can be left half old, half new. Before such a record is written in place, its old and new bytes go
// to the journal "<record file>.edits" (a side file: every snapshot carries it, every restore puts
// it back or removes it) and are synced. A writable open, and the next edit that journals, look at
// it: when the slot it names holds a sector-by-sector mix of the two that is neither, the cut came in
// the middle of the write, and the new bytes are written again.
//
// The journal is never emptied. A stale one is harmless: a later edit of the same slot journals
// again (the slot still straddles), a delete changes the serial, a purge moves another record in, and
// none of those leaves a mix of the journal's two versions. Layout (little-endian):
//
//   0  magic "PNKDBED1"     16  slot (zero-based)          24      old record bytes
//   8  data start           20  serial                     24 + L  new record bytes
//  12  record length (L)                                   24 + 2L checksum of everything before it
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "store/errors.h"

namespace pennacle {

struct Database;

inline constexpr std::string_view kEditJournalSuffix = "edits";

struct EditJournal {
  int32_t data_start = 0;
  int32_t slot = 0;
  int32_t serial = 0;
  std::vector<uint8_t> old_bytes, new_bytes;  // one record each

  std::string encode() const;
  // False for bytes that are not one whole journal of `record_length` bytes per record.
  static bool parse(std::string_view bytes, int32_t record_length, EditJournal* out);
};

// Whether a write of `length` bytes at `position` may be torn by a cut: it spans two sectors.
bool crosses_sector(int64_t position, int64_t length);

// Whether `current` (the slot's bytes now) is a mix of the journal's two versions, sector by sector
// at `position`, and neither of them: a write of the new bytes cut short.
bool torn_between(const uint8_t* current, const EditJournal& j, int64_t position);

// The journal file of one database while an edit uses it. Its writer holds the side-file lock byte
// for the whole edit; the lock goes with the file when this is destroyed.
class JournalFile {
 public:
  // Opens the journal of `db`, creating it when it is not there yet.
  DbCode open(FileSystem& fs, const Database& db);
  // Takes the side-file lock byte by the store's wait rule (0: at once or LockFile).
  DbCode lock(int32_t wait_ms);
  ~JournalFile();
  bool is_open() const { return file_ != nullptr; }

  // The journal the file holds; false when it holds none that checks out for `record_length`.
  bool read(int32_t record_length, EditJournal* out);
  // Writes `j` and syncs it (and, the first time, the directory entry): it is on the disk on Ok.
  DbCode write(const EditJournal& j);

 private:
  std::unique_ptr<File> file_;
  FileSystem* fs_ = nullptr;
  std::string path_;
  bool locked_ = false;
  bool created_ = false;  // the directory entry still has to be synced
};

// Whether the slot the journal names holds its serial and is torn between the journal's two
// versions; false also when it cannot be read.
bool slot_looks_torn(Database& db, const EditJournal& j);

// Writes the journal's new bytes into its slot when a cut left that slot torn between its two
// versions, and syncs. The caller holds the slot (its record lock, or the whole file). Ok also when
// there was nothing to do.
DbCode repair_torn_edit(Database& db, const EditJournal& j);

// At a writable open, the whole file held: repairs the slot an edit cut short left torn.
DbCode finish_interrupted_edit(FileSystem& fs, Database& db);

}  // namespace pennacle
