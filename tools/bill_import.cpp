// This file is compiled with UTF-8 literals: everything it prints goes to a UTF-8 terminal. Texts
// for the store are converted to GBK where they cross.
#include "tools/bill_import.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <set>
#include <tuple>

#include "platform/gbk.h"
#include "runtime/convert.h"
#include "runtime/value.h"
#include "store/record_store.h"
#include "tools/bill_text.h"
#include "tools/import_log.h"
#include "tools/kdbtool.h"
#include "tools/kdbtool_text.h"

namespace pennacle {
namespace {

// A remark in a memo field keeps to one auxiliary block (500 bytes), enough for any counterpart
// and goods, and short enough to read in a message box.
constexpr size_t kMemoRemarkBytes = 500;
constexpr size_t kTableRemarkColumns = 40;
constexpr int32_t kToolWaitMs = 2000;
constexpr std::string_view kLogSuffix = ".imports";

// Ledger fields by position: 1 running number, then these.
enum LedgerField { kFieldType = 2, kFieldAmount, kFieldChannel, kFieldTime, kFieldRemark };

std::string gbk(std::string_view utf8) { return utf8_to_gbk(utf8).value_or(std::string()); }
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

// The ledger's table as the import needs it.
struct LedgerTable {
  std::string full_path;  // GBK
  FieldType amount_type = FieldType::Double;
  size_t remark_limit = kMemoRemarkBytes;
};

bool read_ledger_table(LedgerTable* t, std::string* why) {
  DatabaseInfo info;
  if (!db_current_info(&info)) return *why = "no database open", false;
  static const char* const kNames[] = {"类型", "金额", "付款方式", "时间", "备注"};
  const auto text_like = [](FieldType f) { return f == FieldType::Text || f == FieldType::Memo; };
  bool ok = info.fields.size() >= kFieldRemark;
  for (int i = 0; ok && i < 5; ++i)
    ok = names_equal(info.fields[static_cast<size_t>(i + 1)].name, gbk(kNames[i]));
  if (ok) {
    const auto& f = info.fields;
    ok = text_like(f[kFieldType - 1].type) && text_like(f[kFieldChannel - 1].type) &&
         text_like(f[kFieldRemark - 1].type) && f[kFieldTime - 1].type == FieldType::DateTime &&
         (f[kFieldAmount - 1].type == FieldType::Double || f[kFieldAmount - 1].type == FieldType::Float);
  }
  if (!ok) {
    *why =
        "not a ledger table for bill exports (fields 2 to 6 must be 类型 text, "
        "金额 double or float, 付款方式 text, 时间 datetime, 备注 text or memo)";
    return false;
  }
  t->full_path = info.full_path;
  t->amount_type = info.fields[kFieldAmount - 1].type;
  const FieldDescriptor& remark = info.fields[kFieldRemark - 1];
  t->remark_limit = remark.type == FieldType::Text ? static_cast<size_t>(remark.width) : kMemoRemarkBytes;
  for (int f : {kFieldType, kFieldChannel}) {
    const FieldDescriptor& d = info.fields[static_cast<size_t>(f - 1)];
    if (d.type == FieldType::Text && d.width < 6) {  // "支付宝" takes 6 bytes
      *why = utf8(d.name) + " is narrower than the texts a bill export gives it";
      return false;
    }
  }
  return true;
}

// The amount as the ledger reads it back once stored in its 金额 field.
double stored_amount(const LedgerTable& t, double a) {
  return t.amount_type == FieldType::Float ? static_cast<double>(static_cast<float>(a)) : a;
}

// What one live record of the ledger holds, as far as telling imported bills apart needs.
struct RecordFacts {
  double time = 0, amount = 0;
  bool income = false;
  uint64_t fingerprint = 0;  // read only for records that may settle an intent
};

struct LedgerFacts {
  std::map<int32_t, RecordFacts> live;  // by serial
  int32_t highest_serial = 0;           // deleted records included
};

Value read_field(int field) { return call_command(db_read_field, {Value::of_int(field)}); }

std::string read_text_field(int field) {
  Value v = read_field(field);
  return std::string(Text::from_result(v).view());
}

// Walks the ledger; fingerprints for serials above `fingerprints_after`. Returns 0 or a store code.
DbCode walk_ledger(int32_t fingerprints_after, LedgerFacts* out) {
  const int32_t count = call_command(db_record_count, {}).int_payload();
  DbCode rc = db_last_error();
  call_command(db_go_first, {});
  const std::string expense = gbk("支出");
  for (int32_t k = 0; k < count && rc == DbCode::Ok; ++k) {
    int32_t serial = 0;
    if ((rc = db_current_serial(&serial)) != DbCode::Ok) break;
    out->highest_serial = std::max(out->highest_serial, serial < 0 ? -serial : serial);
    if (serial > 0) {
      RecordFacts f;
      f.time = read_field(kFieldTime).double_payload();
      Value amount = read_field(kFieldAmount);
      f.amount = value_to_double(amount);
      const std::string type = read_text_field(kFieldType);
      f.income = type != expense;
      if (serial > fingerprints_after) {
        const std::string channel = read_text_field(kFieldChannel);
        f.fingerprint = bill_fingerprint(type, channel, read_text_field(kFieldRemark));
      }
      if ((rc = db_last_error()) != DbCode::Ok) break;
      out->live[serial] = f;
    }
    call_command(db_skip, {});
  }
  return rc;
}

// Which keys the ledger holds, and the done entries that settle intents of an import cut short.
struct Presence {
  std::set<ImportKey> present;
  std::vector<ImportEntry> settled;
};

// Intents that no later done entry of the same key answers: imports cut short between the two.
std::vector<const ImportEntry*> open_intents(const std::vector<ImportEntry>& log) {
  std::set<ImportKey> answered;
  std::vector<const ImportEntry*> open;
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if (it->kind == ImportEntry::Kind::Done) {
      answered.insert(it->key);
    } else if (!answered.count(it->key)) {
      open.push_back(&*it);
    }
  }
  std::reverse(open.begin(), open.end());
  return open;
}

Presence resolve(const std::vector<ImportEntry>& log, const std::vector<const ImportEntry*>& open,
                 const LedgerFacts& ledger, const LedgerTable& table) {
  Presence p;
  std::set<int32_t> claimed;
  for (const ImportEntry& e : log) {
    if (e.kind != ImportEntry::Kind::Done || p.present.count(e.key)) continue;
    auto it = ledger.live.find(e.serial);
    if (it != ledger.live.end() && !claimed.count(e.serial) && it->second.time == e.key.time &&
        it->second.amount == stored_amount(table, e.key.amount) && it->second.income == e.income) {
      p.present.insert(e.key);
      claimed.insert(e.serial);
    }
  }
  // An open intent: the bill's record, if it was written, is the first unclaimed one above the
  // serial the intent names that holds the same values.
  using Values = std::tuple<double, double, bool, uint64_t>;
  std::map<Values, std::vector<int32_t>> by_values;  // serials in ascending order
  for (const auto& [serial, f] : ledger.live)
    by_values[{f.time, f.amount, f.income, f.fingerprint}].push_back(serial);
  for (const ImportEntry* e : open) {
    if (p.present.count(e->key)) continue;
    auto found =
        by_values.find({e->key.time, stored_amount(table, e->key.amount), e->income, e->fingerprint});
    if (found == by_values.end()) continue;
    for (auto it = std::upper_bound(found->second.begin(), found->second.end(), e->serial);
         it != found->second.end(); ++it) {
      if (!claimed.insert(*it).second) continue;
      p.present.insert(e->key);
      ImportEntry done = *e;
      done.kind = ImportEntry::Kind::Done;
      done.serial = *it;
      p.settled.push_back(done);
      break;
    }
  }
  return p;
}

struct PlannedBill {
  LedgerBill bill;
  ImportEntry entry;  // the intent
};

// The export's bills as ledger bills, split into those to add and those the ledger holds.
std::vector<PlannedBill> plan(const ExportRead& read, const LedgerTable& table, const Presence& presence,
                              int* already, std::vector<RowNote>* notices) {
  std::vector<PlannedBill> add;
  std::set<ImportKey> seen = presence.present;
  const std::string channel = gbk(source_channel(read.source)), income = gbk("收入"), expense = gbk("支出");
  for (const ExportBill& b : read.bills) {
    ImportKey key{b.order, b.time, b.amount};
    if (!seen.insert(key).second) {
      ++*already;
      continue;
    }
    PlannedBill p;
    p.bill = LedgerBill{b.line, b.income ? income : expense, channel, b.remark, b.amount, b.time};
    if (p.bill.remark.size() > table.remark_limit) {
      p.bill.remark = std::string(cut_gbk(p.bill.remark, table.remark_limit));
      notices->push_back({b.line, "the remark is cut to " + std::to_string(p.bill.remark.size()) + " bytes"});
    }
    p.entry.kind = ImportEntry::Kind::Intent;
    p.entry.key = std::move(key);
    p.entry.income = b.income;
    p.entry.fingerprint = bill_fingerprint(p.bill.type, p.bill.channel, p.bill.remark);
    add.push_back(std::move(p));
  }
  return add;
}

// Appends the planned bills group by group, each group's intents on the disk before its records.
// Returns the number of bills stored; `*problem` is set when it could not store them all.
size_t write_groups(const std::vector<PlannedBill>& add, std::vector<ImportEntry> settled, int32_t highest,
                    size_t group_size, ImportLog& log, std::string* problem) {
  size_t stored = 0;
  group_size = std::max<size_t>(group_size, 1);
  for (size_t start = 0; start < add.size() || !settled.empty(); start += group_size) {
    const size_t end = std::min(add.size(), start + group_size);
    std::vector<ImportEntry> intents = std::move(settled);
    settled.clear();
    std::vector<LedgerBill> group;
    for (size_t i = start; i < end; ++i) {
      intents.push_back(add[i].entry);
      intents.back().serial = highest;
      group.push_back(add[i].bill);
    }
    if (!log.append(intents, true, problem)) return stored;
    if (group.empty()) break;
    std::vector<int32_t> serials;
    const DbCode rc = append_bill_group(group, &serials);
    std::vector<ImportEntry> done;
    for (size_t i = 0; i < serials.size(); ++i) {
      done.push_back(add[start + i].entry);
      done.back().kind = ImportEntry::Kind::Done;
      done.back().serial = serials[i];
      highest = std::max(highest, serials[i]);
    }
    stored += serials.size();
    if (!log.append(done, false, problem)) return stored;
    if (rc != DbCode::Ok) {
      std::string unsynced;
      std::ignore = log.sync(&unsynced);  // the done entries of the bills that were stored
      *problem =
          "lines " + std::to_string(group.front().line) + " to " + std::to_string(group.back().line) + ": " +
          store_message(rc) +
          (serials.empty() ? "; none of them was stored" : "; they are stored, some without their remark");
      return stored;
    }
  }
  std::ignore = log.sync(problem);
  return stored;
}

void print_counts(const ExportRead& read, size_t added, int already, bool dry_run, std::ostream& out) {
  out << (dry_run ? "would add " : "added ") << added << ", already there " << already << ", neutral skipped "
      << read.neutral << ", failed or closed skipped " << read.failed_or_closed << "\n";
}

// Reads the export; false (with `*status`) when it is an export that cannot be imported.
bool read_export(const std::string& export_arg, std::string_view bytes, const BillImportOptions& options,
                 ExportRead* read, bool* is_export, std::ostream& err, int* status) {
  ExportOptions eo;
  eo.force = options.force;
  eo.remark_limit = kMemoRemarkBytes;
  std::string problem;
  const ExportStatus st = read_bill_export(bytes, eo, read, &problem);
  *is_export = st != ExportStatus::NotAnExport;
  if (st == ExportStatus::Failed) {
    *status = fail(err, export_arg + ": " + problem);
    return false;
  }
  if (st == ExportStatus::Read && !read->errors.empty()) {
    for (const RowNote& e : read->errors) err << export_arg << ": line " << e.line << ": " << e.text << "\n";
    *status = fail(
        err, export_arg + ": " + std::to_string(read->errors.size()) + " bad row(s); nothing was written");
    return false;
  }
  return st == ExportStatus::Read;
}

bool open_ledger(const std::string& db_arg, bool read_only, LedgerTable* table, std::ostream& err,
                 int* status) {
  std::optional<std::string> path = utf8_to_gbk(db_arg);
  if (!path) return *status = fail(err, db_arg + ": the path has characters GBK cannot hold"), false;
  set_db_wait_time(kToolWaitMs);
  Text name(*path);
  Value ro = read_only ? Value::of_int(1) : Value{};
  if (!call_command(db_open, {name.value(), Value{}, ro}).lo) {
    *status = fail(err, db_arg + ": " + store_message(db_last_error()));
    return false;
  }
  std::string why;
  if (!read_ledger_table(table, &why)) {
    call_command(db_close, {});
    *status = fail(err, db_arg + ": " + why);
    return false;
  }
  return true;
}

// The lowest serial an open intent names: records above it may settle it.
int32_t lowest_open_intent(const std::vector<const ImportEntry*>& open) {
  int32_t lowest = INT32_MAX;
  for (const ImportEntry* e : open) lowest = std::min(lowest, e->serial);
  return lowest;
}

int run_import(const std::string& db_arg, const std::string& export_arg, const ExportRead& read,
               const BillImportOptions& options, const LedgerTable& table, std::ostream& out,
               std::ostream& err) {
  ImportLog log;
  std::string problem;
  FileSystem& fs = options.fs ? *options.fs : posix_file_system();
  if (!log.open(fs, table.full_path + std::string(kLogSuffix), !options.dry_run, &problem))
    return fail(err, problem);
  const std::vector<const ImportEntry*> open = open_intents(log.entries());
  LedgerFacts ledger;
  if (DbCode rc = walk_ledger(lowest_open_intent(open), &ledger); rc != DbCode::Ok) {
    return fail(err, db_arg + ": " + store_message(rc));
  }
  const Presence presence = resolve(log.entries(), open, ledger, table);
  int already = 0;
  std::vector<RowNote> notices = read.notices;
  const std::vector<PlannedBill> add = plan(read, table, presence, &already, &notices);
  for (const RowNote& n : notices) out << export_arg << ": line " << n.line << ": " << n.text << "\n";
  if (options.dry_run) {
    std::vector<LedgerBill> bills;
    for (const PlannedBill& p : add) bills.push_back(p.bill);
    out << "Bills from the " << source_name(read.source) << " export that are not in the ledger yet:\n";
    print_bill_table(bills, out);
    print_counts(read, add.size(), already, true, out);
    return 0;
  }
  const size_t stored =
      write_groups(add, presence.settled, ledger.highest_serial, options.group_size, log, &problem);
  print_counts(read, stored, already, false, out);
  if (!problem.empty()) {
    return fail(err, problem + "; " + std::to_string(stored) +
                         " bill(s) were added before it; importing again adds the rest");
  }
  return 0;
}

}  // namespace

DbCode append_bill_group(const std::vector<LedgerBill>& group, std::vector<int32_t>* serials) {
  serials->clear();
  const int32_t count = call_command(db_record_count, {}).int_payload();
  if (DbCode rc = db_last_error(); rc != DbCode::Ok || group.empty()) return rc;
  std::vector<Text> texts;
  texts.reserve(3 * group.size());
  std::vector<std::vector<Value>> rows;
  for (size_t i = 0; i < group.size(); ++i) {
    const LedgerBill& b = group[i];
    texts.emplace_back(b.type);
    const Value type = texts.back().value();
    texts.emplace_back(b.channel);
    const Value channel = texts.back().value();
    texts.emplace_back(b.remark);
    rows.push_back({Value::of_double(count + 1.0 + static_cast<double>(i)), type, Value::of_double(b.amount),
                    channel, Value::of_date_time(b.time), texts.back().value()});
  }
  const DbCode rc = db_append_rows(rows);
  // The group is stored whole or not at all; a remark that could not be stored leaves its bill.
  const auto n = static_cast<int32_t>(group.size());
  if (rc != DbCode::Ok && call_command(db_record_count, {}).int_payload() != count + n) return rc;
  // One hold of the count slot gives the group consecutive serials, the last one current.
  int32_t last = 0;
  if (DbCode read = db_current_serial(&last); read != DbCode::Ok) return rc != DbCode::Ok ? rc : read;
  for (int32_t i = 0; i < n; ++i) serials->push_back(last - n + 1 + i);
  return rc;
}

void print_bill_table(const std::vector<LedgerBill>& bills, std::ostream& out) {
  struct Row {
    std::string cells[6];
  };
  std::vector<Row> rows = {{{"行", "时间", "类型", "金额", "付款方式", "备注"}}};
  double expense = 0, income = 0;
  size_t expenses = 0;
  const std::string expense_type = gbk("支出");
  for (const LedgerBill& b : bills) {
    rows.push_back({{std::to_string(b.line), format_date_time(b.time), utf8(b.type), amount_text(b.amount),
                     utf8(b.channel), table_remark(utf8(b.remark))}});
    (b.type == expense_type ? expense : income) += b.amount;
    expenses += b.type == expense_type;
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
  out << bills.size() << " bill(s): 支出 " << expenses << ", total " << amount_text(expense) << "; 收入 "
      << bills.size() - expenses << ", total " << amount_text(income) << "\n";
}

bool import_bill_export(const std::string& db_arg, const std::string& export_arg, std::string_view bytes,
                        const BillImportOptions& options, std::ostream& out, std::ostream& err, int* status) {
  ExportRead read;
  bool is_export = false;
  *status = 1;
  if (!read_export(export_arg, bytes, options, &read, &is_export, err, status)) return is_export;
  LedgerTable table;
  if (!open_ledger(db_arg, options.dry_run, &table, err, status)) return true;
  *status = run_import(db_arg, export_arg, read, options, table, out, err);
  call_command(db_close, {});
  return true;
}

}  // namespace pennacle
