// filter_rows and sum_rows on books built in memory: each filter alone at its edges, the search's
// GBK character boundaries, and every filter at once against a plain reference.
#include "books/book_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "books/books_test_support.h"
#include "ledger/bill.h"
#include "runtime/convert.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

struct RowDesc {
  bool expense = true;
  double amount = 1;
  const char* channel = "支付宝";
  const char* category = "未分类";
  const char* remark = "";
  double time = 46000;
};

class BookFilter : public ::testing::Test {
 protected:
  // Bill serials are 10, 20, 30, ... in the order added.
  void add(const RowDesc& s) {
    Bill b;
    b.serial = static_cast<int32_t>(10 * (rows_.size() + 1));
    b.type = std::string(s.expense ? expense_type() : income_type());
    b.amount = s.amount;
    b.channel = gbk(s.channel);
    b.time = s.time;
    b.remark = gbk(s.remark);
    rows_.add(b, gbk(s.category), false);
  }
  std::vector<int32_t> serials(const BillFilter& f) {
    std::vector<int32_t> out;
    for (uint32_t i : filter_rows(rows_, f)) out.push_back(rows_[i].serial);
    return out;
  }
  std::vector<int32_t> searched(std::string_view utf8) {
    BillFilter f;
    f.search = gbk(utf8);
    return serials(f);
  }
  BookRows rows_;
};

using Serials = std::vector<int32_t>;

TEST_F(BookFilter, SearchFindsRemarkChannelCategoryAndTypeIgnoringAsciiCase) {
  add({.channel = "微信", .category = "餐饮:咖啡", .remark = "Luckin Coffee 拿铁"});
  add({.expense = false, .channel = "招商银行", .category = "工资", .remark = "十二月"});
  add({.channel = "ApplePay", .category = "交通", .remark = "地铁"});
  EXPECT_EQ(searched("coffee"), Serials({10}));
  EXPECT_EQ(searched("LUCKIN c"), Serials({10}));
  EXPECT_EQ(searched("拿铁"), Serials({10}));
  EXPECT_EQ(searched("招商"), Serials({20}));      // the channel
  EXPECT_EQ(searched("applepay"), Serials({30}));  // the channel, another case
  EXPECT_EQ(searched("咖啡"), Serials({10}));      // the category below 餐饮
  EXPECT_EQ(searched("收入"), Serials({20}));      // the type
  EXPECT_EQ(searched(""), Serials({10, 20, 30}));
  EXPECT_EQ(searched("火车"), Serials({}));
}

// 團 is 88 46 and 價 is 83 72 in GBK: their trail bytes are the letters F and r. Only whole
// characters may match, so neither letter is found in them.
TEST_F(BookFilter, SearchNeverMatchesInsideADoubleByteCharacter) {
  add({.remark = "團購"});
  add({.remark = "價x"});
  add({.remark = "Fresh 價"});
  EXPECT_EQ(searched("f"), Serials({30}));
  EXPECT_EQ(searched("F"), Serials({30}));
  EXPECT_EQ(searched("rx"), Serials({}));
  EXPECT_EQ(searched("價X"), Serials({20}));
  EXPECT_EQ(searched("團"), Serials({10}));
  // A needle whose own trail byte is a letter matches only that character, in no other case.
  ASSERT_EQ(gbk("團")[1], 'F');
  BillFilter folded;
  folded.search = gbk("團");
  folded.search[1] = 'f';
  EXPECT_EQ(serials(folded), Serials({}));
}

TEST_F(BookFilter, CategoryTakesItselfAndWhatIsBelowIt) {
  add({.category = "餐饮"});
  add({.category = "餐饮:午餐"});
  add({.category = "餐饮费"});
  add({.category = "交通:餐饮"});
  add({.category = "餐饮:午餐:外卖"});
  BillFilter f;
  f.category = gbk("餐饮");
  EXPECT_EQ(serials(f), Serials({10, 20, 50}));
  f.category = gbk("餐饮:午餐");
  EXPECT_EQ(serials(f), Serials({20, 50}));
  f.category = gbk("购物");
  EXPECT_EQ(serials(f), Serials({}));
}

TEST_F(BookFilter, ChannelIsExactAndSideSplitsExpenseFromIncome) {
  add({.channel = "支付宝"});
  add({.expense = false, .channel = "支付宝"});
  add({.channel = "支付宝花呗"});
  BillFilter f;
  f.channel = gbk("支付宝");
  EXPECT_EQ(serials(f), Serials({10, 20}));
  f.side = SideFilter::Expense;
  EXPECT_EQ(serials(f), Serials({10}));
  f.side = SideFilter::Income;
  EXPECT_EQ(serials(f), Serials({20}));
  f.channel = gbk("现金");  // no row holds it
  EXPECT_EQ(serials(f), Serials({}));
}

TEST_F(BookFilter, PeriodIncludesItsStartAndEndsBeforeItsEnd) {
  const double start = make_date_time(2026, 3, 1), end = make_date_time(2026, 4, 1);
  add({.time = start - 1.0 / 86400});
  add({.time = start});
  add({.time = end - 1.0 / 86400});
  add({.time = end});
  add({.time = std::numeric_limits<double>::quiet_NaN()});
  BillFilter f;
  EXPECT_EQ(serials(f).size(), 5u);  // unbounded takes every bill, even one without a time
  f.period = {start, end};
  EXPECT_EQ(serials(f), Serials({20, 30}));
  f.period = {start, std::numeric_limits<double>::infinity()};
  EXPECT_EQ(serials(f), Serials({20, 30, 40}));
}

TEST_F(BookFilter, AmountRangeIsInclusiveAndNoNonFiniteAmountMeetsIt) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double a : {9.99, 10.0, 25.5, 50.0, 50.01, std::nan(""), inf, -inf}) add({.amount = a});
  BillFilter f;
  EXPECT_EQ(serials(f).size(), 8u);
  f.min_amount = 10;
  f.max_amount = 50;
  EXPECT_EQ(serials(f), Serials({20, 30, 40}));
  f.max_amount.reset();
  EXPECT_EQ(serials(f), Serials({20, 30, 40, 50}));
  f.min_amount.reset();
  f.max_amount = 10;
  EXPECT_EQ(serials(f), Serials({10, 20}));
}

// Every filter at once, on random bills, against a reference that tests each bill plainly: the
// search on the UTF-8 text (whose characters a byte search cannot split), lowered.
TEST_F(BookFilter, EveryFilterAtOnceAgreesWithAPlainReference) {
  const char* channels[] = {"支付宝", "微信", "ApplePay", "現金"};
  const char* categories[] = {"餐饮", "餐饮:午餐", "餐饮费", "交通", "未分类"};
  const char* remarks[] = {"團購 Fresh", "價x rx", "Coffee 拿铁", "", "打车 DiDi", "ff 團"};
  const char* searches[] = {"", "f", "rx", "coffee", "團", "pay", "餐饮", "di"};
  std::mt19937 rng(7);
  std::vector<RowDesc> rows_wanted;
  for (int i = 0; i < 3000; ++i) {
    rows_wanted.push_back({rng() % 2 == 0, static_cast<double>(rng() % 10000) / 100, channels[rng() % 4],
                           categories[rng() % 5], remarks[rng() % 6],
                           46000 + static_cast<double>(rng() % 400)});
    add(rows_wanted.back());
  }
  const auto lower = [](std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
  };
  int rounds_with_bills = 0;
  for (int round = 0; round < 60; ++round) {
    BillFilter f;
    f.period = {46000 + static_cast<double>(rng() % 200), 46200 + static_cast<double>(rng() % 200)};
    f.side = static_cast<SideFilter>(rng() % 3);
    if (rng() % 2) f.channel = gbk(channels[rng() % 4]);
    if (rng() % 2) f.category = gbk(categories[rng() % 5]);
    if (rng() % 2) f.min_amount = static_cast<double>(rng() % 5000) / 100;
    if (rng() % 2) f.max_amount = 50 + static_cast<double>(rng() % 5000) / 100;
    const std::string search = searches[rng() % 8];
    f.search = gbk(search);
    Serials expected;
    for (size_t i = 0; i < rows_wanted.size(); ++i) {
      const RowDesc& s = rows_wanted[i];
      const std::string cat = s.category;
      const std::string type = s.expense ? "支出" : "收入";
      const std::string hay = lower(type + "\n" + s.channel + "\n" + cat + "\n" + s.remark);
      const bool ok = f.period.contains(s.time) &&
                      (f.side == SideFilter::Any || (f.side == SideFilter::Expense) == s.expense) &&
                      (!f.channel || *f.channel == gbk(s.channel)) &&
                      (!f.category || gbk(cat) == *f.category || gbk(cat).rfind(*f.category + ":", 0) == 0) &&
                      (!f.min_amount || s.amount >= *f.min_amount) &&
                      (!f.max_amount || s.amount <= *f.max_amount) &&
                      hay.find(lower(search)) != std::string::npos;
      if (ok) expected.push_back(static_cast<int32_t>(10 * (i + 1)));
    }
    EXPECT_EQ(serials(f), expected) << "round " << round << " search " << search;
    rounds_with_bills += !expected.empty();
  }
  EXPECT_GT(rounds_with_bills, 10);  // the rounds test bills let through, not only empty results
}

TEST_F(BookFilter, SumsCountEveryBillAndLeaveNonFiniteAmountsOut) {
  add({.expense = true, .amount = 12.5});
  add({.expense = true, .amount = std::nan("")});
  add({.expense = false, .amount = 100});
  add({.expense = false, .amount = std::numeric_limits<double>::infinity()});
  add({.expense = true, .amount = 0.25});
  const BillSums all = sum_rows(rows_, filter_rows(rows_, {}));
  EXPECT_EQ(all.count, 5);
  EXPECT_DOUBLE_EQ(all.expense, 12.5 + 0.25);
  EXPECT_DOUBLE_EQ(all.income, 100);
  EXPECT_DOUBLE_EQ(all.balance(), 100 - 12.75);
  const BillSums some = sum_rows(rows_, {1, 2, 99});  // an index past the rows is no bill
  EXPECT_EQ(some.count, 2);
  EXPECT_DOUBLE_EQ(some.expense, 0);
  EXPECT_DOUBLE_EQ(some.income, 100);
}

}  // namespace
}  // namespace pennacle
