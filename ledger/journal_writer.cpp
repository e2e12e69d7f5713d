#include "ledger/journal_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>

#include "ledger/amount_text.h"
#include "platform/gbk.h"
#include "runtime/convert.h"

namespace pennacle {
namespace {

constexpr const char* kCurrency = "CNY";
// The tags hledger and ledger transactions carry, declared for ledger --pedantic.
constexpr const char* kTags[] = {"time", "channel", "serial", "category", "note"};

std::string utf8(std::string_view gbk) { return gbk_to_utf8_lossy(gbk); }

std::string date_text(double t) {
  const DateTimeParts p = date_time_parts(t);
  char s[16];
  std::snprintf(s, sizeof s, "%04d-%02d-%02d", p.year, p.month, p.day);
  return s;
}

std::string time_text(double t) {
  const DateTimeParts p = date_time_parts(t);
  char s[16];
  std::snprintf(s, sizeof s, "%02d:%02d:%02d", p.hour, p.minute, p.second);
  return s;
}

// A value on one line: backslashes doubled, each line break "\n" (CR LF is one), and with `quotes`
// a quote as \" (beancount's strings).
std::string escaped(std::string_view s, bool quotes) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"' && quotes) {
      out += "\\\"";
    } else if (c == '\r' || c == '\n') {
      out += "\\n";
      if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else {
      out += c;
    }
  }
  return out;
}

std::string quoted(std::string_view s) { return "\"" + escaped(s, true) + "\""; }

// Text for a hledger or ledger description: ";" would start a comment and "|" split it.
std::string description_text(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == ';') {
      out += "\xEF\xBC\x9B";  // ；
    } else if (c == '|') {
      out += "\xEF\xBD\x9C";  // ｜
    } else {
      out += (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
    }
  }
  if (!out.empty() && out[0] == '(') out.replace(0, 1, "\xEF\xBC\x88");  // （: "(" would open a code
  return out;
}

// One bill with its accounts in the form of the journal being written.
struct Entry {
  const JournalBill* b;
  std::string date, channel_account, category_account;
};

// The bills that can be written, sorted by time then serial, with their accounts.
Result<std::vector<Entry>> entries_of(const std::vector<JournalBill>& bills, JournalFormat format,
                                      const AccountMap& accounts, std::vector<int32_t>* left_out) {
  std::vector<Entry> out;
  std::map<std::string, std::string> bean;  // plain account -> beancount's, computed once
  auto form = [&](std::string plain) -> Result<std::string> {
    if (format != JournalFormat::Beancount) return plain;
    auto it = bean.find(plain);
    if (it != bean.end()) return it->second;
    Result<std::string> b = beancount_account(plain);
    if (b.ok()) bean.emplace(plain, *b);
    return b;
  };
  for (const JournalBill& jb : bills) {
    if (!std::isfinite(jb.bill.amount)) {
      left_out->push_back(jb.bill.serial);
      continue;
    }
    Result<std::string> ch = form(channel_account(accounts, jb.bill.channel));
    if (!ch.ok()) return ch.status();
    Result<std::string> cat = form(category_account(accounts, jb.category, jb.bill.is_expense()));
    if (!cat.ok()) return cat.status();
    out.push_back({&jb, date_text(jb.bill.time), std::move(*ch), std::move(*cat)});
  }
  std::stable_sort(out.begin(), out.end(), [](const Entry& x, const Entry& y) {
    if (x.b->bill.time != y.b->bill.time) return x.b->bill.time < y.b->bill.time;
    return x.b->bill.serial < y.b->bill.serial;
  });
  return out;
}

// Each account with the date of its first use (the entries are in time order) and, for beancount,
// the name it stands for when that differs.
struct Opened {
  std::string date, name;
};
std::map<std::string, Opened> accounts_used(const std::vector<Entry>& entries, const AccountMap& accounts) {
  std::map<std::string, Opened> used;
  for (const Entry& e : entries) {
    const Bill& b = e.b->bill;
    used.try_emplace(e.channel_account, Opened{e.date, channel_account(accounts, b.channel)});
    used.try_emplace(e.category_account,
                     Opened{e.date, category_account(accounts, e.b->category, b.is_expense())});
  }
  return used;
}

// The two postings: the category's account takes an expense, the channel's an income.
std::string postings(const Entry& e, const char* indent) {
  const Bill& b = e.b->bill;
  const std::string amount = exact_amount_text(b.amount) + " " + kCurrency;
  const std::string negated = exact_amount_text(-b.amount) + " " + kCurrency;
  const std::string& to = b.is_expense() ? e.category_account : e.channel_account;
  const std::string& from = b.is_expense() ? e.channel_account : e.category_account;
  return indent + to + "  " + amount + "\n" + indent + from + "  " + negated + "\n";
}

std::string beancount_entry(const Entry& e) {
  const JournalBill& jb = *e.b;
  std::string s = e.date + " *";
  if (!jb.counterpart.empty()) s += " " + quoted(utf8(jb.counterpart));
  s += " " + quoted(utf8(jb.goods)) + "\n";
  s += "  time: " + quoted(time_text(jb.bill.time)) + "\n";
  s += "  channel: " + quoted(utf8(jb.bill.channel)) + "\n";
  s += "  serial: \"" + std::to_string(jb.bill.serial) + "\"\n";
  s += "  category: " + quoted(utf8(jb.category)) + "\n";
  if (!jb.bill.remark.empty()) s += "  remark: " + quoted(utf8(jb.bill.remark)) + "\n";
  return s + postings(e, "  ") + "\n";
}

std::string beancount_text(const std::vector<Entry>& entries, const AccountMap& accounts) {
  std::string s = std::string("option \"operating_currency\" \"") + kCurrency + "\"\n\n";
  for (const auto& [account, opened] : accounts_used(entries, accounts)) {
    s += opened.date + " open " + account + " " + kCurrency + "\n";
    if (opened.name != account) s += "  name: " + quoted(opened.name) + "\n";
  }
  s += "\n";
  for (const Entry& e : entries) s += beancount_entry(e);
  return s;
}

std::string plain_entry(const Entry& e) {
  const JournalBill& jb = *e.b;
  std::string description = description_text(utf8(jb.counterpart));
  const std::string goods = description_text(utf8(jb.goods));
  if (!goods.empty()) description += description.empty() ? goods : " | " + goods;
  std::string s = e.date + " *" + (description.empty() ? "" : " " + description) + "\n";
  s += "    ; time: " + time_text(jb.bill.time) + "\n";
  s += "    ; channel: " + escaped(utf8(jb.bill.channel), false) + "\n";
  s += "    ; serial: " + std::to_string(jb.bill.serial) + "\n";
  s += "    ; category: " + escaped(utf8(jb.category), false) + "\n";
  if (!jb.bill.remark.empty()) s += "    ; note: " + escaped(utf8(jb.bill.remark), false) + "\n";
  return s + postings(e, "    ") + "\n";
}

std::string plain_text(const std::vector<Entry>& entries, const AccountMap& accounts, JournalFormat format) {
  // No display format: a balance shows every decimal its amounts have.
  std::string s = std::string("commodity ") + kCurrency + "\n\n";
  for (const auto& entry : accounts_used(entries, accounts)) s += "account " + entry.first + "\n";
  if (format == JournalFormat::Ledger) {
    s += "\n";
    for (const char* tag : kTags) s += std::string("tag ") + tag + "\n";
  }
  s += "\n";
  for (const Entry& e : entries) s += plain_entry(e);
  return s;
}

}  // namespace

Result<Journal> write_journal(const std::vector<JournalBill>& bills, JournalFormat format,
                              const AccountMap& accounts) {
  Journal j;
  Result<std::vector<Entry>> entries = entries_of(bills, format, accounts, &j.left_out);
  if (!entries.ok()) return entries.status();
  j.text = format == JournalFormat::Beancount ? beancount_text(*entries, accounts)
                                              : plain_text(*entries, accounts, format);
  return j;
}

}  // namespace pennacle
