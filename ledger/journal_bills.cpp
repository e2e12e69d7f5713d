#include "ledger/journal_bills.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>

#include "ledger/categories.h"
#include "platform/file.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

// Calls `take` with each live bill of the current database whose time lies in `range`, in record
// order, read into `b` (one Bill for the walk: its strings keep their room from bill to bill).
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

Result<std::shared_ptr<const CategoryFile>> ledger_category_file() {
  Result<BillTable> table = current_bill_table();
  if (!table.ok()) return table.status();
  auto file = std::make_shared<CategoryFile>();
  if (Status s = file->open(posix_file_system(), categories_path(table->full_path), false); !s.ok()) return s;
  return std::shared_ptr<const CategoryFile>(std::move(file));
}

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

uint32_t JournalRows::NameTable::of(std::string_view name) {
  // A ledger has a few channels and categories: comparing them costs less than hashing.
  constexpr size_t kCompared = 8;
  if (names.size() <= kCompared) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name) return static_cast<uint32_t>(i);
    }
  } else if (auto it = index.find(name); it != index.end()) {
    return it->second;
  }
  const auto id = static_cast<uint32_t>(names.size());
  names.emplace_back(name);
  index.emplace(names.back(), id);
  return id;
}

void JournalRows::add(const Bill& bill, std::string_view category, std::string_view counterpart,
                      std::string_view goods) {
  Row r;
  r.time = bill.time;
  r.amount = bill.amount;
  r.serial = bill.serial;
  r.expense = bill.is_expense();
  r.channel = channels_.of(bill.channel);
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
  for (const JournalBill& b : bills) rows.add(b.bill, b.category, b.counterpart, b.goods);
  return rows;
}

Result<JournalRows> read_journal_rows(const DateRange& range) {
  // The file is read first, its failure told after the walk's.
  Result<std::shared_ptr<const CategoryFile>> file = ledger_category_file();
  JournalRows rows;
  rows.reserve(static_cast<size_t>(std::max(call_command(db_record_count, {}).int_payload(), 0)));
  Bill b;
  Status walked = for_each_ledger_bill(range, &b, [&rows, &file](const Bill& bill) {
    const CategoryEntry* e = file.ok() ? (*file)->find(category_key(bill.serial, bill)) : nullptr;
    rows.add(bill, e && !e->name.empty() ? std::string_view(e->name) : uncategorized());
  });
  if (!walked.ok()) return walked;
  if (!file.ok()) return file.status();
  return rows;
}

}  // namespace pennacle
