// kdbtool export to beancount and kdbtool report against a plain walk of the same bills, measured in
// one run (target: each at most 2 times the walk):
//   export_beancount  kdbtool export FILE --format beancount into a file     vs  the walk
//   export_beancount_categories  the same with a category for every other bill  vs  the walk
//   export_beancount_accounts    and a rule's method account for every third    vs  the walk
//                     (the last two with --accounts only)
//   report            kdbtool report FILE --year 2023 (the terminal table)  vs  the walk
//   report_html       the same with --html (three charts drawn as SVG)      vs  the walk
// The walk opens the ledger and reads every bill through the codec, summing its amount: the least
// any export or report must do. bean-check on the export is printed for context, not as a ratio.
// Times are the process's processor time (the fastest of three runs): what the program does, not
// what other work on the machine takes from it. Writing the output file's pages is in it.
// One line per figure: BENCH <figure> ours_ns=<total> peer=<name> peer_ns=<total> ratio=<ours/peer>
//
//   journal_bench [--records N] [--no-bean-check] [--accounts]
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ledger/bill.h"
#include "ledger/method_accounts.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "store/record_store.h"
#include "tools/kdbtool.h"

using namespace pennacle;
namespace fs = std::filesystem;

namespace {

double now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// Wall-clock time, for bean-check: another process.
double wall_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

void die(const std::string& what) {
  std::fprintf(stderr, "journal_bench: %s\n", what.c_str());
  std::exit(1);
}

void report(const char* figure, double ours, const char* peer, double theirs) {
  std::printf("BENCH %s ours_ns=%.0f peer=%s peer_ns=%.0f ratio=%.3f\n", figure, ours, peer, theirs,
              ours / theirs);
  std::fflush(stdout);
}

// N bills of 2023 over the program's channels, a payment or an income, each with a short remark.
void make_ledger(const std::string& db, int n) {
  std::ostringstream out, err;
  if (kdbtool_main({"create", db}, out, err) != 0) die(err.str());
  if (!open_record_file(db, false).ok()) die("cannot open " + db);
  const char* channels[] = {"支付宝", "微信", "银行卡", "现金"};
  for (int from = 0; from < n; from += 1000) {
    std::vector<Bill> group;
    for (int i = from; i < std::min(n, from + 1000); ++i) {
      const double t = make_date_time(2023, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 60);
      group.push_back({0, i % 7 ? "支出" : "收入", 1 + i % 500 + (i % 100) / 100.0, channels[i % 4], t,
                       "示例商户" + std::to_string(i % 97) + " · 商品" + std::to_string(i)});
    }
    std::vector<int32_t> serials;
    if (append_bills(group, &serials) != DbCode::Ok) die("cannot append bills");
  }
  call_command(db_close, {});
}

// Every other bill gets a category (`accounts` false) or every third one of three method accounts
// (true), as an import with rules gives them.
void give_entries(const std::string& db, bool accounts) {
  std::unique_ptr<CategoryFile> file =
      accounts ? std::make_unique<MethodAccountFile>() : std::make_unique<CategoryFile>();
  if (!file->open(posix_file_system(), accounts ? method_accounts_path(db) : categories_path(db), true).ok())
    die("cannot open a side file");
  if (!open_record_file(db, true).ok()) die("cannot open " + db);
  const int32_t n = call_command(db_record_count, {}).int_payload();
  call_command(db_go_first, {});
  std::vector<CategoryEntry> entries;
  const char* names[] = {"Liabilities:Huabei", "Assets:Bank:Card", "Assets:Alipay:YuEBao"};
  for (int32_t i = 0; i < n; ++i, std::ignore = db_skip_within(n)) {
    Bill b;
    if (read_current_bill(&b) || db_current_serial(&b.serial) != DbCode::Ok) die("a record is no bill");
    if (!accounts && i % 2 == 0) entries.push_back({category_key(b.serial, b), "餐饮", false});
    if (accounts && i % 3 == 0) entries.push_back({category_key(b.serial, b), names[i % 9 / 3], false});
  }
  call_command(db_close, {});
  if (!file->update(entries, nullptr).ok()) die("cannot write a side file");
}

// The plain walk: every bill read through the codec, its amount summed.
double walk(const std::string& db) {
  if (!open_record_file(db, true).ok()) die("cannot open " + db);
  const int32_t n = call_command(db_record_count, {}).int_payload();
  call_command(db_go_first, {});
  double sum = 0;
  for (int32_t i = 0; i < n; ++i, std::ignore = db_skip_within(n)) {
    Bill b;
    if (read_current_bill(&b)) die("a record is no bill");
    sum += b.amount;
  }
  call_command(db_close, {});
  return sum;
}

// The fastest of `runs` runs of `f`, in ns.
template <typename F>
double best_of(int runs, F f) {
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    const double start = now_ns();
    f();
    best = std::min(best, now_ns() - start);
  }
  return best;
}

// Runs one command line with its output going to `out_path`, as a shell's redirection would.
void run_tool(const std::vector<std::string>& args, const std::string& out_path) {
  std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
  std::ostringstream err;
  if (kdbtool_main(args, out, err) != 0) die(err.str());
  out.close();
  if (!out) die("cannot write " + out_path);
}

}  // namespace

int main(int argc, char** argv) {
  int n = 100000;
  bool bean_check = true, accounts = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--accounts") == 0) accounts = true;
    if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) n = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--no-bean-check") == 0) bean_check = false;
  }
  const fs::path dir = fs::temp_directory_path() / ("journal_bench_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string db = (dir / "data.kdb").string(), journal = (dir / "out.beancount").string();
  make_ledger(db, n);
  std::printf("journal_bench: %d bills\n", n);
  volatile double sink = 0;
  const double walked = best_of(3, [&] { sink = sink + walk(db); });
  const double exported = best_of(3, [&] { run_tool({"export", db, "--format", "beancount"}, journal); });
  report("export_beancount", exported, "walk", walked);
  const std::string table = (dir / "report.txt").string(), html = (dir / "r.html").string();
  const double reported = best_of(3, [&] { run_tool({"report", db, "--year", "2023"}, table); });
  report("report", reported, "walk", walked);
  run_tool({"report", db, "--year", "2023", "--html", html}, table);  // starts Qt once, outside the timing
  const double paged = best_of(3, [&] { run_tool({"report", db, "--year", "2023", "--html", html}, table); });
  report("report_html", paged, "walk", walked);
  // Last: the side files it writes would change the figures above.
  if (accounts) {
    for (bool kept : {false, true}) {
      give_entries(db, kept);
      const double with = best_of(3, [&] { run_tool({"export", db, "--format", "beancount"}, journal); });
      report(kept ? "export_beancount_accounts" : "export_beancount_categories", with, "walk", walked);
    }
  }
  if (!bean_check) {
    std::printf("CONTEXT bean_check not run (--no-bean-check)\n");
  } else if (std::system("command -v bean-check >/dev/null 2>&1") == 0) {
    const double start = wall_ns();
    const int rc = std::system(("bean-check '" + journal + "'").c_str());
    std::printf("CONTEXT bean_check ns=%.0f exit=%d (bean-check on the export of %d bills, wall clock)\n",
                wall_ns() - start, rc, n);
  } else {
    std::printf("CONTEXT bean_check not installed\n");
  }
  fs::remove_all(dir);
  return 0;
}
