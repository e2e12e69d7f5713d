// This file is compiled with UTF-8 literals: everything it prints goes to a UTF-8 terminal. Texts
// for the store are converted to GBK where they cross.
#include "tools/kdbtool.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <sstream>
#include <tuple>

#include "ledger/bill.h"
#include "ledger/import/bill_csv.h"
#include "ledger/import/bill_import.h"
#include "ledger/import/bill_text.h"
#include "ledger/import/import_categories.h"
#include "platform/gbk.h"
#include "runtime/convert.h"
#include "runtime/value.h"
#include "store/check.h"
#include "store/record_read.h"
#include "store/record_store.h"
#include "tools/kdbtool_backup.h"
#include "tools/kdbtool_categories.h"
#include "tools/kdbtool_edit.h"
#include "tools/kdbtool_export.h"
#include "tools/kdbtool_ledger.h"
#include "tools/kdbtool_report.h"
#include "tools/kdbtool_text.h"
#include "tools/kdbtool_trash.h"

namespace pennacle {
namespace {

// Bills an import writes with one pair of sync barriers.
constexpr size_t kImportGroup = 1000;

const char* const kUsage =
    "usage: kdbtool <command> [options]\n"
    "commands:\n"
    "  create FILE [--field NAME:TYPE[:WIDTH] ...]  make a new record file (the ledger table by default)\n"
    "  check FILE                                    audit a record file and its auxiliary file\n"
    "  export FILE [--format F] [--from D] [--to D]  write the records as CSV, or a beancount, hledger or\n"
    "                                                ledger journal, on standard output\n"
    "  report FILE [--year Y] [--by B] [--html OUT]  sums per month, category or channel (and a page)\n"
    "  import FILE EXPORT [--from S] [--rules R] [--dry-run]  append bills from an export or a CSV\n"
    "  import --repair-log FILE                      rebuild FILE's record of imported bills\n"
    "  edit FILE SERIAL [--amount A ...]             fix one bill in place\n"
    "  backup FILE [DIR]                             snapshot FILE into DIR (default backups/ beside it)\n"
    "  restore SNAPSHOT FILE                         replace FILE with a snapshot (FILE kept as one more)\n"
    "  backups FILE [DIR]                            list FILE's snapshots with dates and bill counts\n"
    "  trash FILE                                    list the recycle bin, the bills deleted last first\n"
    "  undelete FILE SERIAL                          append a bill from the recycle bin again\n"
    "  categorize FILE [--rules R] [--all] [--dry-run]  give bills their categories by rules\n"
    "  category FILE SERIAL NAME                     set one bill's category by hand\n"
    "  categories FILE                               list the categories with counts and sums\n"
    "A FILE left out is the ledger Pennacle opens: $PENNACLE_HOME/data.kdb, the one beside the program,\n"
    "or (installed from the package) ~/.local/share/pennacle/data.kdb.\n"
    "Run 'kdbtool <command> --help' for more.\n";

// The ledger's table is written in by create_help().
const char* const kCreateHelp =
    "usage: kdbtool create FILE [--field NAME:TYPE[:WIDTH] ...]\n"
    "Makes a new, empty record file; an existing file is never overwritten.\n"
    "Without --field the file gets the ledger's table:\n"
    "  %s\n"
    "TYPE is one of byte, short, int, int64, float, double, logical, datetime, subroutine, text (with a\n"
    "WIDTH in bytes), byteset, memo. A table with byteset or memo fields also gets FILE's .KDT file.\n";

const char* const kCheckHelp =
    "usage: kdbtool check FILE\n"
    "Reads the header, the fields, every record, every memo and byte-set chain and the free list of the\n"
    "auxiliary file, changes nothing, and prints what it found. Exit status 0 when the file is sound.\n";

const char* const kImportHelp =
    "usage: kdbtool import FILE EXPORT [--from alipay|wechat] [--rules RULES] [--dry-run]\n"
    "       kdbtool import --repair-log FILE\n"
    "Appends ledger bills from a bill export of Alipay or WeChat Pay, or from our own CSV.\n"
    "\n"
    "Bill exports are recognised by their header row: Alipay CSV (GBK, every layout since the PC web\n"
    "export), WeChat Pay CSV (UTF-8) and XLSX. --from forces one of them. Each bill gets 类型 支出 or\n"
    "收入, the absolute 金额, 付款方式 支付宝 or 微信, the trade time as 时间 and\n"
    "\"交易对方 · 商品说明\" as 备注, cut on a character boundary to 500 bytes (or to the\n"
    "width of a text field). Each bill's net effect is the money that really moved:\n"
    "- Only trades whose status says the money moved are bills (交易成功, 支付成功, 等待确认收货,\n"
    "  已存入零钱, 已收钱, 已转账, 退款成功, 已全额退款, 还款成功, ...). Trades where it has not moved\n"
    "  yet (等待付款, 处理中, 退款中, 待支付, an empty status, ...) are counted as pending; failed or\n"
    "  closed ones as such; a status on neither list is not guessed at: the row is skipped, counted\n"
    "  as unknown status, and the first few are named with their line.\n"
    "- Neutral rows (收/支 不计收支 or /: top-ups, withdrawals, transfers) are skipped and counted.\n"
    "- A refund is booked exactly when the payment it refunds is booked, on the other side. It is\n"
    "  linked by order number first (the refund's begins with the payment's), then by merchant order\n"
    "  number with an amount no larger than the payment's; a paid payment before a closed attempt.\n"
    "  Payment 支出 80, refund 80 (收/支 收入 or 不计收支): 支出 80 and 收入 80.\n"
    "  Sale 收入 30, the seller's refund 30 (收/支 支出): 收入 30 and 支出 30.\n"
    "  Payment 100 still 交易成功, refund 30: 支出 100 and 收入 30.\n"
    "  Payment 50 shown as 交易关闭, refund 50: nothing; the money did not move. A closed attempt\n"
    "  and a paid one of the same merchant order, and a refund 50: 支出 50 and 收入 50.\n"
    "  Payment in January's export, refund in February's: whichever is imported first is\n"
    "  remembered; the refund is booked when both have been seen. A refund whose payment has not\n"
    "  been seen is counted as refund without its payment, and booked when its payment arrives.\n"
    "No bill is added twice: two rows are the same bill when order number, time, amount and side\n"
    "agree and the order number is not empty; rows without one are never merged. FILE.imports beside\n"
    "the ledger records what was imported; a bill that the ledger no longer holds (deleted, or lost\n"
    "by restoring an older backup) is imported again. When that record is missing or rebuilt, a\n"
    "live bill with the same time, amount, side and channel that no other row claimed counts as\n"
    "already there. An import cut short is finished by importing the same export again.\n"
    "--dry-run lists the bills that would be added, with totals, and writes nothing.\n"
    "Each bill added gets a category (FILE.categories): the rules' (RULES, else rules.yaml beside FILE;\n"
    "see kdbtool categorize), else the export's own 交易分类 (Alipay), else none (未分类); a row a\n"
    "rule marks ignore is skipped and counted. A CSV with a column 分类 (as kdbtool export writes it)\n"
    "gives its bills that category, set by hand. A matching rule's methodAccount is kept for the bill\n"
    "in FILE.accounts, for a journal export (see kdbtool export).\n"
    "A line of FILE.imports that fails its checksum before its torn end stops every import: run\n"
    "--repair-log, which rebuilds the record from its sound lines, names the lines it dropped and\n"
    "keeps the damaged file as FILE.imports.damaged.\n"
    "\n"
    "Rows and cells: in a CSV export each row has as many cells as the header (a trailing comma is no\n"
    "cell); any other row is a bad row (an unquoted \"1,234.56\" makes two cells). A text amount is a\n"
    "plain decimal, thousands commas in groups of three, below 1e12; a workbook's number cells are read\n"
    "in any form it stores (7.0000000000000007E-2 is 0.07). Every worksheet is searched for the header,\n"
    "in workbook order, and a workbook's rows are named by sheet and row. EXPORT is a file or a pipe of\n"
    "at most 256 MB; an empty one is not an export.\n"
    "\n"
    "Our own CSV (UTF-8): columns %s (a header row naming them may come first\n"
    "and may carry other columns; the last two may be left out; the time defaults to now).\n"
    "\n"
    "Every row is checked before anything is written: the amount must be above 0.0000001, the type and\n"
    "the payment channel not empty, the time a date and time. A bad row writes nothing.\n"
    "Our own CSV is written in groups of 1000, and each group is on the disk before the next one starts.\n"
    "Such an import cut short (power loss, the process killed) keeps every group written before the cut\n"
    "whole and loses the group being written, never half a bill: check which bills are there with\n"
    "'kdbtool export FILE' before importing the rest again.\n";

bool parse_type(std::string t, FieldType* out) {
  static const std::map<std::string, FieldType> kTypes = {{"byte", FieldType::Byte},
                                                          {"short", FieldType::Short},
                                                          {"int", FieldType::Int},
                                                          {"int64", FieldType::Int64},
                                                          {"long", FieldType::Int64},
                                                          {"float", FieldType::Float},
                                                          {"double", FieldType::Double},
                                                          {"logical", FieldType::Logical},
                                                          {"bool", FieldType::Logical},
                                                          {"datetime", FieldType::DateTime},
                                                          {"subroutine", FieldType::Subroutine},
                                                          {"text", FieldType::Text},
                                                          {"byteset", FieldType::ByteSet},
                                                          {"memo", FieldType::Memo}};
  for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto it = kTypes.find(t);
  if (it == kTypes.end()) return false;
  *out = it->second;
  return true;
}

const char* type_name(FieldType t) {
  switch (t) {
    case FieldType::Byte:
      return "byte";
    case FieldType::Short:
      return "short";
    case FieldType::Int:
      return "int";
    case FieldType::Int64:
      return "int64";
    case FieldType::Float:
      return "float";
    case FieldType::Double:
      return "double";
    case FieldType::Logical:
      return "logical";
    case FieldType::DateTime:
      return "datetime";
    case FieldType::Subroutine:
      return "subroutine";
    case FieldType::Text:
      return "text";
    case FieldType::ByteSet:
      return "byteset";
    case FieldType::Memo:
      return "memo";
  }
  return "?";
}

// A help text with its one "%s" replaced by `fill`.
std::string help_with(std::string_view help, const std::string& fill) {
  std::string s(help);
  if (const size_t at = s.find("%s"); at != std::string::npos) s.replace(at, 2, fill);
  return s;
}

std::string create_help() {
  std::string table;
  for (const FieldSpec& f : bill_table_fields()) {
    table += (table.empty() ? "" : ", ") + utf8(f.name) + " " + type_name(f.type);
    if (f.type == FieldType::Text) table += ":" + std::to_string(f.width);
  }
  return help_with(kCreateHelp, table);
}

int create(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << create_help(), 0;
  if (args.empty()) return fail(err, "create needs a FILE (see kdbtool create --help)");
  std::vector<FieldSpec> fields;
  bool custom = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] != "--field" || i + 1 >= args.size())
      return fail(err, "unexpected argument '" + args[i] + "'");
    custom = true;
    const std::string definition = args[++i];
    const size_t c1 = definition.find(':');
    if (c1 == std::string::npos) return fail(err, "field '" + definition + "' needs NAME:TYPE");
    const size_t c2 = definition.find(':', c1 + 1);
    FieldSpec f;
    std::optional<std::string> name = utf8_to_gbk(definition.substr(0, c1));
    if (!name)
      return fail(err, "field name '" + definition.substr(0, c1) + "' has characters GBK cannot hold");
    f.name = *name;
    if (!parse_type(definition.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1),
                    &f.type)) {
      return fail(err, "field '" + definition + "': unknown type");
    }
    if (c2 != std::string::npos) {
      const std::string w = definition.substr(c2 + 1);
      if (w.empty() || w.size() > 9 || w.find_first_not_of("0123456789") != std::string::npos) {
        return fail(err, "field '" + definition + "': WIDTH must be a number");
      }
      f.width = std::stoi(w);
    }
    fields.push_back(std::move(f));
  }
  if (!custom) fields = bill_table_fields();
  std::string path;
  if (!to_gbk(args[0], &path, err)) return 1;
  if (DbCode rc = create_database(path, fields); rc != DbCode::Ok) {
    return fail(err, args[0] + ": " + store_code_text(rc) +
                         (rc == DbCode::CreateFailed ? "; the file may already exist" : ""));
  }
  return 0;
}

int check(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << kCheckHelp, 0;
  if (args.size() != 1) return fail(err, "check needs exactly one FILE (see kdbtool check --help)");
  std::string path;
  if (!to_gbk(args[0], &path, err)) return 1;
  CheckReport r = check_database(path);
  for (const std::string& line : r.lines) out << line << "\n";
  out << r.records << " records (" << r.live << " live, " << r.deleted << " deleted)";
  if (r.blocks > 0) {
    out << "; auxiliary file: " << r.blocks << " blocks, " << r.chain_blocks << " in chains, "
        << r.free_blocks << " free";
  }
  out << "\n" << (r.sound ? "sound" : "NOT sound") << "\n";
  return r.sound ? 0 : 1;
}

// Opens FILE as the program does (or read-only); prints the store's message on failure.
bool open_database(const std::string& arg, bool read_only, std::ostream& err) {
  const Status opened = open_record_file(arg, read_only);
  if (!opened.ok()) fail(err, opened.message());
  return opened.ok();
}

void close_database() { call_command(db_close, {}); }

struct ImportArgs {
  std::vector<std::string> files;
  BillImportOptions options;
  bool repair_log = false;
  std::string rules;  // --rules
};

bool parse_import_args(const std::vector<std::string>& args, ImportArgs* out, std::ostream& err) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--dry-run") {
      out->options.dry_run = true;
    } else if (args[i] == "--repair-log") {
      out->repair_log = true;
    } else if (args[i] == "--from" && i + 1 < args.size() &&
               (args[i + 1] == "alipay" || args[i + 1] == "wechat")) {
      out->options.force = args[++i] == "alipay" ? ExportSource::Alipay : ExportSource::WeChat;
    } else if (args[i] == "--from") {
      return fail(err, "--from takes alipay or wechat"), false;
    } else if (args[i] == "--rules" && i + 1 < args.size()) {
      out->rules = args[++i];
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      // "-" alone is a file name; a file whose name begins with "-" is given as "./-name".
      return fail(err, "unknown option '" + args[i] + "' (see kdbtool import --help)"), false;
    } else {
      out->files.push_back(args[i]);
    }
  }
  if (out->repair_log && (out->files.size() != 1 || out->options.dry_run || out->options.force)) {
    return fail(err, "--repair-log takes the ledger FILE only (see kdbtool import --help)"), false;
  }
  if (!out->repair_log && out->files.size() != 2)
    return fail(err, "import needs FILE and EXPORT (see kdbtool import --help)"), false;
  return true;
}

int not_recognised(std::ostream& err, const std::string& file, const std::string& why) {
  return fail(err, file + ": not a bill export and not a ledger CSV (" + why +
                       "): " + expected_export_headers() + "; a ledger CSV has rows " + bill_csv_row_shape() +
                       " in UTF-8");
}

// Lists the bills (--dry-run) or appends them group by group.
int write_csv_bills(const std::vector<CsvBill>& bills, const ImportArgs& ia, const BillTable& table,
                    std::ostream& out, std::ostream& err) {
  if (ia.options.dry_run) {
    close_database();
    std::vector<ImportedBill> table;
    for (const CsvBill& b : bills) table.push_back({b.line, b.bill});
    print_bill_table(table, out);
    return 0;
  }
  ImportCategoryWriter categories;
  if (Status s = categories.open(posix_file_system(), table, nullptr); !s.ok()) {
    close_database();
    return fail(err, s.message());
  }
  size_t written = 0;
  for (size_t from = 0; from < bills.size(); from += kImportGroup) {
    const size_t to = std::min(bills.size(), from + kImportGroup);
    std::vector<Bill> group;
    for (size_t i = from; i < to; ++i) group.push_back(bills[i].bill);
    std::vector<int32_t> serials;
    if (DbCode rc = append_bills(group, &serials); rc != DbCode::Ok) {
      close_database();
      // A value that could not be stored (a remark) still leaves its bill; any other failure
      // writes nothing of the group.
      if (serials.size() == to - from) {
        return fail(err, ia.files[0] + ": lines " + std::to_string(bills[from].line) + " to " +
                             std::to_string(bills[to - 1].line) + ": " + store_code_text(rc) +
                             "; those bills are stored, some without their remark");
      }
      return fail(err, ia.files[0] + ": line " + std::to_string(bills[from].line) + ": " +
                           store_code_text(rc) + "; " + std::to_string(written) +
                           " bill(s) were written before it");
    }
    written = to;
    if (Status s = categories.stored(group, csv_categories(bills, from, to, ia.options.rules), serials);
        !s.ok()) {
      close_database();
      return fail(err, s.message() + "; " + std::to_string(written) + " bill(s) were written, the last " +
                           std::to_string(to - from) + " without their categories");
    }
  }
  close_database();
  out << written << " bill(s) imported\n";
  return 0;
}

// The export's bytes, unless it is no file with an export in it; false with a message.
bool read_import_file(const std::string& file, std::string* text, std::ostream& err) {
  Result<std::string> read = read_export_input(file, kMaxExportBytes);
  if (!read.ok()) return fail(err, read.status().message()), false;
  if (blank_export(*read)) return fail(err, file + ": the file is empty: not an export"), false;
  *text = std::move(*read);
  return true;
}

int import_csv(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << help_with(kImportHelp, bill_csv_row_shape()), 0;
  ImportArgs ia;
  if (!parse_import_args(args, &ia, err)) return 1;
  if (ia.repair_log) {
    const Status repaired = repair_import_record(ia.files[0], nullptr, out);
    return repaired.ok() ? 0 : fail(err, repaired.message());
  }
  const std::string& csv_file = ia.files[1];
  std::string text;
  if (!read_import_file(csv_file, &text, err)) return 1;
  Result<std::optional<CategoryRules>> rules = rules_for_bills(ia.files[0], ia.rules);
  if (!rules.ok()) return fail(err, rules.status().message() + "; nothing was imported");
  ia.options.rules = *rules ? &**rules : nullptr;
  const Status exported = import_bill_export(ia.files[0], csv_file, text, ia.options, out, err);
  if (exported.code() != StatusCode::NotFound) return exported.ok() ? 0 : fail(err, exported.message());
  Result<BillCsv> csv = parse_bill_csv(text);
  if (!csv.ok()) {
    if (csv.status().code() == StatusCode::NotFound)
      return not_recognised(err, csv_file, csv.status().message());
    return fail(err, csv_file + ": " + csv.status().message());
  }
  if (!open_database(ia.files[0], ia.options.dry_run, err)) return 1;
  Result<BillTable> table = current_bill_table();
  if (!table.ok()) {
    close_database();
    return fail(err, ia.files[0] + ": " + table.status().message());
  }
  std::vector<CsvRowError> bad;
  const std::vector<CsvBill> bills = csv_bills(*csv, *table, current_date_time(), &bad);
  for (const CsvRowError& e : bad) err << csv_file << ": line " << e.line << ": " << e.text << "\n";
  if (!bad.empty()) {
    close_database();
    return fail(err, csv_file + ": " + std::to_string(bad.size()) + " bad row(s); nothing was written");
  }
  return write_csv_bills(bills, ia, *table, out, err);
}

}  // namespace

int kdbtool_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return 1;
  }
  const std::string& cmd = args[0];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") return out << kUsage, 0;
  Result<DefaultLedger> filled = with_default_ledger(cmd, {args.begin() + 1, args.end()});
  if (!filled.ok()) return fail(err, filled.status().message());
  std::vector<std::string>& rest = filled->args;
  // The default ledger's directory may not be there yet on a first `kdbtool create`.
  if (cmd == "create" && filled->ledger) {
    if (Status made = make_ledger_directory(*filled->ledger); !made.ok()) return fail(err, made.message());
  }
  if (int stop = stop_after_interrupted_restore(cmd, rest, err)) return stop;
  if (cmd == "create") return create(rest, out, err);
  if (cmd == "check") return check(rest, out, err);
  if (cmd == "export") return kdbtool_export(rest, out, err);
  if (cmd == "report") return kdbtool_report(rest, out, err);
  if (cmd == "import") return import_csv(rest, out, err);
  if (cmd == "edit") return kdbtool_edit(rest, out, err);
  if (cmd == "backup") return kdbtool_backup(rest, out, err);
  if (cmd == "restore") return kdbtool_restore(rest, out, err);
  if (cmd == "backups") return kdbtool_backups(rest, out, err);
  if (cmd == "trash") return kdbtool_trash(rest, out, err);
  if (cmd == "undelete") return kdbtool_undelete(rest, out, err);
  if (cmd == "categorize") return kdbtool_categorize(rest, out, err);
  if (cmd == "category") return kdbtool_category(rest, out, err);
  if (cmd == "categories") return kdbtool_categories(rest, out, err);
  err << "kdbtool: unknown command '" << cmd << "'\n" << kUsage;
  return 1;
}

}  // namespace pennacle
