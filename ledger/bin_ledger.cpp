#include "ledger/bin_ledger.h"

#include <algorithm>
#include <climits>
#include <tuple>
#include <vector>

#include "ledger/categories.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

// The current record's bill, or the failure that kept it from being read.
Status read_bill(Bill* out) {
  if (const std::optional<BillField> wrong = read_current_bill(out)) {
    if (DbCode rc = db_last_error(); rc != DbCode::Ok) return store_status(rc);
    return Status::invalid("the record is not a bill: its field " +
                           gbk_to_utf8_lossy(bill_field_name(*wrong)) + " holds a value of another kind");
  }
  return store_status(db_last_error());
}

}  // namespace

bool same_bill_values(const Bill& a, const Bill& b) {
  return a.type == b.type && a.amount == b.amount && a.channel == b.channel && a.time == b.time &&
         a.remark == b.remark;
}

Status delete_current_bill(FileSystem& fs, double now) { return delete_current_bill(fs, now, 0, nullptr); }

Status delete_current_bill(FileSystem& fs, double now, int32_t serial, BinEntry* deleted) {
  Result<BillTable> table = current_bill_table();
  if (!table.ok()) return table.status();
  // The bin's lock before any lock of the record file.
  RecycleBin bin;
  if (Status s = bin.open(fs, table->full_path, true); !s.ok())
    return s.with_context("the bill was not deleted");
  Bill bill;
  if (DbCode rc = db_current_serial(&bill.serial); rc != DbCode::Ok) return store_status(rc);
  if (bill.serial <= 0) return Status::invalid("the record is deleted already");
  if (serial != 0 && bill.serial != serial)
    return Status::not_found("bill " + std::to_string(serial) + " moved; it was not deleted");
  if (Status s = read_bill(&bill); !s.ok()) return s;
  BinEntry entry{0, now, bill, {}, false};
  // The category goes into the bin with the bill; an unreadable category file keeps no bill here.
  CategoryFile categories;
  if (Status s = categories.open(fs, categories_path(table->full_path), false); !s.ok())
    return s.with_context("the bill was not deleted");
  if (const CategoryEntry* c = categories.find(category_key(bill.serial, bill))) {
    entry.category = c->name;
    entry.category_by_hand = c->by_hand;
  }
  int64_t id = 0;
  if (deleted) *deleted = entry;
  if (Status s = bin.put(std::move(entry), &id); !s.ok()) return s.with_context("the bill was not deleted");
  if (deleted) deleted->id = id;
  call_command(db_delete, {});
  if (DbCode rc = db_last_error(); rc != DbCode::Ok) {
    // The bill stays in the ledger; its entry leaves the bin so it is not listed as deleted. When
    // even that fails, an undelete finds the record live and appends nothing.
    std::ignore = bin.leave(id, bill.serial);
    return store_status(rc);
  }
  // A record marked deleted is in no list and no sum; a purge that fails leaves it for the next one.
  call_command(db_purge, {});
  // A trim that fails leaves a bin that keeps more than it must; the next delete tries again.
  if (bin.trim_due(now)) std::ignore = bin.trim(now);
  return Status();
}

Result<BinInLedger> look_up_bin(const RecycleBin& bin) {
  const std::vector<BinEntry> bills = bin.bills();
  std::map<int32_t, std::vector<const BinEntry*>> by_serial;
  for (const BinEntry& e : bills) by_serial[e.bill.serial].push_back(&e);
  int32_t lowest_intent = INT32_MAX;
  for (const auto& [id, highest] : bin.open_undeletes()) lowest_intent = std::min(lowest_intent, highest);
  BinInLedger out;
  std::vector<std::pair<int32_t, Bill>> above;  // live records above the lowest intent, by serial
  const int32_t count = call_command(db_record_count, {}).int_payload();
  DbCode rc = db_last_error();
  call_command(db_go_first, {});
  for (int32_t k = 0; k < count && rc == DbCode::Ok; ++k, std::ignore = db_skip_within(count)) {
    int32_t serial = 0;
    if ((rc = db_current_serial(&serial)) != DbCode::Ok) break;
    out.highest_serial = std::max(out.highest_serial, serial < 0 ? -serial : serial);
    const auto same_serial = by_serial.find(serial);
    if (serial <= 0 || (serial <= lowest_intent && same_serial == by_serial.end())) continue;
    Bill b;
    if (Status s = read_bill(&b); !s.ok()) {
      if (s.code() == StatusCode::Store) return s;
      continue;  // a record that is no bill is no bin entry's
    }
    if (same_serial != by_serial.end()) {
      for (const BinEntry* e : same_serial->second) {
        if (same_bill_values(e->bill, b)) out.still_live.insert(e->id);
      }
    }
    if (serial > lowest_intent) above.emplace_back(serial, std::move(b));
  }
  if (rc != DbCode::Ok) return store_status(rc);
  std::set<int32_t> claimed;
  for (const auto& [id, highest] : bin.open_undeletes()) {
    const auto e =
        std::find_if(bills.begin(), bills.end(), [id = id](const BinEntry& b) { return b.id == id; });
    if (e == bills.end()) continue;
    for (const auto& [serial, b] : above) {
      if (serial > highest && !claimed.count(serial) && same_bill_values(e->bill, b)) {
        claimed.insert(serial);
        out.undeleted[id] = serial;
        break;
      }
    }
  }
  return out;
}

Result<std::vector<BinEntry>> bin_bills_of(const std::string& db_arg, FileSystem* fs) {
  const std::optional<std::string> gbk = utf8_to_gbk(db_arg);
  if (!gbk) return Status::invalid(db_arg + ": the path has characters GBK cannot hold");
  RecycleBin bin;
  if (Status s = bin.open(fs ? *fs : posix_file_system(), *gbk, false); !s.ok()) return s;
  if (Status s = open_record_file(db_arg, true); !s.ok()) return s;
  Result<BinInLedger> in_ledger = look_up_bin(bin);
  call_command(db_close, {});
  if (!in_ledger.ok()) return in_ledger.status().with_context(db_arg);
  std::vector<BinEntry> out;
  for (BinEntry& e : bin.bills()) {
    if (!in_ledger->undeleted.count(e.id) && !in_ledger->still_live.count(e.id)) out.push_back(std::move(e));
  }
  std::reverse(out.begin(), out.end());  // the same deletion time: the later entry first
  std::stable_sort(out.begin(), out.end(),
                   [](const BinEntry& a, const BinEntry& b) { return a.deleted_at > b.deleted_at; });
  return out;
}

}  // namespace pennacle
