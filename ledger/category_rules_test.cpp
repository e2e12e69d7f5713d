#include "ledger/category_rules.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"
#include "runtime/convert.h"

namespace pennacle {
namespace {

// Test literals are GBK; a rules file is UTF-8.
Result<CategoryRules> rules(const std::string& gbk_yaml) {
  return CategoryRules::parse(gbk_to_utf8(gbk_yaml).value());
}

CategoryRules must(const std::string& gbk_yaml) {
  Result<CategoryRules> r = rules(gbk_yaml);
  EXPECT_TRUE(r.ok()) << r.status().message();
  return r.ok() ? std::move(*r) : CategoryRules();
}

// An Alipay row at 12:30 of 28.16 paid to 示例餐厅 for 午餐套餐.
RuleInput alipay_row() {
  RuleInput in;
  in.section = RuleSection::Alipay;
  in.peer = "示例餐厅";
  in.item = "午餐套餐";
  in.category = "餐饮美食";
  in.method = "余额宝";
  in.amount = 28.16;
  in.time = make_date_time(2023, 3, 1, 12, 30, 0);
  return in;
}

std::string category_of(const CategoryRules& r, const RuleInput& in) { return r.match(in).category; }

TEST(CategoryRules, EachTextKeyMatchesItsOwnText) {
  const CategoryRules r = must(
      "alipay:\n  rules:\n"
      "    - peer: 餐厅\n      targetAccount: P\n"
      "    - item: 套餐\n      targetAccount: I\n"
      "    - category: 餐饮美食\n      targetAccount: C\n"
      "    - method: 余额宝\n      targetAccount: M\n"
      "    - type: 收入\n      targetAccount: T\n");
  // Each rule alone, by keeping one text that matches at a time.
  RuleInput in = alipay_row();
  EXPECT_EQ(category_of(r, in), "M") << "the last of several matches";
  in.method = "花呗";
  EXPECT_EQ(category_of(r, in), "C");
  in.category = "其他";
  EXPECT_EQ(category_of(r, in), "I");
  in.item = "晚餐";
  EXPECT_EQ(category_of(r, in), "P");
  in.peer = "示例书店";
  EXPECT_EQ(category_of(r, in), "");
  in.income = true;
  EXPECT_EQ(category_of(r, in), "T");

  const CategoryRules w =
      must("wechat:\n  rules:\n    - txType: 转账\n      type: 收\n      targetAccount: 人情\n");
  RuleInput t;
  t.section = RuleSection::WeChat;
  t.tx_type = "转账";
  t.income = true;
  EXPECT_EQ(category_of(w, t), "人情");
  t.income = false;
  EXPECT_EQ(category_of(w, t), "") << "every key of a rule must match";
  t.section = RuleSection::Alipay;
  t.income = true;
  EXPECT_EQ(category_of(w, t), "") << "a section's rules meet only its rows";
}

TEST(CategoryRules, TimeAndPriceBoundTheRuleWithTheirEndsIncluded) {
  const CategoryRules r = must(
      "alipay:\n  rules:\n"
      "    - time: 11:00-14:00\n      targetAccount: 午餐\n"
      "    - time: 22:00-02:00\n      targetAccount: 夜宵\n"
      "    - minPrice: 100\n      maxPrice: 200.5\n      targetAccount: 大额\n");
  RuleInput in = alipay_row();
  for (auto [h, m, s, want] : {std::tuple{11, 0, 0, "午餐"},
                               {14, 0, 0, "午餐"},
                               {14, 0, 1, ""},
                               {10, 59, 59, ""},
                               {23, 0, 0, "夜宵"},
                               {1, 30, 0, "夜宵"},
                               {2, 0, 1, ""}}) {
    in.time = make_date_time(2023, 3, 1, h, m, s);
    EXPECT_EQ(category_of(r, in), want) << h << ":" << m << ":" << s;
  }
  in.time = make_date_time(2023, 3, 1, 9, 0, 0);
  for (auto [amount, want] : {std::pair{99.99, ""}, {100.0, "大额"}, {200.5, "大额"}, {200.51, ""}}) {
    in.amount = amount;
    EXPECT_EQ(category_of(r, in), want) << amount;
  }
}

TEST(CategoryRules, SepFullMatchIgnoreAndTheOrderOfOverrides) {
  const CategoryRules r = must(
      "alipay:\n  rules:\n"
      "    - peer: 示例出行|示例打车\n      sep: '|'\n      targetAccount: 交通\n      methodAccount: "
      "Assets:Alipay\n"
      "    - peer: 示例出行\n      fullMatch: true\n      targetAccount: 交通:打车\n"
      "    - item: 快车\n      methodAccount: Assets:Huabei\n"
      "    - peer: 示例出行,示例商城\n      item: 退款\n      ignore: true\n");
  RuleInput in = alipay_row();
  in.peer = "示例打车公司";
  in.item = "快车 4公里";
  RuleMatch m = r.match(in);
  EXPECT_EQ(m.category, "交通") << "a part of the text, one of the alternatives split at sep";
  EXPECT_EQ(m.method_account, "Assets:Huabei") << "a later rule overrides only what it sets";
  EXPECT_EQ(m.rules_matched, 2);
  EXPECT_FALSE(m.ignore);
  in.peer = "示例出行";
  EXPECT_EQ(r.match(in).category, "交通:打车") << "the whole text";
  in.peer = "示例出行公司";
  EXPECT_EQ(r.match(in).category, "交通") << "fullMatch wants the whole text";
  in.peer = "示例商城";
  in.item = "退款-耳机";
  EXPECT_TRUE(r.match(in).ignore);
  // A later ignore: false undoes an earlier ignore.
  const CategoryRules u =
      must("alipay:\n  rules:\n    - peer: A\n      ignore: true\n    - item: B\n      ignore: false\n");
  in.peer = "A";
  in.item = "B";
  EXPECT_FALSE(u.match(in).ignore);
}

TEST(CategoryRules, APartMustStartOnACharacterAndOurSectionMeetsTypedBills) {
  // "丄" is 0x81 0x41 in GBK: its second byte is 'A', which is no character of its own there.
  const CategoryRules r = must(
      "pennacle:\n  rules:\n    - item: A\n      targetAccount: X\n"
      "    - method: 银行卡\n      item: 房租\n      targetAccount: 居住\n");
  Bill bill{0, std::string(expense_type()), 3000, "银行卡", make_date_time(2023, 3, 1), "三月房租"};
  EXPECT_EQ(category_of(r, bill_rule_input(bill)), "居住");
  bill.remark = "丄";
  EXPECT_EQ(category_of(r, bill_rule_input(bill)), "");
  bill.remark = "丄A";
  EXPECT_EQ(category_of(r, bill_rule_input(bill)), "X");
  // A bill imported from Alipay gives back its counterpart and goods from its remark.
  const Bill imported{0, std::string(expense_type()), 28.16, "支付宝", 0, "示例餐厅 · 午餐套餐"};
  const RuleInput in = bill_rule_input(imported);
  EXPECT_EQ(in.section, RuleSection::Alipay);
  EXPECT_EQ(in.peer, "示例餐厅");
  EXPECT_EQ(in.item, "午餐套餐");
  EXPECT_EQ(bill_rule_input(Bill{0, "支出", 1, "微信", 0, "x"}).section, RuleSection::WeChat);
}

// Everything a file written for double-entry-generator holds besides its rules is read and left alone.
TEST(CategoryRules, ADoubleEntryGeneratorFileReadsUnchanged) {
  const CategoryRules r = must(
      "defaultMinusAccount: Assets:FIXME\ndefaultPlusAccount: Expenses:FIXME\ndefaultCurrency: CNY\n"
      "title: 测试\n"
      "huobi:\n  rules:\n    - item: BTC\n      targetAccount: Assets:Crypto\n"
      "alipay:\n  rules:\n    - peer: 示例\n      targetAccount: Expenses:Food\n      tag: a,b\n"
      "      pnlAccount: Income:PnL\n      commissionAccount: Expenses:Fee\n"
      "wechat:\n  rules:\n");
  EXPECT_EQ(r.size(RuleSection::Alipay), 1u);
  EXPECT_EQ(r.size(RuleSection::WeChat), 0u);
  EXPECT_EQ(r.size(), 1u);
  EXPECT_EQ(must("").size(), 0u);
}

TEST(CategoryRules, AMistakeRefusesTheFileWithItsLineAndColumn) {
  struct Case {
    const char* yaml;
    const char* says;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"alipay:\n  rules:\n    - peer: a\n      payee: b\n", "line 4, column 7: unknown key 'payee'"},
           {"alipay:\n  rules:\n    - time: 11-14\n", "line 3, column 13: time '11-14'"},
           {"alipay:\n  rules:\n    - time: 11:00-24:00\n", "line 3, column 13: time"},
           {"alipay:\n  rules:\n    - time: 11:00\n", "line 3, column 13: time"},
           {"alipay:\n  rules:\n    - minPrice: ten\n", "line 3, column 17: minPrice 'ten'"},
           {"alipay:\n  rules:\n    - maxPrice: -1\n", "line 3, column 17: maxPrice '-1'"},
           {"alipay:\n  rules:\n    - minPrice: 5\n      maxPrice: 1\n", "minPrice is above maxPrice"},
           {"alipay:\n  rules:\n    - fullMatch: maybe\n", "fullMatch takes true or false"},
           {"wechat:\n  rules:\n    - category: x\n", "unknown key 'category' in a rule of wechat"},
           {"pennacle:\n  rules:\n    - peer: x\n", "unknown key 'peer' in a rule of pennacle"},
           {"alipay:\n  rules:\n    - peer: x\n      targetAccount: 'a::b'\n", "targetAccount 'a::b'"},
           {"alipay:\n  rulez: []\n", "line 2, column 3: unknown key 'rulez'"},
           {"colour: blue\n", "line 1, column 1: unknown key 'colour'"},
           {"alipay:\n  rules:\n    - peer: [a\n", "not YAML"},
           {"- a\n- b\n", "a rules file is a map"},
       }) {
    const Result<CategoryRules> r = rules(c.yaml);
    ASSERT_FALSE(r.ok()) << c.yaml;
    EXPECT_EQ(r.status().code(), StatusCode::Invalid);
    EXPECT_NE(r.status().message().find(c.says), std::string::npos) << r.status().message();
  }
}

}  // namespace
}  // namespace pennacle
