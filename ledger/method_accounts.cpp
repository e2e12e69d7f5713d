#include "ledger/method_accounts.h"

#include <memory>
#include <vector>

#include "store/side_files.h"

namespace pennacle {

const NamedEntryFileKind& method_account_file_kind() {
  static const std::vector<std::string> kNoNames;
  static const NamedEntryFileKind kKind{kMethodAccountsSuffix, "pennacle method accounts 1\n",
                                        "method accounts", &kNoNames, &method_account_problem};
  return kKind;
}

std::string method_accounts_path(std::string_view gbk_record_file) {
  return side_file_path(gbk_record_file, kMethodAccountsSuffix);
}

std::string method_account_problem(std::string_view gbk_account) {
  std::string why = category_name_problem(gbk_account);
  // The words are a category's; the rule is the same for an account.
  for (size_t at = why.find("a category"); at != std::string::npos; at = why.find("a category", at))
    why.replace(at, 10, "an account");
  return why;
}

Status MethodAccountFile::open_if_there(FileSystem& fs, const std::string& gbk_path, bool* there) {
  std::unique_ptr<File> probe;
  const FileCause found = fs.open(gbk_path, FileAccess::Read, FileShare::DenyNone, &probe);
  if (probe) probe->close();
  *there = found != FileCause::NotFound;
  return *there ? open(fs, gbk_path, true) : Status();
}

}  // namespace pennacle
