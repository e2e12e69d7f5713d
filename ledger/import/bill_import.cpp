// This file is compiled with UTF-8 literals: everything it prints goes to a UTF-8 terminal. Texts
// for the store are converted to GBK where they cross.
#include "ledger/import/bill_import.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <set>
#include <tuple>
#include <utility>

#include "ledger/import/bill_csv.h"
#include "ledger/import/bill_text.h"
#include "ledger/import/import_categories.h"
#include "ledger/import/import_log.h"
#include "ledger/import/import_pairs.h"
#include "platform/gbk.h"
#include "runtime/convert.h"
#include "runtime/value.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

constexpr size_t kTableRemarkColumns = 40;
constexpr std::string_view kLogSuffix = ".imports";

std::string utf8(std::string_view gbk) { return gbk_to_utf8_lossy(gbk); }
std::string amount_text(double a) { return utf8(double_to_text(a)); }

std::string pad(const std::string& s, size_t width, bool right = false) {
  const size_t w = display_width(s);
  const std::string fill(w < width ? width - w : 0, ' ');
  return right ? fill + s : s + fill;
}

// A remark shortened to the table's column, on a character boundary.
std::string table_remark(const std::string& remark_utf8) {
  if (display_width(remark_utf8) <= kTableRemarkColumns) return remark_utf8;
  std::string out;
  for (size_t i = 0; i < remark_utf8.size();) {
    size_t n = 1;
    while (i + n < remark_utf8.size() && (static_cast<unsigned char>(remark_utf8[i + n]) & 0xC0) == 0x80) ++n;
    if (display_width(out + remark_utf8.substr(i, n)) > kTableRemarkColumns - 1) break;
    out += remark_utf8.substr(i, n);
    i += n;
  }
  return out + "…";
}

// The ledger's table, with what a bill export needs of it beyond a bill's: an amount field that keeps
// the cents, and text fields wide enough for the channels it writes.
Result<BillTable> import_table() {
  Result<BillTable> table = current_bill_table();
  if (!table.ok()) return table;
  if (const FieldType amount = table->field(BillField::Amount).type;
      amount != FieldType::Double && amount != FieldType::Float) {
    return Status::invalid(
        "not a ledger table for bill exports: " + utf8(bill_field_name(BillField::Amount)) +
        " must be double or float to keep the cents");
  }
  for (BillField f : {BillField::Type, BillField::Channel}) {
    const FieldDescriptor& d = table->field(f);
    if (d.type == FieldType::Text && d.width < 6) {  // "支付宝" takes 6 bytes
      return Status::invalid(utf8(d.name) + " is narrower than the texts a bill export gives it");
    }
  }
  return table;
}

// What one live record of the ledger holds, as far as telling imported bills apart needs.
struct RecordFacts {
  double time = 0, amount = 0;
  bool income = false;
  std::string channel;       // GBK
  uint64_t fingerprint = 0;  // read only for records that may settle an intent
};

struct LedgerFacts {
  std::map<int32_t, RecordFacts> live;  // by serial
  int32_t highest_serial = 0;           // deleted records included
};

// Walks the ledger, reading each live record once; fingerprints for serials above
// `fingerprints_after`. Returns 0 or a store code.
DbCode walk_ledger(int32_t fingerprints_after, LedgerFacts* out) {
  const int32_t count = call_command(db_record_count, {}).int_payload();
  DbCode rc = db_last_error();
  call_command(db_go_first, {});
  for (int32_t k = 0; k < count && rc == DbCode::Ok; ++k) {
    int32_t serial = 0;
    if ((rc = db_current_serial(&serial)) != DbCode::Ok) break;
    out->highest_serial = std::max(out->highest_serial, serial < 0 ? -serial : serial);
    if (serial > 0) {
      Bill bill;
      // The table was checked when the ledger was opened: every field has a kind a bill takes.
      std::ignore =
          read_current_bill(&bill, serial > fingerprints_after ? BillParts::All : BillParts::WithoutRemark);
      if ((rc = db_last_error()) != DbCode::Ok) break;
      RecordFacts f{bill.time, bill.amount, !bill.is_expense(), std::move(bill.channel), 0};
      if (serial > fingerprints_after) f.fingerprint = bill_fingerprint(bill.type, f.channel, bill.remark);
      out->live[serial] = std::move(f);
    }
    call_command(db_skip, {});
  }
  return rc;
}

// A bill as the import tells it apart: its key and side.
using SidedKey = std::pair<ImportKey, bool>;

// What the log says the ledger holds: how many live records each key claims, which records are
// claimed, and the done entries that settle intents of an import cut short.
struct Presence {
  std::map<SidedKey, std::vector<int32_t>> present;  // the serials of the live records of each key
  std::set<int32_t> claimed;
  std::vector<ImportEntry> settled;
};

// Intents that no later done entry of the same key answers: imports cut short between the two.
std::vector<const ImportEntry*> open_intents(const std::vector<ImportEntry>& log) {
  std::set<ImportKey> answered;
  std::vector<const ImportEntry*> open;
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if (it->kind == ImportEntry::Kind::Done) {
      answered.insert(it->key);
    } else if (it->kind == ImportEntry::Kind::Intent && !answered.count(it->key)) {
      open.push_back(&*it);
    }
  }
  std::reverse(open.begin(), open.end());
  return open;
}

// A done entry claims its record while the record holds the entry's time, amount and side and no
// other entry claimed it first: after a restore, serials are handed out again to other bills.
Presence resolve(const std::vector<ImportEntry>& log, const std::vector<const ImportEntry*>& open,
                 const LedgerFacts& ledger, const BillTable& table) {
  Presence p;
  for (const ImportEntry& e : log) {
    if (e.kind != ImportEntry::Kind::Done) continue;
    auto it = ledger.live.find(e.serial);
    if (it != ledger.live.end() && !p.claimed.count(e.serial) && it->second.time == e.key.time &&
        it->second.amount == stored_amount(table, e.key.amount) && it->second.income == e.income) {
      p.present[{e.key, e.income}].push_back(e.serial);
      p.claimed.insert(e.serial);
    }
  }
  // An open intent: the bill's record, if it was written, is the first unclaimed one above the
  // serial the intent names that holds the same values.
  using Values = std::tuple<double, double, bool, uint64_t>;
  std::map<Values, std::vector<int32_t>> by_values;  // serials in ascending order
  for (const auto& [serial, f] : ledger.live)
    by_values[{f.time, f.amount, f.income, f.fingerprint}].push_back(serial);
  for (const ImportEntry* e : open) {
    auto found =
        by_values.find({e->key.time, stored_amount(table, e->key.amount), e->income, e->fingerprint});
    if (found == by_values.end()) continue;
    for (auto it = std::upper_bound(found->second.begin(), found->second.end(), e->serial);
         it != found->second.end(); ++it) {
      if (!p.claimed.insert(*it).second) continue;
      p.present[{e->key, e->income}].push_back(*it);
      ImportEntry done = *e;
      done.kind = ImportEntry::Kind::Done;
      done.serial = *it;
      p.settled.push_back(done);
      break;
    }
  }
  return p;
}

// The second line of defence, for bills the log does not know (it was lost, or rebuilt): live
// records no log entry claims, by time, amount, side and channel; each answers for one row.
using ValueKey = std::tuple<double, double, bool, std::string>;
std::map<ValueKey, std::vector<int32_t>> unclaimed_records(const LedgerFacts& ledger, const Presence& p) {
  std::map<ValueKey, std::vector<int32_t>> out;
  for (const auto& [serial, f] : ledger.live) {
    if (!p.claimed.count(serial)) out[{f.time, f.amount, f.income, f.channel}].push_back(serial);
  }
  return out;
}

// A row the ledger holds already: the serial of its record, the bill and the category the row gives.
struct BillThere {
  int32_t serial = 0;
  Bill bill;
  ImportCategory category;
};

struct PlannedBill {
  ImportedBill bill;
  ImportEntry entry;  // the intent
  ImportCategory category;
};

struct Plan {
  std::vector<PlannedBill> add;
  std::vector<ImportEntry> found;  // done entries of rows found by their values
  int already = 0;
  int ignored = 0;               // rows a rule marks ignore
  std::vector<BillThere> there;  // rows the ledger holds already, with the record of each
};

// The bill a paired row (or a remembered refund) books, with its intent entry.
PlannedBill planned_bill(const PairedBill& pb, const BillTable& table, const std::string& channel,
                         std::vector<RowNote>* notices) {
  PlannedBill p;
  Bill& bill = p.bill.bill;
  const ExportBill* row = pb.row;
  const ImportEntry* w = pb.waiting;
  p.bill.line = pb.line;
  bill.type = pb.income ? income_type() : expense_type();
  bill.amount = row ? row->amount : w->key.amount;
  bill.channel = row ? channel : w->channel;
  bill.time = row ? row->time : w->key.time;
  bill.remark = row ? row->remark : w->remark;
  if (cut_remark(table, &bill.remark)) {
    notices->push_back({pb.line, "the remark is cut to " + std::to_string(bill.remark.size()) + " bytes"});
  }
  p.entry.kind = ImportEntry::Kind::Intent;
  p.entry.key = row ? ImportKey{row->order, row->time, row->amount} : w->key;
  p.entry.income = pb.income;
  p.entry.fingerprint = bill_fingerprint(bill.type, bill.channel, bill.remark);
  p.entry.merchant = row ? row->merchant : w->merchant;
  p.entry.refund = pb.refund;
  return p;
}

// The bills to book, split into those to add and those the ledger holds: by the log first, then
// by their values. Rows with the same non-empty order number, time, amount and side are one bill;
// rows without an order number are never one.
Plan plan(const Pairing& pairing, const BillTable& table, Presence presence,
          std::map<ValueKey, std::vector<int32_t>> unclaimed, const std::string& channel,
          const ExportRead& read, const CategoryRules* rules, std::vector<RowNote>* notices) {
  Plan out;
  std::set<SidedKey> seen;
  for (const PairedBill& pb : pairing.book) {
    PlannedBill p = planned_bill(pb, table, channel, notices);
    ImportCategory category = export_row_category(rules, read.source, pb.row, p.bill.bill);
    if (category.ignore) {
      ++out.ignored;
      continue;
    }
    p.category = std::move(category);
    const SidedKey key{p.entry.key, p.entry.income};
    if (!key.first.order.empty() && !seen.insert(key).second) {
      ++out.already;
      continue;
    }
    if (auto it = presence.present.find(key); it != presence.present.end() && !it->second.empty()) {
      out.there.push_back({it->second.back(), p.bill.bill, p.category});
      it->second.pop_back();
      ++out.already;
      continue;
    }
    const Bill& b = p.bill.bill;
    auto same = unclaimed.find({b.time, stored_amount(table, b.amount), !b.is_expense(), b.channel});
    if (same != unclaimed.end() && !same->second.empty()) {
      p.entry.kind = ImportEntry::Kind::Done;
      p.entry.serial = same->second.back();
      same->second.pop_back();
      out.there.push_back({p.entry.serial, p.bill.bill, p.category});
      out.found.push_back(std::move(p.entry));
      ++out.already;
      continue;
    }
    out.add.push_back(std::move(p));
  }
  return out;
}

// Appends the planned bills group by group, each group's intents on the disk before its records;
// `first` (settled intents, bills found by their values, remembered halves) goes before them.
// Returns the number of bills stored; `*problem` says why when it could not store them all.
size_t write_groups(const std::vector<PlannedBill>& add, std::vector<ImportEntry> first, int32_t highest,
                    size_t group_size, ImportLog& log, ImportCategoryWriter& categories, Status* problem) {
  size_t stored = 0;
  group_size = std::max<size_t>(group_size, 1);
  for (size_t start = 0; start < add.size() || !first.empty(); start += group_size) {
    const size_t end = std::min(add.size(), start + group_size);
    std::vector<ImportEntry> intents = std::move(first);
    first.clear();
    std::vector<Bill> group;
    std::vector<ImportCategory> names;
    for (size_t i = start; i < end; ++i) {
      intents.push_back(add[i].entry);
      intents.back().serial = highest;
      group.push_back(add[i].bill.bill);
      names.push_back(add[i].category);
    }
    if (*problem = log.append(intents, true); !problem->ok()) return stored;
    if (group.empty()) break;
    std::vector<int32_t> serials;
    const DbCode rc = append_bills(group, &serials);
    std::vector<ImportEntry> done;
    for (size_t i = 0; i < serials.size(); ++i) {
      done.push_back(add[start + i].entry);
      done.back().kind = ImportEntry::Kind::Done;
      done.back().serial = serials[i];
      highest = std::max(highest, serials[i]);
    }
    stored += serials.size();
    if (*problem = log.append(done, false); !problem->ok()) return stored;
    if (*problem = categories.stored(group, names, serials); !problem->ok()) return stored;
    if (rc != DbCode::Ok) {
      // The done entries of the bills that were stored; the store's failure is the one to report.
      std::ignore = log.sync();
      *problem = Status::store(
          code_number(rc), "lines " + std::to_string(add[start].bill.line) + " to " +
                               std::to_string(add[end - 1].bill.line) + ": " + store_status(rc).message() +
                               (serials.empty() ? "; none of them was stored"
                                                : "; they are stored, some without their remark"));
      return stored;
    }
  }
  *problem = log.sync();
  return stored;
}

constexpr size_t kUnknownStatusesListed = 5;

void print_counts(const ExportRead& read, const Pairing& pairing, const Plan& p, size_t added, bool dry_run,
                  bool rules, std::ostream& out) {
  const int already = p.already;
  out << (dry_run ? "would add " : "added ") << added << ", already there " << already << ", neutral skipped "
      << read.neutral << ", failed or closed skipped " << read.failed_or_closed + pairing.closed_refunds
      << ", pending " << read.pending << ", unknown status " << read.unknown_statuses.size()
      << ", refund without its payment " << pairing.orphans;
  if (rules) out << ", ignored by rules " << p.ignored;
  out << "\n";
}

// The first rows skipped for a status on neither list, with the status.
void print_unknown_statuses(const std::string& export_arg, const ExportRead& read, std::ostream& out) {
  const std::string_view column = read.source == ExportSource::Alipay ? "交易状态" : "当前状态";
  const std::vector<RowNote>& unknown = read.unknown_statuses;
  for (size_t i = 0; i < unknown.size() && i < kUnknownStatusesListed; ++i) {
    out << export_arg << ": " << row_place(read, unknown[i].line) << ": " << column << " '" << unknown[i].text
        << "' says neither that the money moved nor that it has not yet; skipped\n";
  }
  if (unknown.size() > kUnknownStatusesListed) {
    out << export_arg << ": " << unknown.size() - kUnknownStatusesListed
        << " more row(s) with an unknown status skipped\n";
  }
}

// Reads the export: NotFound when it is none, another failure when it cannot be imported.
Result<ExportRead> read_export(const std::string& export_arg, std::string_view bytes,
                               const BillImportOptions& options, std::ostream& err) {
  Result<ExportRead> read = read_bill_export(bytes, ExportOptions{options.force});
  if (!read.ok()) {
    if (read.status().code() == StatusCode::NotFound) return read;
    return read.status().with_context(export_arg);
  }
  if (!read->errors.empty()) {
    for (const RowNote& e : read->errors)
      err << export_arg << ": " << row_place(*read, e.line) << ": " << e.text << "\n";
    return Status::invalid(export_arg + ": " + std::to_string(read->errors.size()) +
                           " bad row(s); nothing was written");
  }
  return read;
}

Result<BillTable> open_ledger(const std::string& db_arg, bool read_only) {
  if (Status opened = open_record_file(db_arg, read_only); !opened.ok()) return opened;
  Result<BillTable> table = import_table();
  if (!table.ok()) {
    call_command(db_close, {});
    return table.status().with_context(db_arg);
  }
  return table;
}

// The lowest serial an open intent names: records above it may settle it.
int32_t lowest_open_intent(const std::vector<const ImportEntry*>& open) {
  int32_t lowest = INT32_MAX;
  for (const ImportEntry* e : open) lowest = std::min(lowest, e->serial);
  return lowest;
}

Status open_log(ImportLog* log, const std::string& db_arg, const BillImportOptions& options,
                const BillTable& table) {
  FileSystem& fs = options.fs ? *options.fs : posix_file_system();
  Status s = log->open(fs, table.full_path + std::string(kLogSuffix), !options.dry_run);
  if (s.code() == StatusCode::Corrupt) {
    return Status::corrupt(s.message() + "; run 'kdbtool import --repair-log " + db_arg +
                           "' to rebuild it from its sound lines");
  }
  return s;
}

Status fill_categories(std::vector<BillThere>& there, ImportCategoryWriter& categories) {
  std::vector<Bill> bills;
  std::vector<ImportCategory> names;
  std::vector<int32_t> serials;
  for (BillThere& t : there) {
    bills.push_back(std::move(t.bill));
    names.push_back(std::move(t.category));
    serials.push_back(t.serial);
  }
  return categories.fill_missing(bills, names, serials);
}

Status run_import(const std::string& db_arg, const std::string& export_arg, const ExportRead& read,
                  const BillImportOptions& options, const BillTable& table, std::ostream& out) {
  ImportLog log;
  if (Status s = open_log(&log, db_arg, options, table); !s.ok()) return s;
  const std::vector<const ImportEntry*> open = open_intents(log.entries());
  LedgerFacts ledger;
  if (DbCode rc = walk_ledger(lowest_open_intent(open), &ledger); rc != DbCode::Ok) {
    return store_status(rc).with_context(db_arg);
  }
  Presence presence = resolve(log.entries(), open, ledger, table);
  const std::string channel = utf8_to_gbk(source_channel(read.source)).value_or(std::string());
  const Pairing pairing = pair_refunds(read, log.entries(), channel);
  std::vector<RowNote> notices = read.notices;
  Plan p = plan(pairing, table, presence, unclaimed_records(ledger, presence), channel, read, options.rules,
                &notices);
  for (const RowNote& n : notices)
    out << export_arg << ": " << row_place(read, n.line) << ": " << n.text << "\n";
  print_unknown_statuses(export_arg, read, out);
  if (options.dry_run) {
    std::vector<ImportedBill> bills;
    for (const PlannedBill& planned : p.add) bills.push_back(planned.bill);
    out << "Bills from the " << source_name(read.source) << " export that are not in the ledger yet:\n";
    print_bill_table(bills, out);
    print_counts(read, pairing, p, p.add.size(), true, options.rules != nullptr, out);
    return Status();
  }
  std::vector<ImportEntry> first = std::move(presence.settled);
  first.insert(first.end(), p.found.begin(), p.found.end());
  first.insert(first.end(), pairing.remember.begin(), pairing.remember.end());
  ImportCategoryWriter categories;
  LiveBills live;
  for (const auto& [serial, f] : ledger.live) live[serial] = {serial, f.time, f.amount, f.income};
  if (Status s = categories.open(options.fs ? *options.fs : posix_file_system(), table, std::move(live));
      !s.ok())
    return s;
  // Bills an import cut short stored without their categories get them now.
  if (Status s = fill_categories(p.there, categories); !s.ok()) return s;
  Status problem;
  const size_t stored = write_groups(p.add, std::move(first), ledger.highest_serial, options.group_size, log,
                                     categories, &problem);
  print_counts(read, pairing, p, stored, false, options.rules != nullptr, out);
  if (!problem.ok()) {
    return Status::invalid(problem.message() + "; " + std::to_string(stored) +
                           " bill(s) were added before it; importing again adds the rest");
  }
  return Status();
}

}  // namespace

void print_bill_table(const std::vector<ImportedBill>& bills, std::ostream& out) {
  struct Row {
    std::string cells[6];
  };
  const std::vector<std::string> names = bill_csv_columns();
  std::vector<Row> rows = {{{"行", names[3], names[0], names[1], names[2], names[4]}}};
  double expense = 0, income = 0;
  size_t expenses = 0;
  for (const ImportedBill& ib : bills) {
    const Bill& b = ib.bill;
    rows.push_back({{std::to_string(ib.line), format_date_time(b.time), utf8(b.type), amount_text(b.amount),
                     utf8(b.channel), table_remark(utf8(b.remark))}});
    (b.is_expense() ? expense : income) += b.amount;
    expenses += b.is_expense();
  }
  size_t width[6] = {};
  for (const Row& r : rows) {
    for (size_t c = 0; c < 6; ++c) width[c] = std::max(width[c], display_width(r.cells[c]));
  }
  for (const Row& r : rows) {
    std::string line;
    for (size_t c = 0; c < 6; ++c) {
      const bool number = c == 0 || c == 3;
      line += (c ? "  " : "") + (c == 5 ? r.cells[c] : pad(r.cells[c], width[c], number));
    }
    out << line << "\n";
  }
  out << bills.size() << " bill(s): " << utf8(expense_type()) << " " << expenses << ", total "
      << amount_text(expense) << "; " << utf8(income_type()) << " " << bills.size() - expenses << ", total "
      << amount_text(income) << "\n";
}

Status import_bill_export(const std::string& db_arg, const std::string& export_arg, std::string_view bytes,
                          const BillImportOptions& options, std::ostream& out, std::ostream& err) {
  if (bytes.empty()) return Status::invalid(export_arg + ": the file is empty; it is not a bill export");
  Result<ExportRead> read = read_export(export_arg, bytes, options, err);
  if (!read.ok()) return read.status();
  Result<BillTable> table = open_ledger(db_arg, options.dry_run);
  if (!table.ok()) return table.status();
  const Status s = run_import(db_arg, export_arg, *read, options, *table, out);
  call_command(db_close, {});
  return s;
}

Status repair_import_record(const std::string& db_arg, FileSystem* fs, std::ostream& out) {
  std::optional<std::string> path = utf8_to_gbk(db_arg);
  if (!path) return Status::invalid(db_arg + ": the path has characters GBK cannot hold");
  const std::string log = db_arg + std::string(kLogSuffix);
  Result<LogRepair> r = repair_import_log(fs ? *fs : posix_file_system(), *path + std::string(kLogSuffix));
  if (!r.ok()) return r.status();
  if (r->dropped.empty()) {
    out << log << " is sound: " << r->kept << " entries; nothing to repair\n";
    return Status();
  }
  out << log << ": rebuilt with " << r->kept << " entries; dropped " << r->dropped.size()
      << " damaged line(s):\n";
  for (const auto& [line, text] : r->dropped) out << "  line " << line << ": " << text << "\n";
  out << "The damaged file is kept as " << log << ".damaged. The next import finds the bills of dropped "
      << "lines by their time, amount, side and channel.\n";
  return Status();
}

}  // namespace pennacle
