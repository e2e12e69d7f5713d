#include "ledger/journal_bills.h"

#include <algorithm>
#include <memory>

#include "ledger/categories.h"
#include "platform/file.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "store/record_store.h"

namespace pennacle {

Result<std::vector<JournalBill>> read_ledger_bills(const DateRange& range) {
  const int32_t count = call_command(db_record_count, {}).int_payload();
  if (DbCode rc = db_last_error(); rc != DbCode::Ok) return store_status(rc);
  std::vector<JournalBill> bills;
  bills.reserve(static_cast<size_t>(std::max(count, 0)));
  call_command(db_go_first, {});
  for (int32_t k = 1; k <= count; ++k, call_command(db_skip, {})) {
    JournalBill b;
    const std::optional<BillField> bad = read_current_live_bill(&b.bill);
    if (DbCode rc = db_last_error(); rc != DbCode::Ok) return store_status(rc);
    if (b.bill.serial <= 0) continue;  // a deleted record
    if (bad) {
      return Status::invalid("record " + std::to_string(k) + ": " + gbk_to_utf8_lossy(bill_field_name(*bad)) +
                             " holds a value a bill cannot have");
    }
    b.category = std::string(uncategorized());
    if (range.contains(b.bill.time)) bills.push_back(std::move(b));
  }
  return bills;
}

void fill_categories(std::vector<JournalBill>* bills, const CategoryLookup& lookup) {
  for (JournalBill& b : *bills) {
    if (std::optional<std::string> c = lookup(b.bill); c && !c->empty()) b.category = std::move(*c);
  }
}

Result<CategoryLookup> ledger_categories() {
  Result<BillTable> table = current_bill_table();
  if (!table.ok()) return table.status();
  auto file = std::make_shared<CategoryFile>();
  if (Status s = file->open(posix_file_system(), categories_path(table->full_path), false); !s.ok()) return s;
  return CategoryLookup([file](const Bill& b) -> std::optional<std::string> {
    const CategoryEntry* e = file->find(category_key(b.serial, b));
    return e ? std::optional<std::string>(e->name) : std::nullopt;
  });
}

}  // namespace pennacle
