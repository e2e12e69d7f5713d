#include "books/book.h"

#include <algorithm>
#include <tuple>

#include "ledger/categories.h"
#include "platform/file.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

constexpr int32_t kProgressEvery = 8192;

Status walk_bills(const CategoryFile& categories, const LoadProgress& progress, BookRows* rows) {
  const int32_t count = call_command(db_record_count, {}).int_payload();
  if (DbCode rc = db_last_error(); rc != DbCode::Ok) return store_status(rc);
  rows->reserve(static_cast<size_t>(std::max(count, 0)));
  call_command(db_go_first, {});
  Bill bill;
  for (int32_t k = 1; k <= count; ++k, std::ignore = db_skip_within(count)) {
    if (progress && k % kProgressEvery == 0) progress(k, count);
    const std::optional<BillField> bad = read_current_live_bill(&bill);
    if (DbCode rc = db_last_error(); rc != DbCode::Ok) return store_status(rc);
    if (bill.serial <= 0) continue;  // a deleted record
    if (bad) {
      return Status::invalid("record " + std::to_string(k) + ": " + gbk_to_utf8_lossy(bill_field_name(*bad)) +
                             " holds a value a bill cannot have");
    }
    const CategoryEntry* e = categories.find(category_key(bill.serial, bill));
    rows->add(bill, e ? std::string_view(e->name) : uncategorized(), e && e->by_hand);
  }
  if (progress) progress(count, count);
  rows->finish();
  return Status();
}

}  // namespace

Result<std::shared_ptr<const Book>> load_book(const std::string& ledger_utf8, const LoadProgress& progress) {
  if (Status opened = open_record_file(ledger_utf8, true); !opened.ok()) return opened;
  auto book = std::make_shared<Book>();
  Status s;
  if (Result<BillTable> table = current_bill_table(); table.ok()) {
    book->table = *table;
    CategoryFile categories;
    s = categories.open(posix_file_system(), categories_path(table->full_path), false);
    if (s.ok()) s = walk_bills(categories, progress, &book->rows);
    book->category_names = categories.names();
  } else {
    s = table.status();
  }
  call_command(db_close, {});
  if (!s.ok()) return s.with_context(ledger_utf8);
  return std::shared_ptr<const Book>(std::move(book));
}

}  // namespace pennacle
