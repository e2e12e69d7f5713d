// Rules that give bills their categories, read from a YAML file in the shape double-entry-generator's
// configuration has, so that a file written for it works unchanged:
//
//   alipay:                      # rows of Alipay exports
//     rules:
//       - category: 餐饮美食       # Alipay's 交易分类
//         targetAccount: 餐饮
//       - peer: 示例出行,示例打车   # alternatives, split at sep (default ",")
//         targetAccount: Expenses:Transport:Taxi
//         methodAccount: Assets:Alipay
//       - item: 午餐
//         time: 11:00-14:00      # time of day, both ends included; 22:00-02:00 spans midnight
//         maxPrice: 50           # minPrice and maxPrice bound the amount, ends included
//         targetAccount: 餐饮:午餐
//   wechat:                      # rows of WeChat Pay exports; txType is 交易类型
//     rules:
//       - txType: 转账
//         type: 收入
//         targetAccount: 人情
//       - peer: 示例超市
//         ignore: true            # skip the row on import (counted)
//   pennacle:                    # bills typed in the window: method is 付款方式, item is 备注
//     rules:
//       - method: 银行卡
//         item: 房租
//         fullMatch: true         # the whole text, not a part of it
//         targetAccount: 居住
//
// Keys: peer (交易对方), item (商品说明 / 商品; 备注 in pennacle), category (Alipay's 交易分类), type
// (收入 / 支出), method (the payment method; 付款方式 in pennacle), txType (WeChat's 交易类型), time,
// minPrice, maxPrice. A rule matches when every key it has matches; a text key matches when any of
// its alternatives is a part of the row's text (all of it with fullMatch). Rules apply in order, and
// each later match overrides what it sets: targetAccount (the category), methodAccount (kept for a
// journal export) and ignore. double-entry-generator's settings the ledger has no use for
// (defaultMinusAccount, title, other providers' sections, a rule's tag, pnlAccount,
// commissionAccount) are read and left alone; any other key, a malformed time range or a bad
// price refuses the file with its line and column. A section of our own maps names to the accounts
// of a journal export:
//
//   accounts:
//     channels:   {花呗: Liabilities:Huabei}
//     categories: {餐饮: Expenses:Food}
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/bill.h"
#include "platform/status.h"

namespace pennacle {

enum class RuleSection { Alipay, WeChat, Pennacle };
inline constexpr size_t kRuleSections = 3;

// What a bill offers the rules. Texts are GBK; a key without a text here never matches.
struct RuleInput {
  RuleSection section = RuleSection::Pennacle;
  std::string_view peer, item, category, method, tx_type;
  bool income = false;
  double amount = 0;
  double time = 0;  // a date-time value: its time of day meets `time`
};

// What the matching rules gave a bill: empty texts where no matching rule set one.
struct RuleMatch {
  std::string category;        // GBK: the last matching targetAccount
  std::string method_account;  // GBK: the last matching methodAccount
  bool ignore = false;
  int rules_matched = 0;
};

class CategoryRules {
 public:
  // Reads rules from YAML text (UTF-8). Invalid with "line L, column C: ..." when the file does not
  // have the shape above.
  static Result<CategoryRules> parse(std::string_view yaml);
  // Reads the file at `utf8_path`; NotFound when there is none. Failures begin with the path.
  static Result<CategoryRules> load(const std::string& utf8_path);

  RuleMatch match(const RuleInput& in) const;
  size_t size(RuleSection section) const { return sections_[static_cast<size_t>(section)].size(); }
  size_t size() const;

  enum TextKey { kPeer, kItem, kCategory, kType, kMethod, kTxType, kTextKeys };
  struct Rule {
    std::array<std::vector<std::string>, kTextKeys> text;  // GBK alternatives; empty: no such key
    bool full_match = false;
    std::optional<std::pair<int, int>> time;  // seconds of the day, from and to
    std::optional<double> min_price, max_price;
    std::optional<bool> ignore;
    std::string target, method_account;  // GBK; empty when the rule has none
  };
  const std::vector<Rule>& rules(RuleSection section) const {
    return sections_[static_cast<size_t>(section)];
  }

  // The journal export's accounts from the file's `accounts` section: `channels` (付款方式 to an
  // account) and `categories` (a category to an account). Keys GBK, accounts as written (UTF-8).
  const std::map<std::string, std::string>& channel_accounts() const { return channel_accounts_; }
  const std::map<std::string, std::string>& category_accounts() const { return category_accounts_; }

 private:
  std::array<std::vector<Rule>, kRuleSections> sections_;
  std::map<std::string, std::string> channel_accounts_, category_accounts_;
};

// What a stored bill offers the rules: a bill imported from Alipay or WeChat Pay (付款方式 支付宝 or
// 微信) meets that section with 交易对方 and 商品说明 taken back from its remark
// ("交易对方 · 商品说明"); any other bill meets the pennacle section with its 付款方式 and 备注.
// The views point into `bill`.
RuleInput bill_rule_input(const Bill& bill);

// "rules.yaml" beside the record file `utf8_record_file`.
std::string rules_path_beside(const std::string& utf8_record_file);

}  // namespace pennacle
