#include "ledger/bill_changes.h"

#include <climits>
#include <optional>

#include "ledger/bin_ledger.h"
#include "ledger/categories.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

std::string bill_text(int32_t serial) { return "bill " + std::to_string(serial); }

// The store's lock code tells the user another program holds the bill, not that something broke.
Status named(const Status& s, int32_t serial, std::string_view outcome) {
  const bool held = s.code() == StatusCode::Store && s.store_code() == code_number(DbCode::LockFile);
  return s.with_context(bill_text(serial) + " " + std::string(outcome) +
                        (held ? ": another program is using the ledger" : ""));
}

// The live bill with `serial` in the current database, its serial set.
Result<Bill> read_live_bill(int32_t serial) {
  if (Status s = go_to_bill(serial); !s.ok()) return s;
  Bill b;
  if (std::optional<BillField> bad = read_current_bill(&b)) {
    if (DbCode rc = db_last_error(); rc != DbCode::Ok) return store_status(rc);
    return Status::invalid("its " + gbk_to_utf8_lossy(bill_field_name(*bad)) +
                           " holds a value a bill cannot have");
  }
  if (DbCode rc = db_last_error(); rc != DbCode::Ok) return store_status(rc);
  b.serial = serial;
  return b;
}

CategoryState state_of(const CategoryFile& file, const CategoryKey& key) {
  const CategoryEntry* e = file.find(key);
  return e ? CategoryState{true, e->name, e->by_hand} : CategoryState{};
}

Result<std::string> gbk_path(const std::string& ledger_utf8) {
  std::optional<std::string> gbk = utf8_to_gbk(ledger_utf8);
  if (!gbk) return Status::invalid(ledger_utf8 + ": the path has characters GBK cannot hold");
  return *gbk;
}

// The category file (locked for writing when asked, before any lock of the record file), then the
// ledger and the live bill; the ledger is left open as the current database.
Result<Bill> open_bill_and_categories(const std::string& ledger_utf8, int32_t serial, bool for_write,
                                      FileSystem& fs, CategoryFile* file) {
  Result<std::string> gbk = gbk_path(ledger_utf8);
  if (!gbk.ok()) return gbk.status();
  if (Status s = file->open(fs, categories_path(*gbk), for_write); !s.ok()) return s;
  if (Status s = open_record_file(ledger_utf8, !for_write); !s.ok()) return s;
  if (Result<BillTable> t = current_bill_table(); !t.ok()) return t.status();
  return read_live_bill(serial);
}

}  // namespace

const std::vector<std::string>& entry_channels() {
  static const std::vector<std::string> kChannels = {"支付宝", "微信", "股票", "基金", "QQ钱包", "银行卡"};
  return kChannels;
}

size_t bill_text_limit(const BillTable& table, BillField field) {
  if (field == BillField::Remark) return table.remark_limit;
  const FieldDescriptor& d = table.field(field);
  return d.type == FieldType::Text ? static_cast<size_t>(d.width) : SIZE_MAX;
}

bool cut_bill_text(size_t limit, std::string* gbk) {
  if (gbk->size() <= limit) return false;
  gbk->resize(cut_gbk(*gbk, limit).size());
  return true;
}

Result<BillEdit> edit_ledger_bill(const std::string& ledger_utf8, int32_t serial, const BillChange& change) {
  if (Status s = open_record_file(ledger_utf8, false); !s.ok()) return named(s, serial, "is unchanged");
  // edit_bill names the bill and a holder of its record itself.
  Result<BillEdit> e = edit_bill(serial, change);
  call_command(db_close, {});
  return e;
}

Result<BinEntry> delete_ledger_bill(const std::string& ledger_utf8, int32_t serial, double now,
                                    FileSystem* fs) {
  if (Status s = open_record_file(ledger_utf8, false); !s.ok()) return named(s, serial, "was not deleted");
  BinEntry entry;
  Status s = go_to_bill(serial);
  if (s.ok()) s = delete_current_bill(fs ? *fs : posix_file_system(), now, serial, &entry);
  call_command(db_close, {});
  if (!s.ok()) return named(s, serial, "was not deleted");
  return entry;
}

Result<CategoryState> set_ledger_category(const std::string& ledger_utf8, int32_t serial,
                                          const CategoryState& to, FileSystem* fs) {
  if (to.has_entry) {
    if (std::string why = category_name_problem(to.name); !why.empty())
      return Status::invalid(bill_text(serial) + ": '" + gbk_to_utf8_lossy(to.name) + "': " + why);
  }
  CategoryFile file;
  Result<Bill> bill =
      open_bill_and_categories(ledger_utf8, serial, true, fs ? *fs : posix_file_system(), &file);
  CategoryState before;
  Status s = bill.status();
  if (s.ok()) {
    const CategoryKey key = category_key(serial, *bill);
    before = state_of(file, key);
    // An entry of the serial that holds other values is stale: dropping it too leaves no entry.
    if (to.has_entry) {
      s = file.update({{key, to.name, to.by_hand}}, nullptr);
    } else if (file.entries().count(serial)) {
      s = file.drop(serial);
    }
  }
  call_command(db_close, {});
  if (!s.ok()) return named(s, serial, "keeps its category");
  return before;
}

Result<CategoryState> ledger_category(const std::string& ledger_utf8, int32_t serial, FileSystem* fs) {
  CategoryFile file;
  Result<Bill> bill =
      open_bill_and_categories(ledger_utf8, serial, false, fs ? *fs : posix_file_system(), &file);
  call_command(db_close, {});
  if (!bill.ok()) return bill.status().with_context(bill_text(serial));
  return state_of(file, category_key(serial, *bill));
}

}  // namespace pennacle
