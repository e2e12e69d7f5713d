// The ledger's files beside its record file, each named "<record file>.<suffix>": the import log
// "data.kdb.imports", the recycle bin "data.kdb.trash", the categories "data.kdb.categories", the
// rules' method accounts "data.kdb.accounts" and whatever later joins them. The store reads
// none but its edit journal; it carries every one that exists in each snapshot and puts them back (or
// removes them) with each restore, so a side file never sits beside a ledger older than itself.
//
// Lock protocol. A program writing a side file holds an exclusive lock on byte 0 of that file for as
// long as its change runs (the import log holds it for a whole import), and takes it before any lock
// of the record file. A snapshot takes the same byte of every side file, waiting up to its wait time,
// and only then the record file's locks: it never copies a half-written side file, and with that
// order neither side can hold what the other waits for. A running import therefore delays a snapshot
// and, when it outlasts the wait, makes it fail with a message naming the import. A restore needs no
// such lock: it holds the record file exclusively, and side files are written only with it open.
// An edit meets its record's lock first; holding it, it only tries the journal's byte, and when
// that is held it lets go of the record before it waits.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace pennacle {

// Every kind of side file a snapshot carries, by suffix. Adding one is adding its word here. A
// program holding the locks of several takes them in this order, as a snapshot does. "edits" is the
// store's own edit journal (store/edit_journal.h).
inline constexpr auto kSideFileSuffixes =
    std::to_array<std::string_view>({"imports", "trash", "categories", "accounts", "edits"});

// The byte a side file's writer holds locked.
inline constexpr int64_t kSideFileLockByte = 0;

// "dir/data.kdb.imports" for ("dir/data.kdb", "imports").
inline std::string side_file_path(std::string_view gbk_record_file, std::string_view suffix) {
  return std::string(gbk_record_file) + "." + std::string(suffix);
}

}  // namespace pennacle
