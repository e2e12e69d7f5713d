// kdbtool trash and undelete. Compiled with UTF-8 literals like the rest of kdbtool.
#include "tools/kdbtool_trash.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <ostream>

#include "ledger/amount_text.h"
#include "ledger/bin_ledger.h"
#include "ledger/import/bill_csv.h"
#include "ledger/import/bill_text.h"
#include "ledger/import/bill_undelete.h"
#include "ledger/recycle_bin.h"
#include "platform/file.h"
#include "runtime/convert.h"
#include "tools/kdbtool_text.h"

namespace pennacle {
namespace {

const char* const kTrashHelp =
    "usage: kdbtool trash FILE\n"
    "       kdbtool trash --repair FILE\n"
    "Lists the recycle bin beside FILE (FILE.trash), the bills deleted last first: when each was\n"
    "deleted, its serial, 类型, 金额, 付款方式, 时间 and 备注. Every delete in Pennacle puts the bill\n"
    "there (on the disk) before its record goes. The bin keeps the last 1000 deleted bills or those of\n"
    "the last 90 days, whichever are more. 'kdbtool undelete FILE SERIAL' puts one back.\n"
    "A line of FILE.trash that fails its checksum before its torn end stops every delete and undelete\n"
    "(the bill stays in the ledger): --repair rebuilds the bin from its sound lines, names each line it\n"
    "dropped and keeps the damaged file as FILE.trash.damaged.\n";

const char* const kUndeleteHelp =
    "usage: kdbtool undelete FILE SERIAL\n"
    "Appends the bill with SERIAL deleted last from the recycle bin (see kdbtool trash) to FILE again,\n"
    "with its old 类型, 金额, 付款方式, 时间 and 备注, prints its new serial and takes it out of the bin.\n"
    "FILE.imports learns the new serial, so importing the export it came from again adds nothing.\n"
    "An undelete cut short is settled by the next trash or undelete: the bill is never appended twice.\n";

constexpr size_t kColumns = 7;

void print_rows(const std::vector<std::array<std::string, kColumns>>& rows, std::ostream& out) {
  size_t width[kColumns] = {};
  for (const auto& r : rows) {
    for (size_t c = 0; c < kColumns; ++c) width[c] = std::max(width[c], display_width(r[c]));
  }
  for (const auto& r : rows) {
    std::string line;
    for (size_t c = 0; c < kColumns; ++c) {
      const bool last = c + 1 == kColumns;
      const std::string fill(last ? 0 : width[c] - display_width(r[c]), ' ');
      line += (c ? "  " : "") + (c == 1 || c == 3 ? fill + r[c] : r[c] + fill);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  }
}

bool parse_serial(const std::string& text, int32_t* out) {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), *out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && *out > 0;
}

int repair_trash(const std::string& file, std::ostream& out, std::ostream& err) {
  std::string gbk;
  if (!to_gbk(file, &gbk, err)) return 1;
  RecycleBin bin;
  Result<BinRepair> r = bin.repair(posix_file_system(), gbk);
  if (!r.ok()) return fail(err, r.status().message());
  const std::string shown = file + ".trash";
  if (r->dropped.empty()) {
    out << shown << " is sound: " << r->kept << " lines; nothing to repair\n";
    return 0;
  }
  out << shown << ": rebuilt with " << r->kept << " lines; dropped " << r->dropped.size()
      << " damaged line(s):\n";
  for (const auto& [line, text] : r->dropped) out << "  line " << line << ": " << utf8(text) << "\n";
  out << "The damaged file is kept as " << shown << ".damaged.\n";
  return 0;
}

}  // namespace

int kdbtool_trash(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << kTrashHelp, 0;
  if (args.size() == 2 && args[0] == "--repair") return repair_trash(args[1], out, err);
  if (args.size() != 1) return fail(err, "trash needs exactly one FILE (see kdbtool trash --help)");
  Result<std::vector<BinEntry>> bills = bin_bills_of(args[0], nullptr);
  if (!bills.ok()) return fail(err, bills.status().message());
  std::vector<std::array<std::string, kColumns>> rows = {
      {"deleted", "serial", "类型", "金额", "付款方式", "时间", "备注"}};
  for (const BinEntry& e : *bills) {
    const Bill& b = e.bill;
    rows.push_back({format_date_time(e.deleted_at), std::to_string(b.serial), utf8(b.type),
                    exact_amount_text(b.amount), utf8(b.channel), format_date_time(b.time), utf8(b.remark)});
  }
  if (!bills->empty()) print_rows(rows, out);
  out << bills->size() << " bill(s) in the recycle bin\n";
  return 0;
}

int kdbtool_undelete(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (wants_help(args)) return out << kUndeleteHelp, 0;
  int32_t serial = 0;
  if (args.size() != 2) return fail(err, "undelete needs FILE and SERIAL (see kdbtool undelete --help)");
  if (!parse_serial(args[1], &serial))
    return fail(err, "SERIAL must be a number above 0, not '" + args[1] + "'");
  Result<Undeleted> r = undelete_bill(args[0], serial, nullptr);
  if (!r.ok()) return fail(err, r.status().message());
  const Bill& b = r->entry.bill;
  const std::string what = utf8(b.type) + " " + exact_amount_text(b.amount) + " " + utf8(b.channel) + " " +
                           format_date_time(b.time);
  if (!r->appended) {
    out << "bill " << serial << " (" << what << ") is in the ledger still (its delete was cut short); "
        << "it left the recycle bin, nothing was appended\n";
  } else {
    out << "bill " << serial << " (" << what << ") is back as serial " << r->serial << "\n";
  }
  for (const std::string& note : r->notes) err << "kdbtool: note: " << note << "\n";
  return 0;
}

}  // namespace pennacle
