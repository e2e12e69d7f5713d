#include "ledger/journal_accounts.h"

#include <array>
#include <cstdio>

#include "ledger/categories.h"
#include "ledger/journal_bills.h"
#include "platform/gbk.h"

namespace pennacle {
namespace {

bool upper(char c) { return c >= 'A' && c <= 'Z'; }
bool digit(char c) { return c >= '0' && c <= '9'; }
bool alnum(char c) { return upper(c) || digit(c) || (c >= 'a' && c <= 'z'); }
bool hex_digit(char c) { return digit(c) || (c >= 'A' && c <= 'F'); }

// "C" + upper-case hex digits: the form every renamed part takes.
bool renamed_form(std::string_view part) {
  if (part.size() < 2 || part[0] != 'C') return false;
  for (char c : part.substr(1)) {
    if (!hex_digit(c)) return false;
  }
  return true;
}

bool beancount_part_valid(std::string_view part) {
  if (part.empty() || !(upper(part[0]) || digit(part[0]))) return false;
  for (char c : part) {
    if (!alnum(c) && c != '-') return false;
  }
  return !renamed_form(part);
}

std::string renamed(std::string_view part) {
  std::string out = "C";
  for (unsigned char c : part) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", c);
    out += hex;
  }
  return out;
}

std::string under(std::string_view root, std::string_view name_gbk) {
  return std::string(root) + ":" + account_part(gbk_to_utf8_lossy(name_gbk));
}

}  // namespace

AccountMap AccountMap::defaults() {
  AccountMap m;
  m.channels = {{"支付宝", "Assets:Alipay"}, {"微信", "Assets:WeChat"},     {"银行卡", "Assets:Bank"},
                {"现金", "Assets:Cash"},     {"QQ钱包", "Assets:QQWallet"}, {"股票", "Assets:Stock"},
                {"基金", "Assets:Fund"}};
  return m;
}

std::string account_part(std::string_view name) {
  std::string out;
  bool space = false;
  for (char c : name) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    const bool cut = c == ':' || c == ';' || c == '(' || c == ')' || c == '[' || c == ']';
    out += cut ? '-' : c;
  }
  return out.empty() ? "Unknown" : out;
}

std::string channel_account(const AccountMap& map, std::string_view channel) {
  if (auto it = map.channels.find(std::string(channel)); it != map.channels.end()) return it->second;
  return under("Assets", channel);
}

std::string category_account(const AccountMap& map, std::string_view category, bool expense) {
  if (auto it = map.categories.find(std::string(category)); it != map.categories.end()) return it->second;
  const std::string_view root = expense ? "Expenses" : "Income";
  if (category == uncategorized()) return std::string(root) + ":Uncategorized";
  return under(root, category);
}

Result<std::string> beancount_account(std::string_view account) {
  static constexpr std::array<std::string_view, 5> kRoots = {"Assets", "Liabilities", "Equity", "Income",
                                                             "Expenses"};
  const size_t colon = account.find(':');
  const std::string_view root = account.substr(0, colon);
  bool known = false;
  for (std::string_view r : kRoots) known = known || r == root;
  if (!known || colon == std::string_view::npos) {
    return Status::invalid("account '" + std::string(account) +
                           "' does not begin with Assets, Liabilities, Equity, Income or Expenses");
  }
  std::string out(root);
  for (size_t at = colon; at != std::string_view::npos;) {
    const size_t next = account.find(':', at + 1);
    const std::string_view part =
        account.substr(at + 1, next == std::string_view::npos ? next : next - at - 1);
    out += ":" + (beancount_part_valid(part) ? std::string(part) : renamed(part));
    at = next;
  }
  return out;
}

}  // namespace pennacle
