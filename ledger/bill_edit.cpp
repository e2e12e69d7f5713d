#include "ledger/bill_edit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

#include "ledger/categories.h"
#include "ledger/method_accounts.h"
#include "platform/file.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

// Serials rise along the file (appends number them in turn; purges and edits keep order), so the
// bill is searched for by halves: the signed serial of its record, or 0 when there is none.
Result<int32_t> find_serial_by_halves(int32_t serial, int32_t count) {
  int32_t lo = 1, hi = count;
  while (lo <= hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    call_command(db_go_to, {Value::of_int(mid)});
    int32_t at = 0;
    if (DbCode rc = db_current_serial(&at); rc != DbCode::Ok) return store_status(rc);
    if (std::abs(at) == serial) return at;
    if (std::abs(at) < serial) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  return 0;
}

// A file whose serials do not rise (written by another program) is walked record by record.
Result<int32_t> find_serial_walking(int32_t serial, int32_t count) {
  call_command(db_go_first, {});
  for (int32_t k = 0; k < count; ++k) {
    int32_t at = 0;
    if (DbCode rc = db_current_serial(&at); rc != DbCode::Ok) return store_status(rc);
    if (std::abs(at) == serial) return at;
    std::ignore = db_skip_within(count);  // a failed step fails the next read
  }
  return 0;
}

std::string field_text(BillField f) { return gbk_to_utf8_lossy(bill_field_name(f)); }

// A text that must fit its field whole: a text field's width, or the remark limit.
Status fits(const BillTable& table, BillField f, const std::string& value, size_t limit) {
  if (value.size() <= limit) return Status();
  const char* what = table.field(f).type == FieldType::Text ? " field" : " limit";
  return Status::invalid(field_text(f) + " is " + std::to_string(value.size()) + " bytes, longer than its " +
                         std::to_string(limit) + "-byte" + what + "; it would be cut");
}

// The values db_edit takes: the changed parts of `b`, every other field omitted.
std::vector<Value> edit_values(const Bill& b, const BillChange& c, std::array<Text, 3>* texts) {
  const BillRow row = bill_row(b, 0, texts);
  std::vector<Value> v(row.begin(), row.end());
  auto keep = [&](BillField f, bool changed) {
    if (!changed) v[static_cast<size_t>(f) - 1] = Value{};
  };
  keep(BillField::Number, false);
  keep(BillField::Type, c.type.has_value());
  keep(BillField::Amount, c.amount.has_value());
  keep(BillField::Channel, c.channel.has_value());
  keep(BillField::Time, c.time.has_value());
  keep(BillField::Remark, c.remark.has_value());
  return v;
}

// The current record as a bill (its serial given), or what kept it from being read.
Result<Bill> read_bill(int32_t serial) {
  Bill b;
  if (std::optional<BillField> bad = read_current_bill(&b); bad) {
    return Status::invalid("bill " + std::to_string(serial) + ": its " + field_text(*bad) +
                           " is not of a kind a bill takes");
  }
  if (DbCode rc = db_last_error(); rc != DbCode::Ok) return store_status(rc);
  b.serial = serial;
  return b;
}

}  // namespace

Status go_to_bill(int32_t serial) {
  const int32_t count = call_command(db_record_count, {}).int_payload();
  if (DbCode rc = db_last_error(); rc != DbCode::Ok) return store_status(rc);
  Result<int32_t> at = serial > 0 ? find_serial_by_halves(serial, count) : Result<int32_t>(0);
  if (at.ok() && *at == 0 && serial > 0) at = find_serial_walking(serial, count);
  if (!at.ok()) return at.status();
  if (*at == 0) return Status::not_found("no bill has the serial " + std::to_string(serial));
  if (*at < 0) return Status::not_found("bill " + std::to_string(serial) + " is deleted");
  return Status();
}

Result<Bill> changed_bill(const BillTable& table, const Bill& bill, const BillChange& c) {
  Bill b = bill;
  if (c.type) b.type = *c.type;
  if (c.amount) b.amount = *c.amount;
  if (c.channel) b.channel = *c.channel;
  if (c.time) b.time = *c.time;
  if (c.remark) b.remark = *c.remark;
  if (b.type.empty()) return Status::invalid(field_text(BillField::Type) + " is empty");
  if (b.channel.empty()) return Status::invalid(field_text(BillField::Channel) + " is empty");
  if (!bill_valid(b))
    return Status::invalid(field_text(BillField::Amount) + " is not a number above 0.0000001");
  if (!std::isfinite(b.time)) return Status::invalid(field_text(BillField::Time) + " is not a date-time");
  for (BillField f : {BillField::Type, BillField::Channel}) {
    const FieldDescriptor& d = table.field(f);
    if (d.type != FieldType::Text) continue;
    if (Status s = fits(table, f, f == BillField::Type ? b.type : b.channel, static_cast<size_t>(d.width));
        !s.ok())
      return s;
  }
  if (Status s = fits(table, BillField::Remark, b.remark, table.remark_limit); !s.ok()) return s;
  b.amount = stored_amount(table, b.amount);
  return b;
}

namespace {

Result<BillEdit> edit_found(const BillTable& table, int32_t serial, const BillChange& change) {
  // A purge in another program may move the bill between the search and the edit: one more search.
  for (int attempt = 0;; ++attempt) {
    if (Status s = go_to_bill(serial); !s.ok()) return s;
    Result<Bill> before = read_bill(serial);
    if (!before.ok()) return before.status();
    Result<Bill> after = changed_bill(table, *before, change);
    if (!after.ok()) return after.status().with_context("bill " + std::to_string(serial));
    std::array<Text, 3> texts;
    const DbCode rc = db_edit(serial, edit_values(*after, change, &texts));
    if (rc == DbCode::NoSuchRecord && attempt == 0) continue;
    if (rc != DbCode::Ok) return store_status(rc);
    Result<Bill> now = read_bill(serial);
    if (!now.ok()) return now.status();
    return BillEdit{std::move(*before), std::move(*now), Status(), Status()};
  }
}

}  // namespace

Result<BillEdit> edit_bill(int32_t serial, const BillChange& change) {
  Result<BillTable> table = current_bill_table();
  if (!table.ok()) return table.status();
  // The category file's and method account file's entries are keyed by these: they move with them.
  CategoryFile categories;
  MethodAccountFile accounts;
  bool accounts_there = false;
  const bool rekeyed = change.time || change.amount || change.type;
  if (rekeyed) {
    Status s = categories.open(posix_file_system(), categories_path(table->full_path), true);
    if (s.ok())
      s = accounts.open_if_there(posix_file_system(), method_accounts_path(table->full_path),
                                 &accounts_there);
    if (!s.ok()) return s.with_context("bill " + std::to_string(serial) + " is unchanged");
  }
  Result<BillEdit> e = edit_found(*table, serial, change);
  if (e.ok() && rekeyed) {
    const CategoryKey from = category_key(serial, e->before), to = category_key(serial, e->after);
    e->category = categories.rekey(from, to);
    if (accounts_there) e->method_account = accounts.rekey(from, to);
  }
  if (e.ok() || e.status().code() != StatusCode::Store) return e;
  // The search, the read and the edit all meet the record's lock: a holder is named once for all.
  const bool held = e.status().store_code() == code_number(DbCode::LockFile);
  return e.status().with_context("bill " + std::to_string(serial) + " is unchanged" +
                                 (held ? ": another program is using it" : ""));
}

}  // namespace pennacle
