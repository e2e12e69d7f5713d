#include "ledger/category_rules.h"

#include <yaml-cpp/yaml.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "ledger/categories.h"
#include "platform/gbk.h"

namespace pennacle {
namespace {

// The largest rules file read: thousands of rules are a few hundred kilobytes.
constexpr uintmax_t kMaxRulesBytes = 16u << 20;
constexpr int kSecondsPerDay = 86400;

using Rule = CategoryRules::Rule;

// A refusal at a node: "line L, column C: what".
Status refuse(const YAML::Mark& mark, const std::string& what) {
  if (mark.is_null()) return Status::invalid(what);
  return Status::invalid("line " + std::to_string(mark.line + 1) + ", column " +
                         std::to_string(mark.column + 1) + ": " + what);
}

const char* section_name(RuleSection s) {
  return s == RuleSection::Alipay ? "alipay" : s == RuleSection::WeChat ? "wechat" : "pennacle";
}

struct KeyName {
  const char* name;
  CategoryRules::TextKey key;
};
constexpr KeyName kTextKeyNames[] = {
    {"peer", CategoryRules::kPeer},         {"item", CategoryRules::kItem},
    {"category", CategoryRules::kCategory}, {"type", CategoryRules::kType},
    {"method", CategoryRules::kMethod},     {"txType", CategoryRules::kTxType}};

// The text keys each section's rows carry.
bool section_has(RuleSection s, CategoryRules::TextKey k) {
  switch (s) {
    case RuleSection::Alipay:
      return k != CategoryRules::kTxType;
    case RuleSection::WeChat:
      return k != CategoryRules::kCategory;
    case RuleSection::Pennacle:
      return k == CategoryRules::kItem || k == CategoryRules::kType || k == CategoryRules::kMethod;
  }
  return false;
}

std::string section_keys(RuleSection s) {
  std::string keys;
  for (const KeyName& k : kTextKeyNames) {
    if (section_has(s, k.key)) keys += std::string(k.name) + ", ";
  }
  return keys + "time, minPrice, maxPrice, sep, fullMatch, ignore, targetAccount, methodAccount";
}

Result<std::string> gbk_scalar(const YAML::Node& n, std::string_view key) {
  if (!n.IsScalar()) return refuse(n.Mark(), std::string(key) + " takes a text");
  std::optional<std::string> gbk = utf8_to_gbk(n.Scalar());
  if (!gbk)
    return refuse(n.Mark(), std::string(key) + " '" + n.Scalar() + "' has characters GBK cannot hold");
  return *gbk;
}

Result<bool> boolean(const YAML::Node& n, std::string_view key) {
  static const std::map<std::string, bool> kWords = {{"true", true},   {"false", false}, {"True", true},
                                                     {"False", false}, {"yes", true},    {"no", false}};
  auto it = n.IsScalar() ? kWords.find(n.Scalar()) : kWords.end();
  if (it == kWords.end()) return refuse(n.Mark(), std::string(key) + " takes true or false");
  return it->second;
}

Result<double> price(const YAML::Node& n, std::string_view key) {
  double v = 0;
  const std::string s = n.IsScalar() ? n.Scalar() : std::string();
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v) || v < 0)
    return refuse(n.Mark(), std::string(key) + " '" + s + "' is not an amount (a number, 0 or more)");
  return v;
}

// "HH:MM" or "HH:MM:SS" as seconds of the day; -1 when it is neither.
int time_of_day(std::string_view s) {
  int h = 0, m = 0, sec = 0;
  auto two = [&](size_t at, int* v) {
    if (at + 2 > s.size() || s[at] < '0' || s[at] > '9' || s[at + 1] < '0' || s[at + 1] > '9') return false;
    *v = (s[at] - '0') * 10 + (s[at + 1] - '0');
    return true;
  };
  const std::string padded = s.size() >= 4 && s[1] == ':' ? "0" + std::string(s) : std::string(s);  // 9:00
  s = padded;
  if ((s.size() != 5 && s.size() != 8) || s[2] != ':' || !two(0, &h) || !two(3, &m)) return -1;
  if (s.size() == 8 && (s[5] != ':' || !two(6, &sec))) return -1;
  if (h > 23 || m > 59 || sec > 59) return -1;
  return h * 3600 + m * 60 + sec;
}

Result<std::pair<int, int>> time_range(const YAML::Node& n) {
  const std::string s = n.IsScalar() ? n.Scalar() : std::string();
  const size_t dash = s.find('-');
  const int from = dash == std::string::npos ? -1 : time_of_day(s.substr(0, dash));
  const int to = dash == std::string::npos ? -1 : time_of_day(s.substr(dash + 1));
  if (from < 0 || to < 0) return refuse(n.Mark(), "time '" + s + "' is not a range such as 11:00-14:00");
  return std::make_pair(from, to);
}

// The alternatives of a text key, split at `sep` (the whole text when sep is empty).
std::vector<std::string> alternatives(const std::string& gbk, const std::string& sep) {
  if (sep.empty()) return {gbk};
  std::vector<std::string> out;
  for (size_t start = 0;;) {
    const size_t at = gbk.find(sep, start);
    std::string part = gbk.substr(start, at == std::string::npos ? std::string::npos : at - start);
    if (!part.empty()) out.push_back(std::move(part));
    if (at == std::string::npos) break;
    start = at + sep.size();
  }
  if (out.empty()) out.push_back(gbk);
  return out;
}

bool ignored_key(const std::string& k) { return k == "tag" || k == "pnlAccount" || k == "commissionAccount"; }

// One rule's options first (sep and fullMatch shape how its texts are read), then its keys.
Status read_options(const YAML::Node& node, Rule* rule, std::string* sep) {
  for (const auto& kv : node) {
    const std::string key = kv.first.Scalar();
    if (key == "sep") {
      Result<std::string> s = gbk_scalar(kv.second, key);
      if (!s.ok()) return s.status();
      *sep = *s;
    } else if (key == "fullMatch" || key == "ignore") {
      Result<bool> b = boolean(kv.second, key);
      if (!b.ok()) return b.status();
      if (key == "fullMatch") rule->full_match = *b;
      if (key == "ignore") rule->ignore = *b;
    }
  }
  return Status();
}

Status read_key(RuleSection section, const std::string& key, const YAML::Node& value, const std::string& sep,
                Rule* rule) {
  for (const KeyName& k : kTextKeyNames) {
    if (key != k.name || !section_has(section, k.key)) continue;
    Result<std::string> s = gbk_scalar(value, key);
    if (!s.ok()) return s.status();
    rule->text[k.key] = alternatives(*s, sep);
    return Status();
  }
  if (key == "time") {
    Result<std::pair<int, int>> t = time_range(value);
    if (!t.ok()) return t.status();
    rule->time = *t;
  } else if (key == "minPrice" || key == "maxPrice") {
    Result<double> p = price(value, key);
    if (!p.ok()) return p.status();
    (key == "minPrice" ? rule->min_price : rule->max_price) = *p;
  } else if (key == "targetAccount" || key == "methodAccount") {
    Result<std::string> s = gbk_scalar(value, key);
    if (!s.ok()) return s.status();
    (key == "targetAccount" ? rule->target : rule->method_account) = *s;
  } else if (key != "sep" && key != "fullMatch" && key != "ignore" && !ignored_key(key)) {
    return Status::not_found("");
  }
  return Status();
}

Result<Rule> read_rule(RuleSection section, const YAML::Node& node) {
  if (!node.IsMap())
    return refuse(node.Mark(), std::string("a rule of ") + section_name(section) + " is a map of keys");
  Rule rule;
  std::string sep = ",";
  if (Status s = read_options(node, &rule, &sep); !s.ok()) return s;
  for (const auto& kv : node) {
    const std::string key = kv.first.IsScalar() ? kv.first.Scalar() : std::string();
    Status s = read_key(section, key, kv.second, sep, &rule);
    if (s.code() == StatusCode::NotFound) {
      return refuse(kv.first.Mark(), "unknown key '" + key + "' in a rule of " + section_name(section) +
                                         " (its keys: " + section_keys(section) + ")");
    }
    if (!s.ok()) return s;
  }
  if (rule.min_price && rule.max_price && *rule.min_price > *rule.max_price)
    return refuse(node.Mark(), "minPrice is above maxPrice");
  if (!rule.target.empty()) {
    if (std::string why = category_name_problem(rule.target); !why.empty()) {
      return refuse(node["targetAccount"].Mark(),
                    "targetAccount '" + gbk_to_utf8_lossy(rule.target) + "': " + why);
    }
  }
  return rule;
}

Status read_section(RuleSection section, const YAML::Node& node, std::vector<Rule>* out) {
  if (!node.IsMap()) return refuse(node.Mark(), std::string(section_name(section)) + " is a map with rules");
  for (const auto& kv : node) {
    if (kv.first.Scalar() != "rules") {
      return refuse(kv.first.Mark(), "unknown key '" + kv.first.Scalar() + "' in " + section_name(section) +
                                         " (it holds rules)");
    }
    if (kv.second.IsNull()) continue;
    if (!kv.second.IsSequence()) return refuse(kv.second.Mark(), "rules is a list of rules");
    for (const YAML::Node& r : kv.second) {
      Result<Rule> rule = read_rule(section, r);
      if (!rule.ok()) return rule.status();
      out->push_back(std::move(*rule));
    }
  }
  return Status();
}

bool top_level_setting(const std::string& key) {
  return key == "title" || key.rfind("default", 0) == 0;  // defaultCurrency, defaultMinusAccount, ...
}

// True when `needle` stands in `hay` at a character boundary (a GBK trail byte can look like ASCII).
// Walks the characters of `hay` and compares two bytes before the rest: rules are many, texts short.
bool gbk_contains(std::string_view hay, std::string_view needle) {
  if (needle.empty()) return true;
  if (needle.size() > hay.size()) return false;
  const char first = needle[0];
  const size_t last = hay.size() - needle.size();
  for (size_t i = 0; i <= last; i += gbk_char_length(hay, i)) {
    if (hay[i] != first || (needle.size() > 1 && hay[i + 1] != needle[1])) continue;
    if (hay.compare(i, needle.size(), needle) == 0) return true;
  }
  return false;
}

bool text_matches(const std::vector<std::string>& alternatives, std::string_view text, bool full) {
  for (const std::string& a : alternatives) {
    if (full ? text == a : gbk_contains(text, a)) return true;
  }
  return false;
}

// `texts`: the row's texts by CategoryRules::TextKey.
bool rule_matches(const Rule& r, const RuleInput& in, const std::string_view* texts) {
  for (size_t k = 0; k < CategoryRules::kTextKeys; ++k) {
    if (!r.text[k].empty() && !text_matches(r.text[k], texts[k], r.full_match)) return false;
  }
  if (r.min_price && in.amount < *r.min_price) return false;
  if (r.max_price && in.amount > *r.max_price) return false;
  if (r.time) {
    const double day = in.time - std::floor(in.time);
    const int second = static_cast<int>(std::lround(day * kSecondsPerDay)) % kSecondsPerDay;
    const auto [from, to] = *r.time;
    if (from <= to ? (second < from || second > to) : (second < from && second > to)) return false;
  }
  return true;
}

}  // namespace

RuleMatch CategoryRules::match(const RuleInput& in) const {
  RuleMatch m;
  const std::string_view texts[kTextKeys] = {
      in.peer, in.item, in.category, in.income ? income_type() : expense_type(), in.method, in.tx_type};
  for (const Rule& r : sections_[static_cast<size_t>(in.section)]) {
    if (!rule_matches(r, in, texts)) continue;
    ++m.rules_matched;
    if (!r.target.empty()) m.category = r.target;
    if (!r.method_account.empty()) m.method_account = r.method_account;
    if (r.ignore) m.ignore = *r.ignore;
  }
  return m;
}

RuleInput bill_rule_input(const Bill& bill) {
  RuleInput in;
  in.income = !bill.is_expense();
  in.amount = bill.amount;
  in.time = bill.time;
  const std::string_view remark = bill.remark;
  if (bill.channel == "支付宝" || bill.channel == "微信") {
    in.section = bill.channel == "支付宝" ? RuleSection::Alipay : RuleSection::WeChat;
    constexpr std::string_view kSeparator = " · ";
    const size_t at = remark.find(kSeparator);
    in.peer = remark.substr(0, at);
    if (at != std::string_view::npos) in.item = remark.substr(at + kSeparator.size());
  } else {
    in.section = RuleSection::Pennacle;
    in.method = bill.channel;
    in.item = remark;
  }
  return in;
}

namespace {

// The `accounts` section: channels and categories, each a map of names to accounts.
Status read_accounts(const YAML::Node& node, std::map<std::string, std::string>* channels,
                     std::map<std::string, std::string>* categories) {
  if (!node.IsMap()) return refuse(node.Mark(), "accounts takes channels: and categories:");
  for (const auto& part : node) {
    const std::string name = part.first.IsScalar() ? part.first.Scalar() : std::string();
    std::map<std::string, std::string>* to = name == "channels"     ? channels
                                             : name == "categories" ? categories
                                                                    : nullptr;
    if (!to)
      return refuse(part.first.Mark(), "unknown key '" + name + "' (accounts has channels and categories)");
    if (!part.second.IsMap()) return refuse(part.second.Mark(), name + " maps names to accounts");
    for (const auto& kv : part.second) {
      Result<std::string> key = gbk_scalar(kv.first, name);
      if (!key.ok()) return key.status();
      if (!kv.second.IsScalar() || kv.second.Scalar().empty())
        return refuse(kv.second.Mark(), "an account is a text such as Expenses:Food");
      (*to)[*key] = kv.second.Scalar();
    }
  }
  return Status();
}

}  // namespace

Result<CategoryRules> CategoryRules::parse(std::string_view yaml) {
  CategoryRules rules;
  try {
    const YAML::Node root = YAML::Load(std::string(yaml));
    if (root.IsNull()) return rules;
    if (!root.IsMap()) return refuse(root.Mark(), "a rules file is a map (alipay:, wechat:, pennacle:)");
    for (const auto& kv : root) {
      const std::string key = kv.first.IsScalar() ? kv.first.Scalar() : std::string();
      std::optional<RuleSection> section;
      for (RuleSection s : {RuleSection::Alipay, RuleSection::WeChat, RuleSection::Pennacle}) {
        if (key == section_name(s)) section = s;
      }
      if (key == "accounts") {
        if (Status s = read_accounts(kv.second, &rules.channel_accounts_, &rules.category_accounts_); !s.ok())
          return s;
      } else if (section) {
        if (Status s = read_section(*section, kv.second, &rules.sections_[static_cast<size_t>(*section)]);
            !s.ok())
          return s;
      } else if (!top_level_setting(key) && !kv.second.IsMap()) {
        // Another provider's section (a map) is double-entry-generator's business; a loose key is no one's.
        return refuse(kv.first.Mark(),
                      "unknown key '" + key + "' (a rules file has alipay, wechat and pennacle)");
      }
    }
  } catch (const YAML::Exception& e) {
    return refuse(e.mark, "not YAML: " + e.msg);
  }
  return rules;
}

Result<CategoryRules> CategoryRules::load(const std::string& utf8_path) {
  std::error_code ec;
  const std::filesystem::path p(utf8_path);
  if (!std::filesystem::exists(p, ec)) return Status::not_found(utf8_path + ": no such rules file");
  if (!std::filesystem::is_regular_file(p, ec)) return Status::invalid(utf8_path + ": not a file");
  if (std::filesystem::file_size(p, ec) > kMaxRulesBytes || ec)
    return Status::invalid(utf8_path + ": larger than a rules file can be (16 MB)");
  std::ifstream in(p, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  if (!in.good() && !in.eof()) return Status::invalid(utf8_path + ": cannot read the file");
  Result<CategoryRules> r = parse(text);
  if (!r.ok()) return r.status().with_context(utf8_path);
  return r;
}

size_t CategoryRules::size() const { return sections_[0].size() + sections_[1].size() + sections_[2].size(); }

std::string rules_path_beside(const std::string& utf8_record_file) {
  return (std::filesystem::path(utf8_record_file).parent_path() / "rules.yaml").string();
}

}  // namespace pennacle
