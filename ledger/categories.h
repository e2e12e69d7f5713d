// The categories of a ledger's bills: a file beside the ledger ("data.kdb.categories"), since the
// bill table has no field for one. It names the categories the ledger knows (a new ledger starts
// with a short set that covers daily life) and maps bills to categories.
//
// An entry is keyed by the bill's record serial and checked against the bill's time, amount and
// side, as the import log checks its entries: after a restore hands a serial to another bill, the
// entry is not that bill's. A bill without an entry (or with one of another bill) is 未分类.
// Entries of bills the ledger no longer holds are dropped at the next update that is given the
// ledger's live bills.
//
// A category is a GBK text of parts separated by colons, a hierarchy: 餐饮, 餐饮:午餐,
// Expenses:Food:Lunch. An entry set by a person (by_hand) is never overwritten by rules.
//
// Format and durability, as the import log: a header line, then lines of tab-separated fields, each
// ending with an FNV-1a checksum of what precedes it. A name line (N) adds a known name, an entry
// line (E) sets a bill's category, a drop line (D) removes a serial's entry; later lines win. Every
// write is synced before it returns, and each write begins with a mark line (S) naming the length
// that was on the disk before it: a bad line below a mark is damage, refused loudly; a bad line at or
// after the last mark is a torn end of a write cut short, dropped and written over. An update that
// drops entries (or finds the file mostly superseded lines) writes the file anew under a temporary
// name, syncs it, renames it into place and syncs the folder: after a cut, the old file or the new.
//
// A writer holds the side files' lock byte (store/side_files.h) for its whole change, taken before
// any lock of the record file.
//
// The same format and machinery keep the rules' method accounts (ledger/method_accounts.h): a
// NamedEntryFileKind gives each file its header, its word in messages and its starting names.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ledger/bill.h"
#include "ledger/category_entries.h"
#include "platform/file.h"
#include "platform/status.h"

namespace pennacle {

CategoryKey category_key(int32_t serial, const Bill& bill);
// The key of `bill` once `table` stores it as record `serial`: its amount as the table keeps it.
CategoryKey stored_category_key(const BillTable& table, int32_t serial, const Bill& bill);

// The ledger's live bills by serial, for dropping the entries of bills that are gone.
using LiveBills = std::unordered_map<int32_t, CategoryKey>;

// "未分类" (GBK): the category of a bill without an entry.
std::string_view uncategorized();
// The names a new ledger starts with (GBK), in the order they are listed.
const std::vector<std::string>& starting_categories();
// Why `gbk_name` cannot be a category, in words (UTF-8), or "" when it can: it must be GBK text of at
// most kMaxCategoryBytes without control characters, its colon-separated parts not empty.
inline constexpr size_t kMaxCategoryBytes = 120;
std::string category_name_problem(std::string_view gbk_name);

// "data.kdb.categories" beside `gbk_record_file`.
std::string categories_path(std::string_view gbk_record_file);

// What tells one file of the category file's format from another of it: the first line, the word
// for it in messages (UTF-8) and the names a new file starts with. Two kinds never read each
// other's file: the header differs.
struct NamedEntryFileKind {
  std::string_view suffix;  // of the side file beside the record file (store/side_files.h)
  std::string_view header;  // the first line, with its line break
  std::string_view noun;    // "categories": "not a categories file", "cannot open the categories"
  const std::vector<std::string>* starting_names;  // never nullptr
  // Why a text cannot be a name of the file, in words (UTF-8), or "": category_name_problem's rule.
  std::string (*name_problem)(std::string_view gbk_name);
};
// "data.kdb.categories": header "pennacle categories 1", starting with starting_categories().
const NamedEntryFileKind& category_file_kind();

class CategoryFile {
 public:
  explicit CategoryFile(const NamedEntryFileKind& kind = category_file_kind()) : kind_(&kind) {}
  CategoryFile(const CategoryFile&) = delete;
  CategoryFile& operator=(const CategoryFile&) = delete;
  ~CategoryFile();

  const NamedEntryFileKind& kind() const { return *kind_; }

  // Reads the file at `gbk_path`. A missing file reads as the starting names without entries; it is
  // made (synced, with its folder) only `for_write`, which also takes the lock byte, waiting up to
  // 2 s for another writer or a backup. Corrupt, naming the line, when damaged below its last mark.
  Status open(FileSystem& fs, const std::string& gbk_path, bool for_write);

  // The known names: the starting set and every name added since, in the order they came.
  const std::vector<std::string>& names() const { return names_; }
  const CategoryEntries& entries() const { return entries_; }
  // The entry of the bill `key`: nullptr when there is none or it holds another bill's values.
  const CategoryEntry* find(const CategoryKey& key) const;
  // Bytes of a torn end the next write cuts off.
  uint64_t torn_bytes() const { return size_ - sound_end_; }

  // Sets each change's entry (a name not known yet becomes known). With `live`, entries of bills
  // not among them (or holding other values) are dropped, and the file is written anew when any
  // is. Only after open for_write (asserted); on the disk when it returns.
  Status update(const std::vector<CategoryEntry>& changes, const LiveBills* live);

  // A bill's entry follows the bill when its key changes: an edit changes its time, amount or side
  // (same serial), an undelete gives it a new serial. Moves the entry of `from` (when there is one
  // holding from's values) to `to`, keeping its name and by_hand. Nothing to move is success.
  Status rekey(const CategoryKey& from, const CategoryKey& to);

  // Removes the entry of `serial` (a drop line), so the bill is 未分类 again. No entry is success.
  Status drop(int32_t serial);

 private:
  Status read_all();
  Status parse(std::string_view bytes);
  Status append(const std::string& lines);
  Status rewrite();
  Status lock_current();
  Status fail(FileCause cause, std::string_view what) const;

  const NamedEntryFileKind* kind_;
  FileSystem* fs_ = nullptr;
  std::string path_;
  std::unique_ptr<File> file_;
  std::vector<std::string> names_;
  CategoryEntries entries_;
  size_t lines_ = 0;  // entry, name and drop lines read or written: what a rewrite would shrink
  uint64_t size_ = 0, sound_end_ = 0;
  uint64_t durable_ = 0;        // the length known to be on the disk
  bool durable_known_ = false;  // durable_ holds since this writer synced the file
  uint64_t marked_ = 0;         // the greatest length a mark line names
  bool writing_ = false;
  bool directory_synced_ = false;
};

// Lines of the format, exposed for tests of it.
std::string category_entry_line(const CategoryEntry& e);
std::string category_mark_line(uint64_t length);

}  // namespace pennacle
