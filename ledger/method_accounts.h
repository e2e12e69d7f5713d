// The accounts a rule's methodAccount gave the ledger's bills, for a journal export: a file beside
// the ledger ("data.kdb.accounts"), since neither the bill table nor the category file has room for
// one, and an imported bill does not keep what such a rule matched (the export's payment method,
// 交易分类, 交易类型): the account is kept when the rule matches, at the import or at a
// categorize.
//
// The file is the category file's format and machinery (ledger/categories.h) under its own header
// ("pennacle method accounts 1") and with no starting names: entries keyed by the bill's serial and
// checked against its time, amount and side, checksummed lines, marks telling damage from a torn
// end, synced writes, rewrite and rename when entries are dropped, the side files' lock byte. An
// entry's name is the account (GBK, as the rules give it); it is never set by hand.
#pragma once

#include <string>
#include <string_view>

#include "ledger/categories.h"

namespace pennacle {

// The side file's suffix (store/side_files.h lists it).
inline constexpr std::string_view kMethodAccountsSuffix = "accounts";

// "data.kdb.accounts": header "pennacle method accounts 1", no starting names.
const NamedEntryFileKind& method_account_file_kind();

// "data.kdb.accounts" beside `gbk_record_file`.
std::string method_accounts_path(std::string_view gbk_record_file);

// Why `gbk_account` cannot be kept in the file, in words (UTF-8), or "" when it can: the rules of a
// category's name (category_name_problem) apply to it.
std::string method_account_problem(std::string_view gbk_account);

class MethodAccountFile : public CategoryFile {
 public:
  MethodAccountFile() : CategoryFile(method_account_file_kind()) {}

  // For a change that only moves entries (an edit, an undelete): opens the file at `gbk_path` for
  // writing when there is one, and tells whether there was (*there). No file holds no entry to
  // move, and none is made.
  Status open_if_there(FileSystem& fs, const std::string& gbk_path, bool* there);
};

}  // namespace pennacle
