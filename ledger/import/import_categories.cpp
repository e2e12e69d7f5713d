#include "ledger/import/import_categories.h"

#include <optional>

#include "ledger/import/bill_text.h"

namespace pennacle {

const ExportCategoryTexts::Name& ExportCategoryTexts::of(const std::string& utf8) {
  auto [it, fresh] = names_.try_emplace(utf8);
  if (fresh) {
    int dropped = 0;  // characters GBK cannot hold are no part of any rule's text either
    it->second.gbk = utf8_to_gbk_dropping(utf8, &dropped);
    it->second.valid = category_name_problem(it->second.gbk).empty();
  }
  return it->second;
}

ImportCategory export_row_category(const CategoryRules* rules, ExportSource source, const ExportBill* row,
                                   const Bill& bill, ExportCategoryTexts* texts) {
  ImportCategory out;
  int dropped = 0;  // characters GBK cannot hold are no part of any rule's text either
  ExportCategoryTexts own_texts;
  const ExportCategoryTexts::Name* own = row ? &(texts ? *texts : own_texts).of(row->category) : nullptr;
  if (rules) {
    RuleInput in = bill_rule_input(bill);
    std::string peer, item, method, tx_type;
    if (row) {
      in.section = source == ExportSource::Alipay ? RuleSection::Alipay : RuleSection::WeChat;
      peer = utf8_to_gbk_dropping(row->peer, &dropped);
      item = utf8_to_gbk_dropping(row->item, &dropped);
      method = utf8_to_gbk_dropping(row->method, &dropped);
      tx_type = utf8_to_gbk_dropping(row->tx_type, &dropped);
      in.peer = peer;
      in.item = item;
      in.category = own->gbk;
      in.method = method;
      in.tx_type = tx_type;
    }
    RuleMatch m = rules->match(in);
    out.ignore = m.ignore;
    out.name = std::move(m.category);
    out.method_account = std::move(m.method_account);
  }
  // Without a row the category text is empty, which is no name.
  if (out.name.empty() && own && own->valid) out.name = own->gbk;
  return out;
}

Status ImportCategoryWriter::open(FileSystem& fs, const BillTable& table, std::function<LiveBills()> live) {
  fs_ = &fs;
  table_ = table;
  live_ = std::move(live);
  return file_.open(fs, categories_path(table.full_path), true);
}

// The account file's lock comes after the category file's, as every holder of both takes them.
Status ImportCategoryWriter::open_accounts() {
  if (accounts_open_) return Status();
  Status s = accounts_.open(*fs_, method_accounts_path(table_.full_path), true);
  accounts_open_ = s.ok();
  return s;
}

Status ImportCategoryWriter::write(const std::vector<CategoryEntry>& changes,
                                   const std::vector<CategoryEntry>& accounts,
                                   const std::vector<CategoryKey>& added) {
  if (!accounts.empty()) {
    if (Status s = open_accounts(); !s.ok()) return s;
  }
  std::optional<LiveBills> live;
  if (live_) {
    live = live_();
    live_ = nullptr;  // the first write dropped what was gone; later ones only add
    for (const CategoryKey& key : added) (*live)[key.serial] = key;
  }
  if (live || !changes.empty()) {
    if (Status s = file_.update(changes, live ? &*live : nullptr); !s.ok()) return s;
  }
  return accounts.empty() ? Status() : accounts_.update(accounts, live ? &*live : nullptr);
}

Status ImportCategoryWriter::fill_missing(const std::vector<HeldBill>& held) {
  std::vector<CategoryEntry> entries, accounts;
  // The account file is read only when some bill has an account: most imports give none.
  bool any_account = false;
  for (const HeldBill& h : held) any_account = any_account || !h.category.method_account.empty();
  if (any_account) {
    if (Status s = open_accounts(); !s.ok()) return s;
  }
  for (const HeldBill& h : held) {
    const CategoryKey& key = h.key;
    if (!h.category.name.empty() && !file_.find(key)) entries.push_back({key, h.category.name, false});
    const std::string& account = h.category.method_account;
    if (!account.empty() && !accounts_.find(key)) accounts.push_back({key, account, false});
  }
  return entries.empty() && accounts.empty() ? Status() : write(entries, accounts, {});
}

Status ImportCategoryWriter::stored(const std::vector<Bill>& bills,
                                    const std::vector<ImportCategory>& categories,
                                    const std::vector<int32_t>& serials) {
  std::vector<CategoryEntry> entries, accounts;
  std::vector<CategoryKey> added;
  entries.reserve(serials.size());
  for (size_t i = 0; i < serials.size() && i < bills.size() && i < categories.size(); ++i) {
    const CategoryKey key = stored_category_key(table_, serials[i], bills[i]);
    if (live_) added.push_back(key);
    const ImportCategory& c = categories[i];
    if (!c.name.empty()) entries.push_back({key, c.name, c.by_hand});
    if (!c.method_account.empty()) accounts.push_back({key, c.method_account, false});
  }
  return write(entries, accounts, added);
}

}  // namespace pennacle
