// What the journal and report tests share: a ledger holding imported Alipay and WeChat Pay bills,
// refunds, categories and awkward remarks, and the real checkers (bean-check, hledger, ledger) run
// on its journals, with the balances they print.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "ledger/journal_writer.h"
#include "tools/kdbtool_test_support.h"

namespace pennacle::testing {

// Money compared to the cent.
inline long long cents(double d) { return std::llround(d * 100); }

struct CommandRun {
  int status = -1;     // the exit status, -1 when it did not run or end normally
  std::string output;  // standard output and error
};

inline CommandRun run_command(const std::string& line) {
  CommandRun r;
  FILE* p = popen((line + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline bool have_program(const std::string& name) {
  return run_command("command -v " + name + " >/dev/null").status == 0;
}

inline std::string trimmed(std::string s) {
  const size_t b = s.find_first_not_of(" \t\""), e = s.find_last_not_of(" \t\"\r");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// Balances per account as the checker prints them (UTF-8 account names).
using Balances = std::map<std::string, double>;

// Lines "account<sep>number[ CNY]" after `skip` header lines.
inline Balances parse_balances(const std::string& text, char sep, int skip) {
  Balances out;
  size_t at = 0;
  for (int line = 0; at < text.size(); ++line) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string row = text.substr(at, end - at);
    at = end + 1;
    const size_t cut = row.rfind(sep);
    if (line < skip || cut == std::string::npos) continue;
    std::string number = trimmed(row.substr(cut + 1));
    if (const size_t space = number.find(' '); space != std::string::npos) number.resize(space);
    out[trimmed(row.substr(0, cut))] = number.empty() ? 0 : std::stod(number);
  }
  return out;
}

inline const char* checker_program(JournalFormat format) {
  return format == JournalFormat::Beancount ? "bean-check"
         : format == JournalFormat::Hledger ? "hledger"
                                            : "ledger";
}

// In a test body: skips the test, saying why, when `program` is not installed.
#define PN_SKIP_WITHOUT(program)                   \
  if (!::pennacle::testing::have_program(program)) \
  GTEST_SKIP() << (program) << " is not installed (scripts/install-deps.sh installs it); skipped"

// Runs the format's checker on `file` and, when it accepts it, reads each account's balance.
inline Balances checked_balances(JournalFormat format, const std::string& file) {
  const std::string f = "'" + file + "'";
  std::string check, balances;
  char sep = ',';
  int skip = 1;
  if (format == JournalFormat::Beancount) {
    check = "bean-check " + f;
    balances = "bean-query -q -f csv " + f + " 'SELECT account, sum(number) GROUP BY account'";
  } else if (format == JournalFormat::Hledger) {
    check = "hledger -f " + f + " check --strict";
    balances = "hledger -f " + f + " bal --flat -N -O csv";
  } else {
    check = "ledger -f " + f + " --pedantic bal";
    balances = "ledger -f " + f +
               " --pedantic bal --flat --no-total -F '%(account)\\t%(quantity(display_total))\\n'";
    sep = '\t';
    skip = 0;
  }
  const CommandRun checked = run_command(check);
  EXPECT_EQ(checked.status, 0) << check << "\n" << checked.output;
  const CommandRun listed = run_command(balances);
  EXPECT_EQ(listed.status, 0) << balances << "\n" << listed.output;
  return parse_balances(listed.output, sep, skip);
}

// The balance each account must have for `bills`, in the form `format` writes.
inline Balances expected_balances(const std::vector<JournalBill>& bills, JournalFormat format) {
  const AccountMap map = AccountMap::defaults();
  Balances out;
  auto name = [&](const std::string& plain) {
    return format == JournalFormat::Beancount ? *beancount_account(plain) : plain;
  };
  for (const JournalBill& b : bills) {
    const double a = b.bill.amount, sign = b.bill.is_expense() ? 1 : -1;
    out[name(category_account(map, b.category, b.bill.is_expense()))] += sign * a;
    out[name(channel_account(map, b.bill.channel))] -= sign * a;
  }
  return out;
}

inline void expect_same_to_the_cent(const Balances& got, const Balances& want) {
  EXPECT_EQ(got.size(), want.size());
  for (const auto& [account, sum] : want) {
    auto it = got.find(account);
    if (it == got.end()) {
      ADD_FAILURE() << "the checker shows no balance for " << account;
    } else {
      EXPECT_EQ(cents(it->second), cents(sum)) << account;
    }
  }
}

// A ledger of imported bills: Alipay's and WeChat Pay's samples (a payment refunded across
// channels' rules, closed and failed trades), our CSV with remarks holding " \ ; | and line
// breaks, an amount of 999999999999.99 and one of a tenth of a cent.
class JournalLedgerTest : public ImportTest {
 protected:
  std::string make_journal_ledger() {
    const std::string db = make_ledger();
    EXPECT_EQ(run({"import", db, write_export("alipay.csv", alipay_2023_csv(alipay_rows()))}), 0)
        << err_.str();
    EXPECT_EQ(run({"import", db, write_export("wechat.csv", wechat_csv(wechat_rows()))}), 0) << err_.str();
    const std::string own =
        u8("类型,金额,付款方式,时间,备注\n"
           "支出,12.34,支付宝,2023-03-08 10:00:00,\"say \"\"hi\"\" \\ a;b|c\r\nnext\nlast\"\n"
           "收入,999999999999.99,银行卡,2023-04-01 09:00:00,\"; note: x, y:z :t: |\"\n"
           "支出,0.001,花呗 (借),2023-04-02 09:00:00,午餐\n"
           "支出,66.6,现金,2022-12-31 23:59:59,年夜饭\n");
    EXPECT_EQ(run({"import", db, write_export("own.csv", own)}), 0) << err_.str();
    return db;
  }
  // The live bills of `db` in `range`, categorised by `lookup`, by default the ledger's own.
  std::vector<JournalBill> read_bills(const std::string& db, const DateRange& range = {},
                                      std::optional<CategoryLookup> lookup = std::nullopt) {
    EXPECT_TRUE(open_record_file(db, true).ok());
    Result<std::vector<JournalBill>> bills = read_ledger_bills(range);
    Result<CategoryLookup> own = ledger_categories();
    close_db();
    EXPECT_TRUE(bills.ok()) << bills.status().message();
    EXPECT_TRUE(own.ok()) << own.status().message();
    if (!bills.ok() || !own.ok()) return {};
    fill_categories(&*bills, lookup ? *lookup : *own);
    return *bills;
  }
};

// Categories as a category file would give them (GBK): meals, a transfer's, one with characters
// no account part keeps.
inline CategoryLookup sample_categories() {
  return [](const Bill& b) -> std::optional<std::string> {
    if (b.remark.find("餐") != std::string::npos || b.remark.find("午餐") != std::string::npos) return "餐饮";
    if (b.remark.find("李小红") != std::string::npos) return "转账 红包";
    if (b.channel == "现金") return "节日:年夜 (家)";
    return std::nullopt;
  };
}

}  // namespace pennacle::testing
