// This file is compiled with UTF-8 literals: its messages go to a UTF-8 terminal.
#include "ledger/import/bill_undelete.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "ledger/bill.h"
#include "ledger/bin_ledger.h"
#include "ledger/categories.h"
#include "ledger/import/import_log.h"
#include "ledger/method_accounts.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "store/record_store.h"
#include "store/side_files.h"

namespace pennacle {
namespace {

constexpr std::string_view kLogSuffix = "imports";

// The import record's entries that booked `bill` as `old_serial`, copied for `new_serial`: the
// import then finds the bill under its new serial instead of booking it again.
Status map_imported(ImportLog* log, const Bill& bill, int32_t old_serial, int32_t new_serial,
                    const BillTable& table) {
  if (!log) return Status();
  const auto booked = [&](const LoggedEntry& e, int32_t serial) {
    return e.kind == ImportEntry::Kind::Done && e.serial == serial && e.key.time == bill.time &&
           stored_amount(table, e.key.amount) == bill.amount && e.income == !bill.is_expense();
  };
  const std::span<const LoggedEntry> logged = log->logged();
  std::vector<ImportEntry> add;
  for (const LoggedEntry& e : logged) {
    if (!booked(e, old_serial)) continue;
    const bool mapped = std::any_of(logged.begin(), logged.end(), [&](const LoggedEntry& n) {
      return booked(n, new_serial) && n.key == e.key;
    });
    if (mapped) continue;
    add.push_back(e.entry());
    add.back().serial = new_serial;
  }
  return add.empty() ? Status() : log->append(add, true);
}

struct Held {
  std::optional<ImportLog> log;  // when the ledger has one
  RecycleBin bin;
  CategoryFile categories;
  MethodAccountFile accounts;
  bool accounts_there = false;  // the ledger has a method account file
  BillTable table;
  std::vector<std::string> notes;  // for the user, whatever comes of the undelete
};

// The method account entry the bill had under its old serial moves to `new_serial`; a failure is a
// note (when `notes`): the bill is back either way.
void move_method_account(Held& h, const Bill& bill, int32_t new_serial, std::vector<std::string>* notes) {
  if (!h.accounts_there) return;
  const Status moved = h.accounts.rekey(stored_category_key(h.table, bill.serial, bill),
                                        stored_category_key(h.table, new_serial, bill));
  if (!moved.ok() && notes)
    notes->push_back("its method account could not be given back: " + moved.message());
}

// Undeletes cut short whose bill reached the ledger leave the bin now.
Status settle(Held& h, const BinInLedger& in_ledger) {
  const std::vector<BinEntry> bills = h.bin.bills();
  for (const auto& [id, serial] : in_ledger.undeleted) {
    for (const BinEntry& e : bills) {
      if (e.id != id) continue;
      // The bin is the one to settle: a failed import record update is found by values later.
      std::ignore = map_imported(h.log ? &*h.log : nullptr, e.bill, e.bill.serial, serial, h.table);
      move_method_account(h, e.bill, serial, nullptr);
      if (Status s = h.bin.leave(id, serial); !s.ok()) return s;
    }
  }
  return Status();
}

Result<Undeleted> run(Held& h, int32_t serial) {
  Result<BinInLedger> in_ledger = look_up_bin(h.bin);
  if (!in_ledger.ok()) return in_ledger.status();
  if (Status s = settle(h, *in_ledger); !s.ok()) return s;
  const std::optional<BinEntry> entry = h.bin.newest_with_serial(serial);
  if (!entry || in_ledger->undeleted.count(entry->id)) {
    return Status::not_found("no bill with serial " + std::to_string(serial) +
                             " is in the recycle bin ('kdbtool trash' lists them)");
  }
  Undeleted out{*entry, serial, false, h.notes};
  if (in_ledger->still_live.count(entry->id)) {
    if (Status s = h.bin.leave(entry->id, serial); !s.ok()) return s;
    return out;
  }
  if (Status s = h.bin.begin_undelete(entry->id, in_ledger->highest_serial); !s.ok()) return s;
  std::vector<int32_t> serials;
  const DbCode rc = append_bills({entry->bill}, &serials);
  if (serials.empty()) {
    return Status::store(code_number(rc), store_code_text(rc) + "; the bill stays in the recycle bin");
  }
  out.serial = serials[0];
  out.appended = true;
  if (rc != DbCode::Ok) out.notes.push_back("its remark could not be stored: " + store_code_text(rc));
  if (!entry->category.empty()) {
    const Status given = h.categories.update(
        {{stored_category_key(h.table, out.serial, entry->bill), entry->category, entry->category_by_hand}},
        nullptr);
    if (!given.ok()) out.notes.push_back("its category could not be given back: " + given.message());
  }
  move_method_account(h, entry->bill, out.serial, &out.notes);
  const Status mapped = map_imported(h.log ? &*h.log : nullptr, entry->bill, serial, out.serial, h.table);
  if (!mapped.ok()) {
    out.notes.push_back(mapped.message() +
                        "; the next import finds the bill by its time, amount, side and channel");
  }
  if (Status s = h.bin.leave(entry->id, out.serial); !s.ok()) {
    return s.with_context("the bill is back as serial " + std::to_string(out.serial) +
                          ", but it is still listed in the recycle bin (the next 'kdbtool trash' or "
                          "undelete settles that)");
  }
  return out;
}

}  // namespace

Result<Undeleted> undelete_bill(const std::string& db_arg, int32_t serial, FileSystem* files) {
  FileSystem& fs = files ? *files : posix_file_system();
  const std::optional<std::string> gbk = utf8_to_gbk(db_arg);
  if (!gbk) return Status::invalid(db_arg + ": the path has characters GBK cannot hold");
  Held h;
  const std::string log_path = side_file_path(*gbk, kLogSuffix);
  // No record of imported bills, nothing to tell: an undelete never makes one.
  std::unique_ptr<File> probe;
  const FileCause found = fs.open(log_path, FileAccess::Read, FileShare::DenyNone, &probe);
  if (probe) probe->close();
  if (found != FileCause::NotFound) {
    h.log.emplace();
    Status s = h.log->open(fs, log_path, true);
    // A damaged record of imported bills does not keep a bill from coming back; the import finds
    // it by its values once the record is repaired.
    if (s.code() == StatusCode::Corrupt) {
      h.log.reset();
      h.notes.push_back(s.message() + "; it was not told the new serial ('kdbtool import --repair-log " +
                        db_arg + "' repairs it)");
    } else if (!s.ok()) {
      return s;
    }
  }
  if (Status s = h.bin.open(fs, *gbk, true); !s.ok()) return s;
  // The category comes back with the bill: the category file's lock too, before the record file's.
  if (Status s = h.categories.open(fs, categories_path(*gbk), true); !s.ok()) return s;
  // So does its method account, kept under its old serial: that file's lock next, when it exists.
  if (Status s = h.accounts.open_if_there(fs, method_accounts_path(*gbk), &h.accounts_there); !s.ok())
    return s;
  if (Status s = open_record_file(db_arg, false); !s.ok()) return s;
  Result<BillTable> table = current_bill_table();
  if (table.ok()) h.table = *table;
  Result<Undeleted> out = table.ok() ? run(h, serial) : Result<Undeleted>(table.status());
  call_command(db_close, {});
  if (!out.ok()) return out.status().with_context(db_arg);
  return out;
}

}  // namespace pennacle
