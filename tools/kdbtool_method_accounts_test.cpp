// A rule's methodAccount from the import or a categorize to the journal export: kept in
// FILE.accounts, posted to by the bill's channel side in every format the checkers accept, kept
// through an edit, an undelete, a snapshot and its restore, and never given to another bill.
#include <gtest/gtest.h>

#include <filesystem>

#include "ledger/bin_ledger.h"
#include "ledger/method_accounts.h"
#include "store/backup.h"
#include "tools/journal_checkers_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;
namespace fs = std::filesystem;

constexpr JournalFormat kFormats[] = {JournalFormat::Beancount, JournalFormat::Hledger,
                                      JournalFormat::Ledger};
const char* format_name(JournalFormat f) {
  return f == JournalFormat::Beancount ? "beancount" : f == JournalFormat::Hledger ? "hledger" : "ledger";
}

// WeChat's sample rows a few seconds later: no bill of them has an Alipay bill's time.
std::string later_wechat_csv() {
  std::vector<SampleRow> rows = wechat_rows();
  for (SampleRow& r : rows) r.time.back() = '7';
  return wechat_csv(rows);
}

// Alipay's rows all carry 余额宝 as their payment method (the rule keyed on it no later match
// overrides but the taxi's); WeChat's supermarket payment goes to a card with a Chinese part.
const char* const kRules =
    "alipay:\n  rules:\n"
    "    - method: 余额宝\n      methodAccount: Assets:YuEBao\n"
    "    - peer: 示例出行\n      targetAccount: 交通\n      methodAccount: Liabilities:Huabei\n"
    "wechat:\n  rules:\n"
    "    - peer: 示例超市\n      methodAccount: Assets:Card:招行\n";

class MethodAccounts : public JournalLedgerTest {
 protected:
  std::string accounts_file(const std::string& db) const { return method_accounts_path(db); }
  // The entries of FILE.accounts: account (UTF-8) by serial.
  std::map<int32_t, std::string> kept(const std::string& db) {
    MethodAccountFile f;
    const Status s = f.open(posix_file_system(), accounts_file(db), false);
    EXPECT_TRUE(s.ok()) << s.message();
    std::map<int32_t, std::string> out;
    for (const auto& [serial, e] : f.entries()) out[serial] = gbk_to_utf8_lossy(e.name);
    return out;
  }
  int32_t serial_of(const std::string& db, const std::string& account) {
    for (const auto& [serial, name] : kept(db)) {
      if (name == account) return serial;
    }
    ADD_FAILURE() << "no bill has " << account;
    return 0;
  }
  // The balance each account must have: a bill's channel side on its method account when the file
  // holds one for it (its values checked), else on its channel's.
  Balances expected(const std::string& db, JournalFormat format) {
    MethodAccountFile f;
    EXPECT_TRUE(f.open(posix_file_system(), accounts_file(db), false).ok());
    Balances out;
    auto name = [&](const std::string& plain) {
      return format == JournalFormat::Beancount ? *beancount_account(plain) : plain;
    };
    for (const JournalBill& b : read_bills(db)) {
      const double sign = b.bill.is_expense() ? 1 : -1;
      const CategoryEntry* e = f.find(category_key(b.bill.serial, b.bill));
      const std::string channel =
          e ? gbk_to_utf8_lossy(e->name) : channel_account(AccountMap::defaults(), b.bill.channel);
      out[name(category_account(AccountMap::defaults(), b.category, b.bill.is_expense()))] +=
          sign * b.bill.amount;
      out[name(channel)] -= sign * b.bill.amount;
    }
    return out;
  }
  // Exports `db` in `format`, checks it with the format's checker and compares every balance.
  void expect_checked_export(const std::string& db, JournalFormat format) {
    SCOPED_TRACE(format_name(format));
    ASSERT_EQ(run({"export", db, "--format", format_name(format)}), 0) << err_.str();
    const std::string file = path(std::string("out.") + format_name(format));
    write_bytes(file, out_.str());
    expect_same_to_the_cent(checked_balances(format, file), expected(db, format));
  }
  std::string journal(const std::string& db, const char* format) {
    EXPECT_EQ(run({"export", db, "--format", format}), 0) << err_.str();
    return out_.str();
  }
};

TEST_F(MethodAccounts, AnImportKeepsThemAndEveryCheckerAcceptsTheJournalThatPostsThere) {
  for (JournalFormat f : kFormats) PN_SKIP_WITHOUT(checker_program(f));
  write_bytes(path("rules.yaml"), u8(kRules));
  const std::string db = make_journal_ledger();
  EXPECT_EQ(kept(db).size(), 3u + 1u) << "the three Alipay bills, the supermarket's";
  for (JournalFormat f : kFormats) expect_checked_export(db, f);
  const std::string hledger = journal(db, "hledger");
  EXPECT_EQ(err_.str(), "");
  EXPECT_NE(hledger.find("    Liabilities:Huabei  -35.50 CNY\n"), std::string::npos) << hledger;
  EXPECT_NE(hledger.find("    Assets:YuEBao  100.00 CNY\n"), std::string::npos) << "an income";
  EXPECT_NE(hledger.find(u8("account Assets:Card:招行\n")), std::string::npos) << hledger;
  // The bills no rule gave an account keep their channel's: WeChat's others, the typed ones.
  EXPECT_NE(hledger.find("account Assets:WeChat\n"), std::string::npos) << hledger;
  EXPECT_NE(hledger.find("account Assets:Cash\n"), std::string::npos) << hledger;
  // 招行's UTF-8 bytes: a part beancount does not take is renamed, not cut.
  EXPECT_NE(journal(db, "beancount").find("open Assets:Card:CE68B9BE8A18C CNY\n"), std::string::npos)
      << out_.str();
}

// Importing the same exports again (an import cut short before its accounts were written) gives
// the bills theirs and adds no bill.
TEST_F(MethodAccounts, ImportingAgainFillsTheAccountsAnImportCutShortLeftOut) {
  write_bytes(path("rules.yaml"), u8(kRules));
  const std::string db = make_journal_ledger();
  const std::map<int32_t, std::string> all = kept(db);
  fs::remove(accounts_file(db));
  const size_t bills = read_bills(db).size();
  ASSERT_EQ(run({"import", db, path("alipay.csv")}), 0) << err_.str();
  ASSERT_EQ(run({"import", db, path("wechat.csv")}), 0) << err_.str();
  EXPECT_EQ(kept(db), all);
  EXPECT_EQ(read_bills(db).size(), bills);
}

TEST_F(MethodAccounts, AnEditAndAnUndeleteTakeTheAccountAlong) {
  PN_SKIP_WITHOUT("hledger");
  write_bytes(path("rules.yaml"), u8(kRules));
  const std::string db = make_journal_ledger();
  const int32_t taxi = serial_of(db, "Liabilities:Huabei");
  ASSERT_EQ(run({"edit", db, std::to_string(taxi), "--amount", "36.2", "--time", "2023-03-07 19:10"}), 0)
      << err_.str();
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(serial_of(db, "Liabilities:Huabei"), taxi);
  EXPECT_NE(journal(db, "hledger").find("    Liabilities:Huabei  -36.20 CNY\n"), std::string::npos)
      << out_.str();
  expect_checked_export(db, JournalFormat::Hledger);

  delete_serial(db, taxi, 45500.5);
  EXPECT_EQ(journal(db, "hledger").find("Liabilities:Huabei"), std::string::npos) << "deleted, not posted";
  ASSERT_EQ(run({"undelete", db, std::to_string(taxi)}), 0) << err_.str();
  const int32_t back = serial_of(db, "Liabilities:Huabei");
  EXPECT_GT(back, taxi) << "it follows the bill to its new serial";
  EXPECT_EQ(kept(db).count(taxi), 0u);
  EXPECT_NE(journal(db, "hledger").find("    Liabilities:Huabei  -36.20 CNY\n"), std::string::npos)
      << out_.str();
  expect_checked_export(db, JournalFormat::Hledger);
}

// The file goes into each snapshot and comes back with it; a snapshot without it takes a newer one
// away. A file a restore did not replace (as one by a program that does not know it) names bills
// whose serials later bills take: those keep their channel's account.
TEST_F(MethodAccounts, ARestoreBringsTheFileBackAndAReusedSerialTakesNoOtherBillsAccount) {
  PN_SKIP_WITHOUT("hledger");
  const std::string db = make_ledger();
  ASSERT_EQ(run({"backup", db}), 0) << err_.str();
  write_bytes(path("rules.yaml"), u8(kRules));
  ASSERT_EQ(run({"import", db, write_export("alipay.csv", alipay_2023_csv(alipay_rows()))}), 0) << err_.str();
  ASSERT_EQ(run({"backup", db}), 0) << err_.str();
  const std::vector<SnapshotName> snaps = list_snapshots(db, path("backups"));
  ASSERT_EQ(snaps.size(), 2u);
  const bool first_has = fs::exists(snaps[0].side_path("accounts"));
  const SnapshotName& with = first_has ? snaps[0] : snaps[1];
  const SnapshotName& without = first_has ? snaps[1] : snaps[0];
  const std::string then = read_bytes(accounts_file(db));
  EXPECT_EQ(read_bytes(with.side_path("accounts")), then);
  EXPECT_FALSE(fs::exists(without.side_path("accounts")));

  ASSERT_EQ(run({"import", db, write_export("wechat.csv", later_wechat_csv())}), 0) << err_.str();
  ASSERT_NE(read_bytes(accounts_file(db)), then);
  ASSERT_EQ(run({"restore", with.path, db}), 0) << err_.str();
  EXPECT_EQ(read_bytes(accounts_file(db)), then);
  ASSERT_EQ(run({"restore", without.path, db}), 0) << err_.str();
  EXPECT_FALSE(fs::exists(accounts_file(db)));

  // The empty ledger again, beside the accounts of three Alipay bills; its next bills take serials
  // those name.
  write_bytes(accounts_file(db), then);
  fs::remove(path("rules.yaml"));
  ASSERT_EQ(run({"import", db, path("wechat.csv")}), 0) << err_.str();
  size_t reused = 0;
  for (const JournalBill& b : read_bills(db)) reused += kept(db).count(b.bill.serial);
  ASSERT_GT(reused, 0u);
  const std::string hledger = journal(db, "hledger");
  EXPECT_EQ(hledger.find("YuEBao"), std::string::npos) << hledger;
  EXPECT_EQ(hledger.find("Huabei"), std::string::npos) << hledger;
  expect_checked_export(db, JournalFormat::Hledger);
}

// categorize keeps a matching rule's account for bills typed in (the pennacle section); --dry-run
// shows it and writes nothing.
TEST_F(MethodAccounts, CategorizeKeepsThemAndADryRunOnlyShowsThem) {
  PN_SKIP_WITHOUT("ledger");
  const std::string db = make_journal_ledger();
  write_bytes(path("rules.yaml"), u8("pennacle:\n  rules:\n"
                                     "    - method: 银行卡\n      methodAccount: Assets:Bank:ICBC\n"
                                     "    - method: 现金\n      targetAccount: 节日\n"));
  ASSERT_EQ(run({"categorize", db, "--dry-run"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("[Assets:Bank:ICBC]"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("method account would be set for 1"), std::string::npos) << out_.str();
  EXPECT_FALSE(fs::exists(accounts_file(db)));
  ASSERT_EQ(run({"categorize", db}), 0) << err_.str();
  EXPECT_NE(out_.str().find("categorized 1 bill(s)"), std::string::npos) << out_.str();
  EXPECT_EQ(kept(db).size(), 1u);
  EXPECT_NE(journal(db, "ledger").find("    Assets:Bank:ICBC  999999999999.99 CNY\n"), std::string::npos)
      << out_.str();
  expect_checked_export(db, JournalFormat::Ledger);
  // Again: the bill has its account, and nothing is set twice.
  ASSERT_EQ(run({"categorize", db}), 0) << err_.str();
  EXPECT_NE(out_.str().find("method account set for 0"), std::string::npos) << out_.str();
}

// An account beancount cannot take is set aside in its journal, with a note, for the channel's;
// hledger keeps it. An account the file cannot keep refuses the rules before anything is written.
TEST_F(MethodAccounts, AnAccountBeancountRefusesFallsBackAndOneTheFileRefusesStopsTheImport) {
  for (JournalFormat f : kFormats) PN_SKIP_WITHOUT(checker_program(f));
  const std::string db = make_ledger();
  write_bytes(path("rules.yaml"),
              u8("alipay:\n  rules:\n    - peer: 示例出行\n      methodAccount: Foo:Bar\n"));
  ASSERT_EQ(run({"import", db, write_export("alipay.csv", alipay_2023_csv(alipay_rows()))}), 0) << err_.str();
  ASSERT_EQ(run({"export", db, "--format", "beancount"}), 0) << err_.str();
  const std::string bean = out_.str();
  EXPECT_NE(err_.str().find("'Foo:Bar'"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("no beancount account"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("Assets:Alipay"), std::string::npos) << err_.str();
  EXPECT_EQ(bean.find("Foo"), std::string::npos) << bean;
  write_bytes(path("out.beancount"), bean);
  EXPECT_EQ(cents(checked_balances(JournalFormat::Beancount, path("out.beancount"))["Assets:Alipay"]),
            cents(-28.16 + 100 - 35.5));
  ASSERT_EQ(run({"export", db, "--format", "hledger"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("account Foo:Bar\n"), std::string::npos) << out_.str();
  expect_checked_export(db, JournalFormat::Hledger);

  const std::string before = read_bytes(db);
  write_bytes(path("bad.yaml"),
              u8("wechat:\n  rules:\n    - peer: 示例超市\n      methodAccount: Assets::Card\n"));
  EXPECT_EQ(
      run({"import", db, write_export("wechat.csv", wechat_csv(wechat_rows())), "--rules", path("bad.yaml")}),
      1);
  EXPECT_NE(err_.str().find(path("bad.yaml") + ": methodAccount 'Assets::Card': each part of an account"),
            std::string::npos)
      << err_.str();
  EXPECT_NE(err_.str().find("nothing was imported"), std::string::npos) << err_.str();
  EXPECT_EQ(read_bytes(db), before);
}

}  // namespace
}  // namespace pennacle
