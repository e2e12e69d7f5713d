// This file is compiled with UTF-8 literals: everything it prints goes to a UTF-8 terminal.
#include "tools/kdbtool_export.h"

#include <cmath>
#include <ostream>
#include <tuple>

#include "ledger/amount_text.h"
#include "ledger/bill.h"
#include "ledger/import/bill_csv.h"
#include "ledger/journal_writer.h"
#include "platform/gbk.h"
#include "platform/hex.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "store/record_read.h"
#include "store/record_store.h"
#include "tools/kdbtool_categories.h"
#include "tools/kdbtool_text.h"

namespace pennacle {
namespace {

const char* const kExportHelp =
    "usage: kdbtool export FILE [--format csv|beancount|hledger|ledger] [--from DATE] [--to DATE]\n"
    "                           [--rules RULES] [--all]\n"
    "Writes the records on standard output (UTF-8).\n"
    "csv (the default): the live records as CSV (RFC 4180) with a header row of field names; date-times\n"
    "as YYYY-MM-DD HH:MM:SS, amounts exactly (two decimals when those are exact, else every digit the\n"
    "number has), other numbers as the shortest decimal that reads back the same. A ledger's bills get\n"
    "a column 分类 after their fields: each bill's category (未分类 for none). --all adds deleted\n"
    "records and a last column 'deleted' (1 for a deleted record).\n"
    "beancount, hledger, ledger: the ledger's bills as a journal that bean-check, hledger check --strict\n"
    "and ledger --pedantic accept: each bill a transaction between the channel's account (支付宝\n"
    "Assets:Alipay, 微信 Assets:WeChat, ...) and the category's (Expenses:... or Income:...), time,\n"
    "channel, serial, category and remark as metadata. The rules file (--rules RULES, else rules.yaml\n"
    "beside FILE) may name accounts in a section 'accounts'. A bill given a method account by a rule's\n"
    "methodAccount (kept in FILE.accounts by import and categorize) posts its channel side there\n"
    "instead. See the README for the account names.\n"
    "--from and --to (YYYY-MM-DD, both days included) limit the bills written.\n";

// The argument after `at`, for an option that takes one.
bool option_value(const std::vector<std::string>& args, size_t at, std::string* value) {
  if (at + 1 >= args.size()) return false;
  *value = args[at + 1];
  return true;
}

std::string cell_of(Value& v, bool amount) {
  switch (v.kind_code()) {
    case Kind::DateTime:
      return format_date_time(v.double_payload());
    case Kind::Text:
      return gbk_to_utf8_lossy(Text::from_result(v).view());
    case Kind::ByteSet:
      return lower_hex(ByteSet::from_result(v).view());
    case Kind::SubroutineRef:
      return std::to_string(v.lo);
    case Kind::Float:
    case Kind::Double:
      return amount ? exact_amount_text(value_to_double(v)) : shortest_number_text(value_to_double(v));
    default:
      return gbk_to_utf8_lossy(value_to_text(v));
  }
}

// A ledger's bills get a column 分类 after their fields (before --all's 'deleted').
Result<std::string> records_csv(const DatabaseInfo& info, const DateRange& range, bool all) {
  const bool ledger = current_bill_table().ok();
  Result<std::optional<CategoryColumn>> categories = CategoryColumn::for_current_database();
  if (!categories.ok()) return categories.status();
  std::string csv;
  for (size_t i = 0; i < info.fields.size(); ++i)
    csv += (i ? "," : "") + csv_cell(gbk_to_utf8_lossy(info.fields[i].name));
  if (*categories) csv += ",分类";
  csv += all ? ",deleted\r\n" : "\r\n";
  const int32_t count = call_command(db_record_count, {}).int_payload();
  DbCode rc = db_last_error();
  call_command(db_go_first, {});
  std::vector<Value> numbers;  // every field, read with the serial under one hold of the record
  for (size_t i = 0; i < info.fields.size(); ++i)
    numbers.push_back(Value::of_int(static_cast<int32_t>(i + 1)));
  RecordRead read;
  for (int32_t k = 0; k < count && rc == DbCode::Ok; ++k, std::ignore = db_skip_within(count)) {
    if ((rc = db_read_record(numbers, &read)) != DbCode::Ok) break;
    const int32_t serial = read.serial();
    if (serial <= 0 && !all) continue;
    std::string row;
    bool in_range = true;
    for (size_t i = 0; i < read.size(); ++i) {
      Value v = read.value(i);
      // In a ledger's table the range is judged by 时间; other tables take no range.
      if (ledger && i + 1 == static_cast<size_t>(BillField::Time) && v.is(Kind::DateTime))
        in_range = range.contains(v.double_payload());
      row += (i ? "," : "") + csv_cell(cell_of(v, ledger && i + 1 == static_cast<size_t>(BillField::Amount)));
    }
    if (*categories && rc == DbCode::Ok) row += "," + csv_cell((*categories)->current_cell(serial));
    if (in_range) csv += row + (all ? (serial < 0 ? ",1\r\n" : ",0\r\n") : "\r\n");
  }
  if (rc != DbCode::Ok) return store_status(rc);
  return csv;
}

// The default accounts, with the rules file's `accounts` section over them.
Result<AccountMap> journal_accounts(const std::string& file, const std::string& rules_arg) {
  AccountMap map = AccountMap::defaults();
  Result<std::optional<CategoryRules>> rules = rules_for(file, rules_arg);
  if (!rules.ok()) return rules.status();
  if (*rules) {
    for (const auto& [name, account] : (*rules)->channel_accounts()) map.channels[name] = account;
    for (const auto& [name, account] : (*rules)->category_accounts()) map.categories[name] = account;
  }
  return map;
}

// The current ledger's bills in `range`, packed for a journal.
Result<JournalRows> journal_rows_of(const DateRange& range) {
  Result<BillTable> table = current_bill_table();
  if (!table.ok()) return table.status();
  return read_journal_rows(range);
}

struct ExportArgs {
  std::string file, format = "csv", rules;
  bool all = false;
  DateRange range;
};

Result<ExportArgs> parse_export_args(const std::vector<std::string>& args) {
  ExportArgs ea;
  std::vector<std::string> rest;
  Result<DateRange> range = parse_date_range(args, &rest);
  if (!range.ok()) return range.status();
  ea.range = *range;
  std::vector<std::string> files;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == "--all") {
      ea.all = true;
    } else if (rest[i] == "--rules") {
      if (!option_value(rest, i++, &ea.rules)) return Status::invalid("--rules takes a rules file");
    } else if (rest[i] == "--format") {
      if (!option_value(rest, i++, &ea.format))
        return Status::invalid("--format takes csv, beancount, hledger or ledger");
    } else if (rest[i].size() > 1 && rest[i][0] == '-') {
      return Status::invalid("unknown option '" + rest[i] + "' (see kdbtool export --help)");
    } else {
      files.push_back(rest[i]);
    }
  }
  if (files.size() != 1) return Status::invalid("export needs exactly one FILE (see kdbtool export --help)");
  ea.file = files[0];
  if (ea.format != "csv" && ea.format != "beancount" && ea.format != "hledger" && ea.format != "ledger")
    return Status::invalid("--format takes csv, beancount, hledger or ledger, not '" + ea.format + "'");
  if (ea.all && ea.format != "csv") return Status::invalid("--all goes with --format csv only");
  return ea;
}

// Writes the journal of `rows`, after telling which bills it leaves out. Nothing is written when an
// account cannot be named.
int write_journal_out(const ExportArgs& ea, const Result<JournalRows>& rows, const AccountMap& accounts,
                      std::ostream& out, std::ostream& err) {
  const JournalFormat format = ea.format == "beancount" ? JournalFormat::Beancount
                               : ea.format == "hledger" ? JournalFormat::Hledger
                                                        : JournalFormat::Ledger;
  Result<JournalWriter> writer =
      rows.ok() ? JournalWriter::make(*rows, format, accounts) : Result<JournalWriter>(rows.status());
  if (!writer.ok()) return fail(err, ea.file + ": " + writer.status().message());
  for (int32_t serial : writer->left_out()) {
    err << "kdbtool: " << ea.file << ": the bill with serial " << serial
        << " has an amount that is no finite number; it is left out of the journal\n";
  }
  for (const std::string& note : writer->notes()) err << "kdbtool: " << ea.file << ": " << note << "\n";
  writer->write([&out](std::string_view piece) {
    out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  });
  return 0;
}

}  // namespace

Result<DateRange> parse_date_range(const std::vector<std::string>& args, std::vector<std::string>* rest) {
  DateRange range;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--from" && args[i] != "--to") {
      rest->push_back(args[i]);
      continue;
    }
    std::string value;
    double day = 0;
    if (!option_value(args, i, &value) || value.size() != 10 || !parse_date_time(value, &day))
      return Status::invalid(args[i] + " takes a date YYYY-MM-DD");
    ++i;
    // A whole number is a day's midnight: --to ends at the next one.
    (args[i - 1] == "--from" ? range.from : range.to) = args[i - 1] == "--from" ? day : day + 1;
  }
  if (range.from >= range.to) return Status::invalid("--from comes after --to: no day is left");
  return range;
}

int kdbtool_export(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << kExportHelp, 0;
  Result<ExportArgs> ea = parse_export_args(args);
  if (!ea.ok()) return fail(err, ea.status().message());
  if (Status opened = open_record_file(ea->file, true); !opened.ok()) return fail(err, opened.message());
  if (ea->format != "csv") {
    Result<AccountMap> accounts = journal_accounts(ea->file, ea->rules);
    // The bills are read whole before the file is closed; the journal is written from them.
    const Result<JournalRows> rows =
        accounts.ok() ? journal_rows_of(ea->range) : Result<JournalRows>(accounts.status());
    call_command(db_close, {});
    return write_journal_out(*ea, rows, accounts.ok() ? *accounts : AccountMap(), out, err);
  }
  DatabaseInfo info;
  std::ignore = db_current_info(&info);  // open_record_file made it the current one
  const bool bounded = std::isfinite(ea->range.from) || std::isfinite(ea->range.to);
  const Result<std::string> text =
      bounded && !current_bill_table().ok()
          ? Result<std::string>(Status::invalid("--from and --to need a ledger's table (a 时间 field)"))
          : records_csv(info, ea->range, ea->all);
  call_command(db_close, {});
  if (!text.ok()) return fail(err, ea->file + ": " + text.status().message());
  out << *text;
  return 0;
}

}  // namespace pennacle
