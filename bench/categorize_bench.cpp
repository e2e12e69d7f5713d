// Categorizing bills against a plain pass that reads the same bills, measured in one run:
//   categorize_walk  a walk of the ledger reading every bill and matching it    vs the same walk
//                    against 200 rules                                          without the rules
//   categorize_cmd   kdbtool categorize: the walk, the rules, every entry       vs the same walk
//                    written to data.kdb.categories and synced
//   categorize_cmd_again  the same command again, with nothing left to write    vs the same walk
// One line per figure: BENCH <figure> ours_ns=<total> peer=<name> peer_ns=<total> ratio=<ours/peer>
//
//   categorize_bench [--records N]
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ledger/bill.h"
#include "ledger/category_rules.h"
#include "platform/gbk.h"
#include "store/record_store.h"
#include "testing/temp_dir.h"
#include "tools/kdbtool.h"

using namespace pennacle;
namespace fs = std::filesystem;

namespace {

double now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

void die(const std::string& what) {
  std::fprintf(stderr, "categorize_bench: %s\n", what.c_str());
  std::exit(1);
}

void report(const char* figure, double ours, const char* peer, double theirs) {
  std::printf("BENCH %s ours_ns=%.0f peer=%s peer_ns=%.0f ratio=%.3f\n", figure, ours, peer, theirs,
              ours / theirs);
  std::fflush(stdout);
}

// Bill i: an Alipay, WeChat Pay or typed bill, with a remark as the import or a person writes it.
Bill bill(int i) {
  static const char* const kChannels[] = {"支付宝", "微信", "现金", "银行卡"};
  Bill b;
  b.type = std::string(i % 7 == 0 ? income_type() : expense_type());
  b.amount = 1 + i % 500 + (i % 100) / 100.0;
  b.channel = kChannels[i % 4];
  b.time = 45000 + i / 300.0;
  b.remark = i % 4 < 2 ? "示例商户" + std::to_string(i % 300) + " · 商品" + std::to_string(i)
                       : "备注" + std::to_string(i % 300);
  return b;
}

// 200 rules over the three sections, of every key a stored bill can meet: peers, items, methods,
// time ranges and prices, a few with alternatives.
std::string rules_yaml() {
  std::string y = "alipay:\n  rules:\n";
  for (int k = 0; k < 80; ++k) {
    y += "    - peer: 示例商户" + std::to_string(k) + ",示例商店" + std::to_string(k) + "\n";
    if (k % 5 == 0) y += "      time: 11:00-14:00\n";
    y += "      targetAccount: Expenses:Shop" + std::to_string(k % 20) + "\n";
  }
  y += "wechat:\n  rules:\n";
  for (int k = 0; k < 60; ++k) {
    y += "    - item: 商品" + std::to_string(k * 7) + "\n";
    if (k % 3 == 0) y += "      minPrice: 10\n      maxPrice: 400\n";
    y += "      targetAccount: 购物:" + std::to_string(k % 10) + "\n";
  }
  y += "pennacle:\n  rules:\n";
  for (int k = 0; k < 60; ++k) {
    y += "    - method: " + std::string(k % 2 ? "现金" : "银行卡") + "\n      item: 备注" +
         std::to_string(k * 5) + "\n      targetAccount: 其他:" + std::to_string(k % 10) + "\n";
  }
  return gbk_to_utf8(y).value();
}

void make_ledger(const std::string& db, int records) {
  std::ostringstream out, err;
  if (kdbtool_main({"create", db}, out, err) != 0) die("create: " + err.str());
  if (!open_record_file(db, false).ok()) die("cannot open " + db);
  for (int from = 0; from < records; from += 1000) {
    std::vector<Bill> group;
    for (int i = from; i < std::min(records, from + 1000); ++i) group.push_back(bill(i));
    std::vector<int32_t> serials;
    if (append_bills(group, &serials) != DbCode::Ok) die("append failed");
  }
  call_command(db_close, {});
}

// Reads every live bill; with `rules`, matches each. Returns a figure that depends on every bill so
// nothing is left out.
double walk(const std::string& db, const CategoryRules* rules) {
  if (!open_record_file(db, true).ok()) die("cannot open " + db);
  const int32_t count = call_command(db_record_count, {}).int_payload();
  call_command(db_go_first, {});
  double sum = 0;
  for (int32_t k = 0; k < count; ++k) {
    int32_t serial = 0;
    if (db_current_serial(&serial) != DbCode::Ok) die("walk failed");
    Bill b;
    if (read_current_bill(&b)) die("not a bill");
    sum += b.amount;
    if (rules) sum += static_cast<double>(rules->match(bill_rule_input(b)).category.size());
    std::ignore = db_skip_within(count);
  }
  call_command(db_close, {});
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  int records = 100000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--records") == 0) records = std::atoi(argv[i + 1]);
  }
  testing::TempDir dir("pn_categorize_bench_");
  const std::string db = dir.path() + "/data.kdb", rules_path = dir.path() + "/rules.yaml";
  make_ledger(db, records);
  std::ofstream(rules_path) << rules_yaml();
  Result<CategoryRules> rules = CategoryRules::load(rules_path);
  if (!rules.ok()) die(rules.status().message());
  if (rules->size() != 200) die("expected 200 rules, read " + std::to_string(rules->size()));
  walk(db, nullptr);  // the files in the page cache for both
  double plain = 1e300, matched = 1e300;
  for (int round = 0; round < 3; ++round) {
    double t0 = now_ns();
    const double a = walk(db, nullptr);
    plain = std::min(plain, now_ns() - t0);
    t0 = now_ns();
    const double b = walk(db, &*rules);
    matched = std::min(matched, now_ns() - t0);
    if (b < a) die("the matched walk read less");
  }
  std::printf("categorize_bench: %d bills, %zu rules\n", records, rules->size());
  report("categorize_walk", matched, "plain_walk", plain);
  // The command, from no categories (everything written) and again (nothing left to write); the
  // best of three each, as the walks.
  double command = 1e300, again = 1e300;
  std::string said;
  for (int round = 0; round < 3; ++round) {
    fs::remove(db + ".categories");
    std::ostringstream out, err;
    double t0 = now_ns();
    if (kdbtool_main({"categorize", db, "--all"}, out, err) != 0) die("categorize: " + err.str());
    command = std::min(command, now_ns() - t0);
    said = out.str();
    t0 = now_ns();
    if (kdbtool_main({"categorize", db, "--all"}, out, err) != 0) die("categorize: " + err.str());
    again = std::min(again, now_ns() - t0);
  }
  std::printf("categorize_bench: %s", said.c_str());
  report("categorize_cmd", command, "plain_walk", plain);
  report("categorize_cmd_again", again, "plain_walk", plain);
  return 0;
}
