// This file is compiled with UTF-8 literals: everything it prints goes to a UTF-8 terminal. Texts
// for the store are converted to GBK where they cross.
#include "ledger/import/bill_import.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <tuple>
#include <utility>

#include "ledger/import/bill_csv.h"
#include "ledger/import/bill_text.h"
#include "ledger/import/import_categories.h"
#include "ledger/import/import_log.h"
#include "ledger/import/import_pairs.h"
#include "ledger/import/import_plan.h"
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

// A group's bills and categories, moved out of the plan while the group is written and given back
// when it is done or stopped: the preview takes them afterwards.
struct GroupLoan {
  std::vector<PlannedBill>& add;
  size_t start;
  std::vector<Bill>& group;
  std::vector<ImportCategory>& names;
  ~GroupLoan() {
    for (size_t i = 0; i < group.size() && i < names.size(); ++i) {
      add[start + i].bill.bill = std::move(group[i]);
      add[start + i].category = std::move(names[i]);
    }
  }
};

// Appends the planned bills group by group, each group's intents on the disk before its records;
// `first` (settled intents, bills found by their values, remembered halves) goes before them. The
// bills and entries of `add` are moved into the groups (their lines stay).
// Returns the number of bills stored; `*problem` says why when it could not store them all.
size_t write_groups(std::vector<PlannedBill>& add, std::vector<ImportEntry> first, int32_t highest,
                    const BillImportOptions& options, ImportLog& log, ImportCategoryWriter& categories,
                    Status* problem) {
  size_t stored = 0;
  const size_t group_size = std::max<size_t>(options.group_size, 1);
  for (size_t start = 0; start < add.size() || !first.empty(); start += group_size) {
    const size_t end = std::min(add.size(), start + group_size);
    std::vector<ImportEntry> intents = std::move(first);
    first.clear();
    intents.reserve(intents.size() + (end - start));
    std::vector<Bill> group;
    std::vector<ImportCategory> names;
    group.reserve(end - start);
    names.reserve(end - start);
    for (size_t i = start; i < end; ++i) {
      intents.push_back(add[i].entry);
      intents.back().serial = highest;
      group.push_back(std::move(add[i].bill.bill));
      names.push_back(std::move(add[i].category));
    }
    const GroupLoan loan{add, start, group, names};
    if (*problem = log.append(std::move(intents), true); !problem->ok()) return stored;
    if (group.empty()) break;
    std::vector<int32_t> serials;
    const DbCode rc = append_bills(group, &serials);
    std::vector<ImportEntry> done;
    done.reserve(serials.size());
    for (size_t i = 0; i < serials.size(); ++i) {
      done.push_back(std::move(add[start + i].entry));
      done.back().kind = ImportEntry::Kind::Done;
      done.back().serial = serials[i];
      highest = std::max(highest, serials[i]);
    }
    stored += serials.size();
    if (*problem = log.append(std::move(done), false); !problem->ok()) return stored;
    if (*problem = categories.stored(group, names, serials); !problem->ok()) return stored;
    if (options.progress && !serials.empty()) options.progress(stored, add.size());
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

void print_counts(const ImportPreview& p, size_t added, bool dry_run, std::ostream& out) {
  out << (dry_run ? "would add " : "added ") << added << ", already there " << p.already
      << ", neutral skipped " << p.neutral << ", failed or closed skipped " << p.failed_or_closed
      << ", pending " << p.pending << ", unknown status " << p.unknown_statuses.size()
      << ", refund without its payment " << p.orphan_refunds;
  if (p.rules) out << ", ignored by rules " << p.ignored;
  out << "\n";
}

// The notices, then the first rows skipped for a status on neither list, with the status.
void print_row_notes(const std::string& export_arg, const ImportPreview& p, std::ostream& out) {
  for (const RowNote& n : p.notices)
    out << export_arg << ": " << preview_place(p, n.line) << ": " << n.text << "\n";
  const std::string_view column = p.source == ExportSource::Alipay ? "交易状态" : "当前状态";
  const std::vector<RowNote>& unknown = p.unknown_statuses;
  for (size_t i = 0; i < unknown.size() && i < kUnknownStatusesListed; ++i) {
    out << export_arg << ": " << preview_place(p, unknown[i].line) << ": " << column << " '"
        << unknown[i].text << "' says neither that the money moved nor that it has not yet; skipped\n";
  }
  if (unknown.size() > kUnknownStatusesListed) {
    out << export_arg << ": " << unknown.size() - kUnknownStatusesListed
        << " more row(s) with an unknown status skipped\n";
  }
}

// Reads the export: NotFound when it is none, another failure when it cannot be imported; each
// bad row goes to `bad_rows`.
Result<ExportRead> read_export(const std::string& export_arg, std::string_view bytes,
                               const BillImportOptions& options, std::vector<std::string>* bad_rows) {
  Result<ExportRead> read = read_bill_export(bytes, ExportOptions{options.force});
  if (!read.ok()) {
    if (read.status().code() == StatusCode::NotFound) return read;
    return read.status().with_context(export_arg);
  }
  if (!read->errors.empty()) {
    for (const RowNote& e : read->errors)
      bad_rows->push_back(export_arg + ": " + row_place(*read, e.line) + ": " + e.text);
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

ImportPreview make_preview(const ExportRead& read, const LoggedPairing& pairing, Plan&& p,
                           std::vector<RowNote> notices, bool rules) {
  ImportPreview out;
  out.source = read.source;
  out.sheet = read.sheet;
  out.add.reserve(p.add.size());
  for (PlannedBill& planned : p.add)
    out.add.push_back({std::move(planned.bill), std::move(planned.category.name)});
  out.already = p.already;
  out.neutral = read.neutral;
  out.failed_or_closed = read.failed_or_closed + pairing.closed_refunds;
  out.pending = read.pending;
  out.unknown_statuses = read.unknown_statuses;
  out.orphan_refunds = pairing.orphans;
  out.ignored = p.ignored;
  out.rules = rules;
  out.notices = std::move(notices);
  return out;
}

// Stores the plan: the log's settled and found entries and remembered halves first, the categories
// of bills an import cut short stored without theirs, then the bills group by group.
void write_plan(const BillImportOptions& options, const BillTable& table, const LedgerFacts& ledger,
                Presence& presence, Plan& p, LoggedPairing& pairing, ImportLog& log, BillImportRun* run) {
  std::vector<ImportEntry> first = std::move(presence.settled);
  first.insert(first.end(), std::make_move_iterator(p.found.begin()), std::make_move_iterator(p.found.end()));
  first.insert(first.end(), std::make_move_iterator(pairing.remember.begin()),
               std::make_move_iterator(pairing.remember.end()));
  ImportCategoryWriter categories;
  // Made only when categories are written: a re-import that adds nothing writes none.
  auto live = [&ledger] {
    LiveBills bills;
    bills.reserve(ledger.live.size());
    for (const RecordFacts& f : ledger.live) bills[f.serial] = {f.serial, f.time, f.amount, f.income};
    return bills;
  };
  run->problem = categories.open(options.fs ? *options.fs : posix_file_system(), table, live);
  if (!run->problem.ok()) return;
  // Bills an import cut short stored without their categories get them now.
  if (run->problem = categories.fill_missing(p.there); !run->problem.ok()) return;
  run->wrote = true;
  // An intent and a done entry for each bill. From here the log's entries may move: nothing taken
  // from them (presence, pairing) is read again.
  log.reserve(first.size() + 2 * p.add.size());
  Status problem;
  run->added =
      write_groups(p.add, std::move(first), ledger.highest_serial, options, log, categories, &problem);
  if (!problem.ok()) {
    run->problem = Status::invalid(problem.message() + "; " + std::to_string(run->added) +
                                   " bill(s) were added before it; importing again adds the rest");
  }
}

Result<BillImportRun> plan_and_write(const std::string& db_arg, const ExportRead& read,
                                     const BillImportOptions& options, const BillTable& table) {
  ImportLog log;
  if (Status s = open_log(&log, db_arg, options, table); !s.ok()) return s;
  const std::vector<const LoggedEntry*> open = open_intents(log.logged());
  LedgerFacts ledger;
  if (DbCode rc = walk_ledger(lowest_open_intent(open), &ledger); rc != DbCode::Ok) {
    return store_status(rc).with_context(db_arg);
  }
  const std::string channel = utf8_to_gbk(source_channel(read.source)).value_or(std::string());
  LoggedPairing pairing = pair_logged_refunds(read, log.logged(), channel);
  Presence presence = resolve(log.logged(), open, ledger, table, pairing.book.size());
  std::vector<RowNote> notices = read.notices;
  Unclaimed unclaimed = unclaimed_records(ledger, presence);
  Plan p = plan(pairing, table, presence, std::move(unclaimed), channel, read, options.rules, &notices);
  BillImportRun run;
  if (!options.dry_run) write_plan(options, table, ledger, presence, p, pairing, log, &run);
  // After the writing, which no longer needs the planned bills: the preview takes them.
  run.preview = make_preview(read, pairing, std::move(p), std::move(notices), options.rules != nullptr);
  return run;
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

Result<BillImportRun> run_bill_import(const std::string& db_arg, const std::string& export_arg,
                                      std::string_view bytes, const BillImportOptions& options,
                                      std::vector<std::string>* bad_rows) {
  if (bytes.empty()) return Status::invalid(export_arg + ": the file is empty; it is not a bill export");
  Result<ExportRead> read = read_export(export_arg, bytes, options, bad_rows);
  if (!read.ok()) return read.status();
  Result<BillTable> table = open_ledger(db_arg, options.dry_run);
  if (!table.ok()) return table.status();
  Result<BillImportRun> run = plan_and_write(db_arg, *read, options, *table);
  call_command(db_close, {});
  return run;
}

Status import_bill_export(const std::string& db_arg, const std::string& export_arg, std::string_view bytes,
                          const BillImportOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<std::string> bad_rows;
  Result<BillImportRun> run = run_bill_import(db_arg, export_arg, bytes, options, &bad_rows);
  for (const std::string& row : bad_rows) err << row << "\n";
  if (!run.ok()) return run.status();
  const ImportPreview& p = run->preview;
  print_row_notes(export_arg, p, out);
  if (options.dry_run) {
    std::vector<ImportedBill> bills;
    for (const PreviewBill& b : p.add) bills.push_back(b.bill);
    out << "Bills from the " << source_name(p.source) << " export that are not in the ledger yet:\n";
    print_bill_table(bills, out);
    print_counts(p, p.add.size(), true, out);
    return Status();
  }
  if (run->wrote) print_counts(p, run->added, false, out);
  return run->problem;
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
