// The categories an import gives the bills it adds: the rules' category when a rule matches the
// export's row, else the export's own category (Alipay's 交易分类), else none (未分类). A row a
// matching rule marks `ignore` is not booked. The matching rules' methodAccount, when they give
// one, is kept for the bill in the method account file (ledger/method_accounts.h): the row's
// payment method and 交易分类 that such a rule may match are not kept in the ledger.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ledger/bill.h"
#include "ledger/categories.h"
#include "ledger/category_rules.h"
#include "ledger/import/bill_exports.h"
#include "ledger/method_accounts.h"
#include "platform/file.h"
#include "platform/status.h"

namespace pennacle {

struct ImportCategory {
  std::string name;  // GBK; empty for none
  bool ignore = false;
  bool by_hand = false;        // a person named it (a 分类 cell of our CSV), not a rule
  std::string method_account;  // GBK: the matching rules' methodAccount; empty for none
};

// The export's own category texts (Alipay's 交易分类) as GBK names, each distinct text converted
// once: an export repeats a few of them over all its rows.
class ExportCategoryTexts {
 public:
  struct Name {
    std::string gbk;     // the text in GBK, characters GBK cannot hold dropped
    bool valid = false;  // it can be a category's name
  };
  const Name& of(const std::string& utf8);

 private:
  std::unordered_map<std::string, Name> names_;
};

// The category of `bill`, made from `row` of a `source` export (nullptr: a refund the import log
// remembered, met as a stored bill is). `rules` may be nullptr; so may `texts`, converting the
// row's category text each time.
ImportCategory export_row_category(const CategoryRules* rules, ExportSource source, const ExportBill* row,
                                   const Bill& bill, ExportCategoryTexts* texts = nullptr);

// Writes the categories and method accounts of the bills an import stores, group by group, each
// group's on the disk before the next group is stored.
class ImportCategoryWriter {
 public:
  // Opens the category file beside the ledger of `table` for writing (its lock is held until this
  // object goes); the method account file is opened (and locked) at the first account to write, so
  // an import without one never makes it. `live` gives the ledger's live bills before the import,
  // asked for at the first write, which drops the entries of bills that are gone (none are dropped
  // without it) from the category file and, when it writes then too, the method account file.
  Status open(FileSystem& fs, const BillTable& table, std::function<LiveBills()> live);
  // A bill the ledger held already: its record's key (the amount as stored) and the category its
  // row gives.
  struct HeldBill {
    CategoryKey key;
    ImportCategory category;
  };
  // Those of `held` without an entry take their category, and those without a method account entry
  // their account (a bill an import cut short stored before they were written).
  Status fill_missing(const std::vector<HeldBill>& held);
  // After a group is stored: bills[i] got serials[i] and takes categories[i] (an empty name: none)
  // with its method account.
  Status stored(const std::vector<Bill>& bills, const std::vector<ImportCategory>& categories,
                const std::vector<int32_t>& serials);

 private:
  // Opens the method account file for writing, once.
  Status open_accounts();

  // The changes, with the first write's dropping of gone bills; `added`: bills stored since `live_`
  // was read, which are not gone.
  Status write(const std::vector<CategoryEntry>& changes, const std::vector<CategoryEntry>& accounts,
               const std::vector<CategoryKey>& added);

  FileSystem* fs_ = nullptr;
  CategoryFile file_;
  MethodAccountFile accounts_;
  bool accounts_open_ = false;
  BillTable table_;
  std::function<LiveBills()> live_;  // empty once the first write is done, or when none was given
};

}  // namespace pennacle
