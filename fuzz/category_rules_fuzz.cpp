// The category rules reader on arbitrary bytes: it refuses or reads, never more. What it reads keeps
// its promises: every category a rule gives is one the category file takes, time ranges lie within a
// day, minPrice is not above maxPrice, and a match gives only categories some rule of the row's
// section names.
#include <cstdint>
#include <set>
#include <string>

#include "ledger/categories.h"
#include "ledger/category_rules.h"

using namespace pennacle;

namespace {

void check_rules(const CategoryRules& rules, std::string_view data) {
  for (RuleSection section : {RuleSection::Alipay, RuleSection::WeChat, RuleSection::Pennacle}) {
    std::set<std::string> targets = {""};
    for (const CategoryRules::Rule& r : rules.rules(section)) {
      if (!r.target.empty() && !category_name_problem(r.target).empty()) __builtin_trap();
      if (r.time &&
          (r.time->first < 0 || r.time->first >= 86400 || r.time->second < 0 || r.time->second >= 86400))
        __builtin_trap();
      if (r.min_price && r.max_price && *r.min_price > *r.max_price) __builtin_trap();
      targets.insert(r.target);
    }
    // Rows made of pieces of the input meet the rules.
    for (size_t cut = 0; cut <= data.size(); cut += 1 + data.size() / 4) {
      RuleInput in;
      in.section = section;
      in.peer = in.item = in.method = data.substr(0, cut);
      in.category = in.tx_type = data.substr(cut);
      in.income = cut % 2 == 1;
      in.amount = static_cast<double>(cut);
      in.time = 45000.0 + static_cast<double>(cut) / 97.0;
      const RuleMatch m = rules.match(in);
      if (!targets.count(m.category)) __builtin_trap();
      if (m.rules_matched < 0 || static_cast<size_t>(m.rules_matched) > rules.size(section)) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Result<CategoryRules> rules = CategoryRules::parse(text);
  if (!rules.ok()) {
    if (rules.status().message().empty()) __builtin_trap();  // a refusal says why
    return 0;
  }
  check_rules(*rules, text);
  return 0;
}
