#include "ledger/journal_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/gbk.h"
#include "runtime/convert.h"

namespace pennacle {
namespace {

// Literals here are GBK; journals are UTF-8.
std::string u8(std::string_view gbk) { return gbk_to_utf8_lossy(gbk); }

JournalBill bill(int32_t serial, const char* type, double amount, const char* channel, double time,
                 const char* category = "未分类", const char* remark = "") {
  return {{serial, type, amount, channel, time, remark}, category, "", ""};
}

TEST(JournalAccounts, MappingFirstThenTheNameUnderItsRoot) {
  AccountMap m = AccountMap::defaults();
  m.categories["餐饮"] = "Expenses:Food";
  EXPECT_EQ(channel_account(m, "支付宝"), "Assets:Alipay");
  EXPECT_EQ(channel_account(m, "微信"), "Assets:WeChat");
  EXPECT_EQ(channel_account(m, "花呗 (借)"), u8("Assets:花呗 -借-"));
  EXPECT_EQ(channel_account(m, ""), "Assets:Unknown");
  EXPECT_EQ(category_account(m, "餐饮", true), "Expenses:Food");
  EXPECT_EQ(category_account(m, "未分类", true), "Expenses:Uncategorized");
  EXPECT_EQ(category_account(m, "未分类", false), "Income:Uncategorized");
  EXPECT_EQ(category_account(m, "工资", false), u8("Income:工资"));
  // Line breaks, tabs and runs of spaces are one space; ":" would start a new part.
  EXPECT_EQ(category_account(m, "  a\r\n\tb  c:d;e[f] ", true), "Expenses:a b c-d-e-f-");
}

TEST(JournalAccounts, BeancountRenamesEveryPartItRefusesAndOnlyThose) {
  EXPECT_EQ(*beancount_account("Assets:Alipay"), "Assets:Alipay");
  EXPECT_EQ(*beancount_account("Expenses:2023-Trip"), "Expenses:2023-Trip");
  EXPECT_EQ(*beancount_account(u8("Expenses:餐饮")), "Expenses:CE9A490E9A5AE");
  EXPECT_EQ(*beancount_account(u8("Expenses:餐饮:Lunch")), "Expenses:CE9A490E9A5AE:Lunch");
  EXPECT_EQ(*beancount_account("Expenses:food"), "Expenses:C666F6F64");
  EXPECT_EQ(*beancount_account("Expenses:a b"), "Expenses:C612062");
  // A name already of the renamed form is renamed too, so two names never share an account.
  EXPECT_EQ(*beancount_account("Expenses:C612062"), "Expenses:C43363132303632");
  EXPECT_EQ(*beancount_account("Expenses:CAFE"), "Expenses:C43414645");
  EXPECT_EQ(*beancount_account("Expenses:Cafe"), "Expenses:Cafe");
  const Result<std::string> bad = beancount_account(u8("支出:餐饮"));
  ASSERT_FALSE(bad.ok());
  EXPECT_NE(bad.status().message().find("Assets, Liabilities, Equity, Income or Expenses"),
            std::string::npos);
  EXPECT_FALSE(beancount_account("Expenses").ok());
}

// Bills out of time order: the journal is in time order, each account opened on its first day, the
// category's account takes an expense and the channel's an income.
TEST(JournalWriter, BeancountOpensEachAccountOnItsFirstDay) {
  const std::vector<JournalBill> bills = {
      bill(2, "支出", 28.16, "支付宝", make_date_time(2023, 3, 5, 12, 30, 45), "餐饮"),
      bill(1, "收入", 100, "微信", make_date_time(2023, 3, 2, 8, 0, 0)),
      bill(3, "支出", 0.001, "微信", make_date_time(2023, 3, 9, 23, 59, 59), "餐饮")};
  const Result<Journal> j = write_journal(bills, JournalFormat::Beancount, AccountMap::defaults());
  ASSERT_TRUE(j.ok()) << j.status().message();
  EXPECT_EQ(j->text, u8("option \"operating_currency\" \"CNY\"\n\n"
                        "2023-03-05 open Assets:Alipay CNY\n"
                        "2023-03-02 open Assets:WeChat CNY\n"
                        "2023-03-05 open Expenses:CE9A490E9A5AE CNY\n"
                        "  name: \"Expenses:餐饮\"\n"
                        "2023-03-02 open Income:Uncategorized CNY\n\n"
                        "2023-03-02 * \"\"\n  time: \"08:00:00\"\n  channel: \"微信\"\n  serial: \"1\"\n"
                        "  category: \"未分类\"\n"
                        "  Assets:WeChat  100.00 CNY\n  Income:Uncategorized  -100.00 CNY\n\n"
                        "2023-03-05 * \"\"\n  time: \"12:30:45\"\n  channel: \"支付宝\"\n  serial: \"2\"\n"
                        "  category: \"餐饮\"\n"
                        "  Expenses:CE9A490E9A5AE  28.16 CNY\n  Assets:Alipay  -28.16 CNY\n\n"
                        "2023-03-09 * \"\"\n  time: \"23:59:59\"\n  channel: \"微信\"\n  serial: \"3\"\n"
                        "  category: \"餐饮\"\n"
                        "  Expenses:CE9A490E9A5AE  0.001 CNY\n  Assets:WeChat  -0.001 CNY\n\n"));
  EXPECT_TRUE(j->left_out.empty());
}

// A remark with quotes, backslashes, ";", "|" and line breaks stays one value in every format; a
// description never carries ";" or "|".
TEST(JournalWriter, RemarksAndDescriptionsAreEscapedForEachFormat) {
  JournalBill b = bill(7, "支出", 5, "支付宝", make_date_time(2023, 1, 2, 3, 4, 5), "未分类",
                       "say \"hi\" \\ a;b|c\r\nnext\nlast");
  b.counterpart = "(Shop; \"A\")";
  b.goods = "x|y\nz";
  const Result<Journal> bean = write_journal({b}, JournalFormat::Beancount, AccountMap::defaults());
  ASSERT_TRUE(bean.ok());
  EXPECT_NE(bean->text.find("2023-01-02 * \"(Shop; \\\"A\\\")\" \"x|y\\nz\"\n"), std::string::npos)
      << bean->text;
  EXPECT_NE(bean->text.find("  remark: \"say \\\"hi\\\" \\\\ a;b|c\\nnext\\nlast\"\n"), std::string::npos);
  for (JournalFormat f : {JournalFormat::Hledger, JournalFormat::Ledger}) {
    const Result<Journal> j = write_journal({b}, f, AccountMap::defaults());
    ASSERT_TRUE(j.ok());
    EXPECT_NE(j->text.find(u8("2023-01-02 * （Shop； \"A\") | x｜y z\n")), std::string::npos) << j->text;
    EXPECT_NE(j->text.find("    ; note: say \"hi\" \\\\ a;b|c\\nnext\\nlast\n"), std::string::npos);
    EXPECT_NE(j->text.find("    Expenses:Uncategorized  5.00 CNY\n    Assets:Alipay  -5.00 CNY\n"),
              std::string::npos);
    EXPECT_EQ(j->text.find("tag note") != std::string::npos, f == JournalFormat::Ledger);
  }
}

// A GBK character whose second byte is a backslash is one character, never escaped; a byte that
// begins no character is marked, the rest kept.
TEST(JournalWriter, RemarksAreReadByWholeCharacters) {
  const std::string gbk_char = "\x81\x5C";  // 乗: its trail byte is "\\"
  JournalBill b =
      bill(1, "支出", 1, "支付宝", make_date_time(2023, 1, 1), "未分类", ("a" + gbk_char + "\\z").c_str());
  const Result<Journal> ok = write_journal({b}, JournalFormat::Hledger, AccountMap::defaults());
  ASSERT_TRUE(ok.ok());
  EXPECT_NE(ok->text.find("; note: a" + u8(gbk_char) + "\\\\z\n"), std::string::npos) << ok->text;
  b.bill.remark = "x\xFFy" + gbk_char;
  const Result<Journal> marked = write_journal({b}, JournalFormat::Beancount, AccountMap::defaults());
  ASSERT_TRUE(marked.ok());
  EXPECT_NE(marked->text.find("remark: \"x\xEF\xBF\xBDy" + u8(gbk_char) + "\"\n"), std::string::npos)
      << marked->text;
}

TEST(JournalWriter, AnAmountThatIsNoNumberIsLeftOutAndNamed) {
  const std::vector<JournalBill> bills = {
      bill(4, "支出", std::numeric_limits<double>::quiet_NaN(), "支付宝", make_date_time(2023, 1, 1)),
      bill(5, "支出", 999999999999.99, "支付宝", make_date_time(2023, 1, 1))};
  const Result<Journal> j = write_journal(bills, JournalFormat::Hledger, AccountMap::defaults());
  ASSERT_TRUE(j.ok());
  EXPECT_EQ(j->left_out, std::vector<int32_t>{4});
  EXPECT_NE(j->text.find("999999999999.99 CNY"), std::string::npos);
  EXPECT_EQ(j->text.find("serial: 4"), std::string::npos);
}

TEST(JournalWriter, AMappingBeancountCannotTakeIsRefused) {
  AccountMap m = AccountMap::defaults();
  m.channels["支付宝"] = "Wallet:Alipay";
  const Result<Journal> j =
      write_journal({bill(1, "支出", 1, "支付宝", make_date_time(2023, 1, 1))}, JournalFormat::Beancount, m);
  ASSERT_FALSE(j.ok());
  EXPECT_NE(j.status().message().find("Wallet:Alipay"), std::string::npos);
  EXPECT_TRUE(
      write_journal({bill(1, "支出", 1, "支付宝", make_date_time(2023, 1, 1))}, JournalFormat::Hledger, m)
          .ok());
}

// The serials of a hledger journal's transactions, in the order written.
std::vector<int32_t> serials_written(const std::string& journal) {
  std::vector<int32_t> serials;
  const std::string tag = "; serial: ";
  for (size_t at = journal.find(tag); at != std::string::npos; at = journal.find(tag, at + 1)) {
    serials.push_back(std::stoi(journal.substr(at + tag.size())));
  }
  return serials;
}

// Bills in any order: by time, then serial; equal times and serials keep their order. Times before
// the calendar's day 0 are negative numbers, and -0 is the same moment as 0.
TEST(JournalWriter, BillsAreWrittenByTimeThenSerial) {
  std::mt19937 random(7);
  std::vector<JournalBill> bills;
  const double times[] = {make_date_time(2023, 3, 1, 8, 0, 0),
                          make_date_time(2023, 3, 1, 8, 0, 1),
                          make_date_time(1850, 1, 1, 12, 0, 0),
                          make_date_time(1899, 12, 29, 23, 0, 0),
                          0.0,
                          -0.0,
                          make_date_time(2023, 2, 28),
                          make_date_time(9999, 12, 31, 23, 59, 59)};
  for (int i = 0; i < 3000; ++i) {
    const double t =
        i % 3 ? times[random() % std::size(times)]
              : make_date_time(2000 + static_cast<int>(random() % 30), 1 + static_cast<int>(random() % 12),
                               1 + static_cast<int>(random() % 28), static_cast<int>(random() % 24),
                               static_cast<int>(random() % 60), static_cast<int>(random() % 60));
    const auto serial = static_cast<int32_t>(i % 5 ? random() % 100000 + 1 : 40000 + i % 7);
    bills.push_back(bill(serial, i % 4 ? "支出" : "收入", 1 + i, i % 2 ? "支付宝" : "微信", t));
  }
  std::vector<size_t> order(bills.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
    const Bill &a = bills[x].bill, &b = bills[y].bill;
    return a.time != b.time ? a.time < b.time : a.serial < b.serial;
  });
  std::vector<int32_t> want;
  for (size_t i : order) want.push_back(bills[i].bill.serial);
  const Result<Journal> j = write_journal(bills, JournalFormat::Hledger, AccountMap::defaults());
  ASSERT_TRUE(j.ok()) << j.status().message();
  EXPECT_EQ(serials_written(j->text), want);
  // Serials in order already, times not: the sort by time alone keeps them.
  for (size_t i = 0; i < bills.size(); ++i) bills[i].bill.serial = static_cast<int32_t>(i + 1);
  const Result<Journal> by_time = write_journal(bills, JournalFormat::Hledger, AccountMap::defaults());
  ASSERT_TRUE(by_time.ok());
  std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
    return bills[x].bill.time < bills[y].bill.time || (bills[x].bill.time == bills[y].bill.time && x < y);
  });
  want.clear();
  for (size_t i : order) want.push_back(bills[i].bill.serial);
  EXPECT_EQ(serials_written(by_time->text), want);
}

// Dates are worked out once a day: bills of one day, of the next (by a rounded half second), either
// side of day 0 and far apart in years each show their own date and time.
TEST(JournalWriter, EachBillShowsItsOwnDateAcrossDays) {
  const double late = make_date_time(2023, 1, 31, 23, 59, 59);
  const std::vector<JournalBill> bills = {
      bill(1, "支出", 1, "现金", make_date_time(1850, 6, 15, 12, 30, 0)),
      bill(2, "支出", 1, "现金", -1.25),
      bill(3, "支出", 1, "现金", -0.25),
      bill(4, "支出", 1, "现金", 0.5),
      bill(5, "支出", 1, "现金", late),
      bill(6, "支出", 1, "现金", late + 0.6 / 86400),
      bill(7, "支出", 1, "现金", make_date_time(2023, 2, 1, 0, 0, 1)),
      bill(8, "支出", 1, "现金", make_date_time(2024, 2, 1, 0, 0, 1)),
      bill(9, "支出", 1, "现金", make_date_time(9999, 12, 31)),
  };
  const Result<Journal> j = write_journal(bills, JournalFormat::Hledger, AccountMap::defaults());
  ASSERT_TRUE(j.ok()) << j.status().message();
  const std::string time_tag = "\n    ; time: ";
  std::string dates;
  for (size_t at = j->text.find(time_tag); at != std::string::npos; at = j->text.find(time_tag, at + 1)) {
    const size_t line = j->text.rfind("\n\n", at) + 2;
    dates += j->text.substr(line, 10) + " " + j->text.substr(at + time_tag.size(), 8) + "\n";
  }
  EXPECT_EQ(dates,
            "1850-06-15 12:30:00\n1899-12-29 06:00:00\n1899-12-30 06:00:00\n1899-12-30 12:00:00\n"
            "2023-01-31 23:59:59\n2023-02-01 00:00:00\n2023-02-01 00:00:01\n2024-02-01 00:00:01\n"
            "9999-12-31 00:00:00\n");
}

// Two categories a mapping sends to one account open it on the earlier of their first days, whatever
// the order the bills are stored in; an entry far longer than a piece of output comes out whole.
TEST(JournalWriter, AnAccountOfTwoNamesOpensOnTheFirstDayOfEither) {
  AccountMap m = AccountMap::defaults();
  m.categories["餐饮"] = "Expenses:Food";
  m.categories["午餐"] = "Expenses:Food";
  const std::string remark(300000, 'x');
  const std::vector<JournalBill> bills = {
      bill(1, "支出", 1, "支付宝", make_date_time(2023, 5, 1), "餐饮", remark.c_str()),
      bill(2, "支出", 2, "微信", make_date_time(2023, 4, 2), "午餐"),
      bill(3, "支出", 3, "支付宝", make_date_time(2023, 4, 9), "餐饮")};
  const Result<Journal> j = write_journal(bills, JournalFormat::Beancount, m);
  ASSERT_TRUE(j.ok()) << j.status().message();
  EXPECT_NE(j->text.find("2023-04-02 open Expenses:Food CNY\n"), std::string::npos) << j->text.substr(0, 400);
  EXPECT_NE(j->text.find("2023-04-09 open Assets:Alipay CNY\n"), std::string::npos);
  EXPECT_NE(j->text.find("  remark: \"" + remark + "\"\n  Expenses:Food  1.00 CNY\n"), std::string::npos);
  EXPECT_EQ(serials_written(write_journal(bills, JournalFormat::Ledger, m)->text),
            (std::vector<int32_t>{2, 3, 1}));
}

// Packed bills give back each bill's texts apart, however long or empty, and share one name for a
// channel or category however many bills name it.
TEST(JournalRows, TextsComeBackApartAndNamesAreShared) {
  JournalRows rows;
  const std::string long_remark(5000, 'r');
  rows.add({1, "支出", 2.5, "支付宝", 10, "a"}, "餐饮", "", "goods");
  rows.add({2, "收入", 3, "微信", 11, ""}, "未分类", "someone", "");
  rows.add({3, "支出", 4, "支付宝", 12, long_remark}, "餐饮");
  for (int i = 0; i < 20; ++i) rows.add({4 + i, "支出", 1, "c" + std::to_string(i), 13, "x"}, "餐饮");
  rows.add({30, "支出", 1, "微信", 14, "r"}, "餐饮", "who", std::string(70000, 'g'));
  ASSERT_EQ(rows.rows().size(), 24u);
  const auto& r = rows.rows();
  EXPECT_EQ(rows.remark(r[0]), "a");
  EXPECT_EQ(rows.counterpart(r[0]), "");
  EXPECT_EQ(rows.goods(r[0]), "goods");
  EXPECT_EQ(rows.remark(r[1]), "");
  EXPECT_EQ(rows.counterpart(r[1]), "someone");
  EXPECT_EQ(rows.goods(r[1]), "");
  EXPECT_EQ(rows.remark(r[2]), long_remark);
  EXPECT_EQ(rows.remark(r[22]), "x");
  EXPECT_EQ(rows.counterpart(r[22]), "");
  EXPECT_EQ(rows.remark(r[23]), "r");
  EXPECT_EQ(rows.counterpart(r[23]), "who");
  EXPECT_EQ(rows.goods(r[23]), std::string(70000, 'g'));
  EXPECT_TRUE(r[0].expense);
  EXPECT_FALSE(r[1].expense);
  EXPECT_EQ(r[2].serial, 3);
  EXPECT_EQ(r[2].amount, 4);
  EXPECT_EQ(r[2].time, 12);
  EXPECT_EQ(rows.channels().size(), 22u);  // 支付宝, 微信, c0 to c19
  EXPECT_EQ(r[0].channel, r[2].channel);
  EXPECT_EQ(rows.channels()[r[22].channel], "c19");
  EXPECT_EQ(rows.categories(), (std::vector<std::string>{"餐饮", "未分类"}));
  EXPECT_EQ(r[0].category, r[22].category);
}

// A channel's index stands for the channel with the bill's method account: the same pair meets the
// same index, before and after the table turns to hashing, and a name never meets an account.
TEST(JournalRows, AChannelIsNamedWithItsMethodAccount) {
  JournalRows rows;
  auto add = [&rows](int32_t serial, const std::string& channel, const std::string& account) {
    rows.add({serial, "支出", 1, channel, 10, ""}, "餐饮", "", "", account);
    return rows.rows().back().channel;
  };
  const uint32_t plain = add(1, "支付宝", ""), huabei = add(2, "支付宝", "Liabilities:Huabei");
  EXPECT_NE(plain, huabei);
  EXPECT_EQ(add(3, "支付宝", ""), plain);
  EXPECT_EQ(add(4, "支付宝", "Liabilities:Huabei"), huabei);
  const uint32_t named = add(5, "Liabilities:Huabei", "");
  for (int i = 0; i < 20; ++i) add(6 + i, "c" + std::to_string(i), i % 2 ? "Assets:C" : "");
  EXPECT_EQ(add(30, "支付宝", "Liabilities:Huabei"), huabei);
  EXPECT_EQ(add(31, "支付宝", ""), plain);
  EXPECT_EQ(add(32, "Liabilities:Huabei", ""), named);
  const uint32_t card = add(33, "支付宝", "Assets:Card");
  EXPECT_EQ(add(34, "支付宝", "Assets:Card"), card);
  EXPECT_EQ(add(35, "c1", "Assets:C"), add(36, "c1", "Assets:C"));
  EXPECT_NE(add(37, "c1", ""), add(38, "c1", "Assets:C"));
  ASSERT_EQ(rows.channels().size(), rows.channel_accounts().size());
  EXPECT_EQ(rows.channels().size(), 3u + 20u + 1u + 1u);  // 支付宝 twice, c0-c19, c1 plain, card
  EXPECT_EQ(rows.channels()[huabei], "支付宝");
  EXPECT_EQ(rows.channel_accounts()[huabei], "Liabilities:Huabei");
  EXPECT_EQ(rows.channel_accounts()[named], "");
  EXPECT_EQ(rows.channels()[card], "支付宝");
}

// A bill's method account takes its channel side in every format; beancount's journal sets one it
// cannot take aside for the channel's account and says so, the others keep it.
TEST(JournalWriter, TheChannelSidePostsToTheMethodAccount) {
  std::vector<JournalBill> bills = {bill(1, "支出", 10, "支付宝", 45000),
                                    bill(2, "支出", 20, "支付宝", 45001), bill(3, "收入", 5, "支付宝", 45002),
                                    bill(4, "支出", 7, "微信", 45003)};
  bills[1].method_account = "Liabilities:Huabei";
  bills[2].method_account = "Liabilities:Huabei";
  bills[3].method_account = "Foo:Bar";
  const Result<Journal> plain = write_journal(bills, JournalFormat::Hledger, AccountMap::defaults());
  ASSERT_TRUE(plain.ok()) << plain.status().message();
  EXPECT_TRUE(plain->notes.empty());
  for (const char* line :
       {"    Assets:Alipay  -10.00 CNY\n", "    Liabilities:Huabei  -20.00 CNY\n",
        "    Liabilities:Huabei  5.00 CNY\n", "    Foo:Bar  -7.00 CNY\n", "account Liabilities:Huabei\n"}) {
    EXPECT_NE(plain->text.find(line), std::string::npos) << line << plain->text;
  }
  EXPECT_EQ(plain->text.find("Assets:WeChat"), std::string::npos) << plain->text;
  const Result<Journal> bean = write_journal(bills, JournalFormat::Beancount, AccountMap::defaults());
  ASSERT_TRUE(bean.ok()) << bean.status().message();
  EXPECT_NE(bean->text.find("  Liabilities:Huabei  -20.00 CNY\n"), std::string::npos) << bean->text;
  EXPECT_NE(bean->text.find("  Assets:WeChat  -7.00 CNY\n"), std::string::npos) << bean->text;
  EXPECT_EQ(bean->text.find("Foo"), std::string::npos) << bean->text;
  ASSERT_EQ(bean->notes.size(), 1u);
  EXPECT_NE(bean->notes[0].find("'Foo:Bar' kept for bill 4"), std::string::npos) << bean->notes[0];
  EXPECT_NE(bean->notes[0].find("Assets:WeChat, instead"), std::string::npos) << bean->notes[0];
}

}  // namespace
}  // namespace pennacle
