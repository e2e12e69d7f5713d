// This file is compiled with UTF-8 literals: everything it prints goes to a UTF-8 terminal.
#include "tools/kdbtool_edit.h"

#include <cmath>
#include <ostream>

#include "ledger/amount_text.h"
#include "ledger/bill_edit.h"
#include "ledger/import/bill_csv.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "store/record_store.h"
#include "tools/kdbtool_text.h"

namespace pennacle {
namespace {

const char* const kEditHelp =
    "usage: kdbtool edit FILE SERIAL [--type T] [--amount A] [--channel C]\n"
    "                    [--time \"YYYY-MM-DD HH:MM:SS\"] [--remark R]\n"
    "Fixes the bill with SERIAL in place (the ledger numbers bills 1, 2, 3 ... in the order they are\n"
    "stored and never gives a deleted bill's number again): it keeps its serial and its place, and\n"
    "only the values given change. The bill is checked as a new one is: the type and the channel not empty,\n"
    "the amount a number above 0.0000001, texts no longer than their fields (the remark 500 bytes),\n"
    "nothing cut. The bill is printed before and after. Safe while Pennacle runs: a bill the window\n"
    "is changing at that moment is left unchanged with a message. Once the edit is reported, it\n"
    "survives a power cut; a cut before leaves the bill as it was.\n";

// The value of one option, UTF-8; false with a message when it is missing.
bool option_value(const std::vector<std::string>& args, size_t* i, std::string* out, std::ostream& err) {
  if (*i + 1 >= args.size()) return fail(err, args[*i] + " needs a value (see kdbtool edit --help)"), false;
  *out = args[++*i];
  return true;
}

bool gbk_option(const std::string& name, const std::string& value, std::optional<std::string>* out,
                std::ostream& err) {
  std::optional<std::string> g = utf8_to_gbk(value);
  if (!g) return fail(err, name + " '" + value + "' has characters GBK cannot hold"), false;
  *out = std::move(*g);
  return true;
}

// One option and its value into `c`; false with a message.
bool parse_option(const std::vector<std::string>& args, size_t* i, BillChange* c, std::ostream& err) {
  const std::string name = args[*i];
  std::string v;
  if (name != "--type" && name != "--amount" && name != "--channel" && name != "--time" && name != "--remark")
    return fail(err, "unknown option '" + name + "' (see kdbtool edit --help)"), false;
  if (!option_value(args, i, &v, err)) return false;
  if (name == "--type") return gbk_option(name, v, &c->type, err);
  if (name == "--channel") return gbk_option(name, v, &c->channel, err);
  if (name == "--remark") return gbk_option(name, v, &c->remark, err);
  if (name == "--amount") {
    // A plain decimal, as the window's entry and the CSV take it; the rules are edit_bill's.
    if (v.empty() || v.find_first_not_of("0123456789.+-eE") != std::string::npos)
      return fail(err, "--amount '" + v + "' is not a number"), false;
    c->amount = text_to_double(v);
    return true;
  }
  double t = 0;
  if (!parse_date_time(v, &t)) return fail(err, "--time '" + v + "' is not YYYY-MM-DD[ HH:MM[:SS]]"), false;
  c->time = t;
  return true;
}

// "12", and nothing else, is a serial.
bool parse_serial(const std::string& s, int32_t* out) {
  if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  const long long v = std::stoll(s);
  if (v < 1 || v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

void print_bill(const char* when, const Bill& b, std::ostream& out) {
  out << when << "  " << b.serial << "  " << utf8(b.type) << "  " << exact_amount_text(b.amount) << "  "
      << utf8(b.channel) << "  " << format_date_time(b.time) << "  " << utf8(b.remark) << "\n";
}

}  // namespace

int kdbtool_edit(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << kEditHelp, 0;
  if (args.size() < 2) return fail(err, "edit needs FILE and SERIAL (see kdbtool edit --help)");
  int32_t serial = 0;
  if (!parse_serial(args[1], &serial))
    return fail(err, "SERIAL '" + args[1] + "' is not a bill's serial (1 or more)");
  BillChange change;
  for (size_t i = 2; i < args.size(); ++i) {
    if (!parse_option(args, &i, &change, err)) return 1;
  }
  if (change.empty())
    return fail(err, "edit needs at least one of --type, --amount, --channel, --time, --remark");
  const Status opened = open_record_file(args[0], false);
  if (!opened.ok() && opened.store_code() == code_number(DbCode::LockFile))
    return fail(err, opened.message() + ": another program is changing the ledger; nothing was changed");
  if (!opened.ok()) return fail(err, opened.message());
  Result<BillEdit> edited = edit_bill(serial, change);
  call_command(db_close, {});
  if (!edited.ok()) return fail(err, args[0] + ": " + edited.status().message());
  print_bill("before", edited->before, out);
  print_bill("after ", edited->after, out);
  if (!edited->category.ok()) {
    err << "kdbtool: the bill's category did not follow the edit (" << edited->category.message()
        << "); set it again with kdbtool category\n";
  }
  if (!edited->method_account.ok()) {
    err << "kdbtool: the bill's method account did not follow the edit (" << edited->method_account.message()
        << "); kdbtool categorize --all sets it again when a rule matches the bill\n";
  }
  return 0;
}

}  // namespace pennacle
