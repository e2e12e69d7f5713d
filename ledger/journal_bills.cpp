#include "ledger/journal_bills.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <tuple>

#include "ledger/categories.h"
#include "ledger/method_accounts.h"
#include "platform/file.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "store/record_store.h"
#include "store/side_files.h"

namespace pennacle {
namespace {

// Calls `take` with each live bill of the current database whose time lies in `range`, in record
// order, read into `b` (one Bill for the walk: its strings keep their room from bill to bill; `take`
// may change them).
template <typename Take>
Status for_each_ledger_bill(const DateRange& range, Bill* b, Take take) {
  const int32_t count = call_command(db_record_count, {}).int_payload();
  if (DbCode rc = db_last_error(); rc != DbCode::Ok) return store_status(rc);
  call_command(db_go_first, {});
  for (int32_t k = 1; k <= count; ++k, std::ignore = db_skip_within(count)) {
    const std::optional<BillField> bad = read_current_live_bill(b);
    if (DbCode rc = db_last_error(); rc != DbCode::Ok) return store_status(rc);
    if (b->serial <= 0) continue;  // a deleted record
    if (bad) {
      return Status::invalid("record " + std::to_string(k) + ": " + gbk_to_utf8_lossy(bill_field_name(*bad)) +
                             " holds a value a bill cannot have");
    }
    if (range.contains(b->time)) take(*b);
  }
  return Status();
}

// The current ledger's file of `kind` beside it, read (never made).
Result<std::shared_ptr<const CategoryFile>> ledger_category_file(
    const NamedEntryFileKind& kind = category_file_kind()) {
  Result<BillTable> table = current_bill_table();
  if (!table.ok()) return table.status();
  auto file = std::make_shared<CategoryFile>(kind);
  if (Status s = file->open(posix_file_system(), side_file_path(table->full_path, kind.suffix), false);
      !s.ok())
    return s;
  return std::shared_ptr<const CategoryFile>(std::move(file));
}

// A file's entries looked up in the order of a walk: serials mostly rise along it, so a cursor
// that moves forward meets each bill's entry in a step or two, where a search of all entries would
// miss the cache at each of its steps. A serial behind the cursor is searched for.
class EntryCursor {
 public:
  explicit EntryCursor(const Result<std::shared_ptr<const CategoryFile>>& file)
      : entries_(file.ok() && *file && !(*file)->entries().empty() ? &(*file)->entries() : nullptr) {
    if (entries_) at_ = entries_->begin();
  }

  // The entry of the bill `key` (nullptr when there is none, or it holds another bill's values).
  const CategoryEntry* find(const CategoryKey& key) {
    if (!entries_) return nullptr;
    if (at_ != entries_->begin() && std::prev(at_)->first >= key.serial) {
      at_ = entries_->lower_bound(key.serial);
    } else {
      while (at_ != entries_->end() && at_->first < key.serial) ++at_;
    }
    return at_ != entries_->end() && at_->second.key == key ? &at_->second : nullptr;
  }

 private:
  const CategoryEntries* entries_;
  CategoryEntries::Iterator at_;
};

}  // namespace

Result<std::vector<JournalBill>> read_ledger_bills(const DateRange& range) {
  const int32_t count = call_command(db_record_count, {}).int_payload();
  std::vector<JournalBill> bills;
  bills.reserve(static_cast<size_t>(std::max(count, 0)));
  Bill b;
  Status s = for_each_ledger_bill(range, &b, [&bills](const Bill& bill) {
    bills.push_back({bill, std::string(uncategorized()), "", ""});
  });
  if (!s.ok()) return s;
  return bills;
}

void fill_categories(std::vector<JournalBill>* bills, const CategoryLookup& lookup) {
  for (JournalBill& b : *bills) {
    if (std::optional<std::string> c = lookup(b.bill); c && !c->empty()) b.category = std::move(*c);
  }
}

Result<CategoryLookup> ledger_categories() {
  Result<std::shared_ptr<const CategoryFile>> file = ledger_category_file();
  if (!file.ok()) return file.status();
  return CategoryLookup([file = *file](const Bill& b) -> std::optional<std::string> {
    const CategoryEntry* e = file->find(category_key(b.serial, b));
    return e ? std::optional<std::string>(e->name) : std::nullopt;
  });
}

const std::string& JournalRows::NameTable::paired_key(std::string_view name, std::string_view account) {
  // No account holds a zero byte (it is a name of the method account file): the key is one pair's.
  key.assign(account);
  key += '\0';
  key += name;
  return key;
}

uint32_t JournalRows::NameTable::of(std::string_view name, std::string_view account) {
  // A ledger has a few channels and categories: comparing them costs less than hashing.
  constexpr size_t kCompared = 8;
  if (names.size() <= kCompared) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name && accounts[i] == account) return static_cast<uint32_t>(i);
    }
  } else if (account.empty()) {
    if (auto it = index.find(name); it != index.end()) return it->second;
  } else if (auto it = paired.find(paired_key(name, account)); it != paired.end()) {
    return it->second;
  }
  const auto id = static_cast<uint32_t>(names.size());
  names.emplace_back(name);
  accounts.emplace_back(account);
  if (account.empty()) {
    index.emplace(names.back(), id);
  } else {
    paired.emplace(paired_key(name, account), id);
  }
  return id;
}

void JournalRows::add(const Bill& bill, std::string_view category, std::string_view counterpart,
                      std::string_view goods, std::string_view method_account) {
  Row r;
  r.time = bill.time;
  r.amount = bill.amount;
  r.serial = bill.serial;
  r.expense = bill.is_expense();
  r.channel = channels_.of(bill.channel, method_account);
  r.category = categories_.of(category);
  r.text = texts_.size();
  r.remark_size = static_cast<uint32_t>(bill.remark.size());
  texts_ += bill.remark;
  if (!counterpart.empty() || !goods.empty()) {
    r.described = 1;
    for (size_t size : {counterpart.size(), goods.size()}) {
      const auto n = static_cast<uint32_t>(size);
      texts_.append(reinterpret_cast<const char*>(&n), kSizeBytes);
    }
    texts_ += counterpart;
    texts_ += goods;
  }
  rows_.push_back(r);
}

uint32_t JournalRows::size_at(size_t at) const {
  uint32_t n = 0;
  std::memcpy(&n, texts_.data() + at, kSizeBytes);
  return n;
}

JournalRows journal_rows(const std::vector<JournalBill>& bills) {
  JournalRows rows;
  for (const JournalBill& b : bills) rows.add(b.bill, b.category, b.counterpart, b.goods, b.method_account);
  return rows;
}

namespace {

// read_journal_rows, or with `journal` false read_report_rows.
Result<JournalRows> read_rows(const DateRange& range, bool journal) {
  // The files are read first, their failures told after the walk's.
  Result<std::shared_ptr<const CategoryFile>> file = ledger_category_file();
  Result<std::shared_ptr<const CategoryFile>> accounts =
      journal ? ledger_category_file(method_account_file_kind()) : std::shared_ptr<const CategoryFile>();
  EntryCursor categories(file), method_accounts(accounts);
  JournalRows rows;
  rows.reserve(static_cast<size_t>(std::max(call_command(db_record_count, {}).int_payload(), 0)));
  Bill b;
  Status walked = for_each_ledger_bill(range, &b, [&](Bill& bill) {
    const CategoryKey key = category_key(bill.serial, bill);
    const CategoryEntry* e = categories.find(key);
    const CategoryEntry* a = method_accounts.find(key);
    if (!journal) bill.remark.clear();
    rows.add(bill, e && !e->name.empty() ? std::string_view(e->name) : uncategorized(), {}, {},
             a ? std::string_view(a->name) : std::string_view());
  });
  if (!walked.ok()) return walked;
  if (!file.ok()) return file.status();
  if (!accounts.ok()) return accounts.status();
  return rows;
}

}  // namespace

Result<JournalRows> read_journal_rows(const DateRange& range) { return read_rows(range, true); }

Result<JournalRows> read_report_rows(const DateRange& range) { return read_rows(range, false); }

}  // namespace pennacle
