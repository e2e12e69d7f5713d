// kdbtool's category commands (categorize, category, categories), and what import and export take
// of categories: the rules file and the 分类 column. Each command takes the arguments after its
// name and returns the exit status (0 on success, 1 with a message on `err`).
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ledger/bill.h"
#include "ledger/categories.h"
#include "ledger/category_rules.h"
#include "ledger/import/bill_csv.h"
#include "ledger/import/import_categories.h"
#include "ledger/method_accounts.h"
#include "platform/status.h"

namespace pennacle {

int kdbtool_categorize(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int kdbtool_category(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int kdbtool_categories(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The rules for the ledger `db_arg`: the file `rules_arg` names (--rules), else rules.yaml beside the
// ledger when there is one, else none. A file that cannot be read or has a mistake is a failure.
Result<std::optional<CategoryRules>> rules_for(const std::string& db_arg, const std::string& rules_arg);

// rules_for's rules, when each methodAccount in them is one the method account file can keep
// (method_account_problem); otherwise Invalid, naming the rules file and the account. For the
// commands that store what the rules give: import and categorize.
Result<std::optional<CategoryRules>> rules_for_bills(const std::string& db_arg, const std::string& rules_arg);

// The categories of our CSV's bills [from, to): a row's 分类 (set by hand), else the rules' (when
// `rules`), else none.
std::vector<ImportCategory> csv_categories(const std::vector<CsvBill>& bills, size_t from, size_t to,
                                           const CategoryRules* rules);

// The 分类 column of `kdbtool export`: the category of each bill of the current database.
class CategoryColumn {
 public:
  // The category file of the current database, when it is a ledger; nullopt when it is some other
  // table. A damaged category file is a failure.
  static Result<std::optional<CategoryColumn>> for_current_database();
  // The category (UTF-8) of the current record, whose serial is `serial` (negative: deleted).
  std::string current_cell(int32_t serial) const;

 private:
  std::shared_ptr<CategoryFile> file_;
};

}  // namespace pennacle
