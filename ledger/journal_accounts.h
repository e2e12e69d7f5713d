// Which account of a journal a bill's channel and category post to.
//
// An account is found in this order: the mapping table (the rules file's mapping section, or the
// defaults below for channels), then the name itself under its root: "Assets:" for a channel,
// "Expenses:" or "Income:" for a category (the bill's side decides). In a name that becomes a
// part, line breaks and tabs are spaces, runs of spaces one, ends trimmed, and each of : ; ( ) [ ]
// is "-"; an empty name is "Unknown". The category 未分类 is Uncategorized.
//
// beancount takes only parts that begin with an upper-case letter or a digit followed by letters,
// digits and "-". Each part of such an account that is not of that form (and one of the form
// "C" + upper-case hex digits, so that no two names meet) becomes "C" followed by the upper-case
// hex of its UTF-8 bytes: 餐饮 is CE9A490E9A5AE. The account's open line carries the name as written.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace pennacle {

enum class JournalFormat { Beancount, Hledger, Ledger };

struct AccountMap {
  // Keys GBK (a channel, a category), accounts UTF-8 ("Assets:Alipay", "Expenses:Food").
  std::map<std::string, std::string> channels;
  std::map<std::string, std::string> categories;

  // The program's channels: 支付宝 Assets:Alipay, 微信 Assets:WeChat, 银行卡 Assets:Bank, 现金
  // Assets:Cash, QQ钱包 Assets:QQWallet, 股票 Assets:Stock, 基金 Assets:Fund; 未分类 under each side
  // as Expenses:Uncategorized and Income:Uncategorized (from the side's root, see category_account).
  static AccountMap defaults();
};

// The account (UTF-8) a channel posts to, in hledger's and ledger's form.
std::string channel_account(const AccountMap& map, std::string_view channel_gbk);
// The account (UTF-8) a category posts to on the bill's side, in hledger's and ledger's form.
std::string category_account(const AccountMap& map, std::string_view category_gbk, bool expense);

// The account as beancount takes it (see the rule above). Invalid when its first part is not one
// of beancount's roots (Assets, Liabilities, Equity, Income, Expenses): a mapping gave it.
Result<std::string> beancount_account(std::string_view account);

// A name as one part of an account in hledger's and ledger's form (the cleaning above).
std::string account_part(std::string_view utf8_name);

}  // namespace pennacle
