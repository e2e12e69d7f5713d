#include "tools/kdbtool_ledger.h"

#include <string_view>

#include "tools/kdbtool_text.h"

namespace pennacle {
namespace {

// Options that take the next argument as their value: it is no FILE.
bool takes_value(std::string_view option) {
  for (std::string_view o : {"--field", "--from", "--to", "--format", "--year", "--by", "--html", "--rules",
                             "--type", "--amount", "--channel", "--time", "--remark"})
    if (option == o) return true;
  return false;
}

// The arguments that are neither options nor an option's value. Options begin with "--" (and
// "-h"); "-" alone is a file name and "-2" a (bad) number.
size_t positional_count(const std::vector<std::string>& args) {
  size_t n = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i].rfind("--", 0) == 0 || args[i] == "-h") {
      if (takes_value(args[i])) ++i;
      continue;
    }
    ++n;
  }
  return n;
}

// The first argument that is no option nor an option's value, or "" when there is none.
std::string first_positional(const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i].rfind("--", 0) == 0 || args[i] == "-h") {
      if (takes_value(args[i])) ++i;
      continue;
    }
    return args[i];
  }
  return {};
}

// A SERIAL as given, good or bad ("12", "-2"): a command whose first name reads so was given no FILE.
bool reads_as_number(std::string_view a) {
  if (!a.empty() && (a[0] == '-' || a[0] == '+')) a.remove_prefix(1);
  return !a.empty() && a.find_first_not_of("0123456789") == std::string_view::npos;
}

bool has(const std::vector<std::string>& args, std::string_view option) {
  for (const std::string& a : args)
    if (a == option) return true;
  return false;
}

enum class Fill { None, First, Last };

// Where `command` wants the ledger filled in, given what it was given.
Fill fill_for(const std::string& command, const std::vector<std::string>& args) {
  const size_t n = positional_count(args);
  if (command == "create" || command == "check" || command == "export" || command == "backup" ||
      command == "backups" || command == "report") {
    return n == 0 ? Fill::First : Fill::None;
  }
  if (command == "import") return n == (has(args, "--repair-log") ? 0u : 1u) ? Fill::First : Fill::None;
  if (command == "restore") return n == 1 ? Fill::Last : Fill::None;
  if (command == "trash" || command == "categorize" || command == "categories")
    return n == 0 ? Fill::First : Fill::None;
  // These take FILE SERIAL (and a NAME): left out, the first name is the serial.
  const bool serial_first = reads_as_number(first_positional(args));
  if (command == "undelete" || command == "edit") return n == 1 && serial_first ? Fill::First : Fill::None;
  if (command == "category") return n == 2 && serial_first ? Fill::First : Fill::None;
  return Fill::None;
}

}  // namespace

Result<DefaultLedger> with_default_ledger(const std::string& command, std::vector<std::string> args) {
  DefaultLedger filled;
  const Fill fill = wants_help(args) ? Fill::None : fill_for(command, args);
  if (fill != Fill::None) {
    Result<LedgerLocation> where = ledger_location();
    if (!where.ok()) return where.status().with_context("no FILE given and no default ledger");
    args.insert(fill == Fill::First ? args.begin() : args.end(), where->file);
    filled.ledger = std::move(*where);
  }
  filled.args = std::move(args);
  return filled;
}

}  // namespace pennacle
