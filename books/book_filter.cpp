#include "books/book_filter.h"

#include <cmath>
#include <cstring>

#include "ledger/report.h"
#include "platform/gbk.h"

namespace pennacle {
namespace {

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether `needle` (ASCII already folded) stands at hay[i], comparing character by character: an
// ASCII letter of the needle meets a single-byte character of either case, a double-byte character
// its exact bytes. Since i is a character boundary and the needle is whole characters, a trail byte
// of the hay only ever meets a trail byte of the needle.
bool matches_at(std::string_view hay, size_t i, std::string_view needle) {
  if (hay.size() - i < needle.size()) return false;
  for (size_t k = 0; k < needle.size(); ++k) {
    const char h = hay[i + k];
    if (is_gbk_lead_byte(needle[k])) {
      if (h != needle[k] || k + 1 >= needle.size() || hay[i + k + 1] != needle[k + 1]) return false;
      ++k;
    } else if (fold(h) != needle[k]) {
      return false;
    }
  }
  return true;
}

// Whether the folded `needle` appears in `hay` at a character boundary. Most rows hold no byte
// equal to the needle's first byte (in either case), so those are passed over by memchr before
// any walk by characters.
bool gbk_contains(std::string_view hay, std::string_view needle) {
  if (needle.empty()) return true;
  if (hay.size() < needle.size()) return false;
  const char first = needle.front();
  const char upper = first >= 'a' && first <= 'z' ? static_cast<char>(first - 'a' + 'A') : first;
  if (!std::memchr(hay.data(), first, hay.size()) &&
      (upper == first || !std::memchr(hay.data(), upper, hay.size()))) {
    return false;
  }
  for (size_t i = 0; i < hay.size(); i += gbk_char_length(hay, i)) {
    if (fold(hay[i]) == first && matches_at(hay, i, needle)) return true;
  }
  return false;
}

// `name` is `category` or a category below it: 餐饮 takes 餐饮:午餐, not 餐饮费. A colon is never a
// GBK trail byte, so a byte prefix that ends before one ends at a character boundary.
bool within_category(std::string_view name, std::string_view category) {
  if (name.size() < category.size() || name.compare(0, category.size(), category) != 0) return false;
  return name.size() == category.size() || name[category.size()] == ':';
}

// What each interned text says for this filter, decided once rather than once per row.
struct TextVerdicts {
  std::vector<uint8_t> search;    // the text holds the search text
  std::vector<uint8_t> category;  // the text is within the category filter
};

TextVerdicts judge_texts(const BookRows& rows, const BillFilter& filter, std::string_view needle) {
  const std::vector<std::string>& texts = rows.texts();
  TextVerdicts v;
  v.search.resize(texts.size());
  v.category.resize(texts.size());
  for (size_t id = 0; id < texts.size(); ++id) {
    v.search[id] = gbk_contains(texts[id], needle);
    v.category[id] =
        !filter.category || (filter.category_alone ? texts[id] == *filter.category
                                                   : within_category(texts[id], *filter.category));
  }
  return v;
}

bool amount_within(double amount, const BillFilter& filter) {
  if (!filter.min_amount && !filter.max_amount) return true;
  if (!std::isfinite(amount)) return false;
  return (!filter.min_amount || amount >= *filter.min_amount) &&
         (!filter.max_amount || amount <= *filter.max_amount);
}

}  // namespace

std::vector<uint32_t> filter_rows(const BookRows& rows, const BillFilter& filter) {
  std::string needle = filter.search;
  for (size_t i = 0; i < needle.size(); i += gbk_char_length(needle, i)) needle[i] = fold(needle[i]);
  const TextVerdicts verdicts = judge_texts(rows, filter, needle);
  // A channel no row holds lets nothing through.
  std::optional<TextId> channel;
  if (filter.channel) {
    channel = rows.id_of(*filter.channel);
    if (!channel) return {};
  }
  const bool bounded = std::isfinite(filter.period.from) || std::isfinite(filter.period.to);
  std::vector<uint32_t> shown;
  shown.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const BookRow& r = rows[i];
    if (bounded && !filter.period.contains(r.time)) continue;
    if (filter.side == SideFilter::Expense && !r.is_expense()) continue;
    if (filter.side == SideFilter::Income && r.is_expense()) continue;
    if (channel && r.channel != *channel) continue;
    if (!verdicts.category[r.category]) continue;
    if (!amount_within(r.amount, filter)) continue;
    if (!needle.empty() && !verdicts.search[r.type] && !verdicts.search[r.channel] &&
        !verdicts.search[r.category] && !gbk_contains(rows.remark(r), needle)) {
      continue;
    }
    shown.push_back(static_cast<uint32_t>(i));
  }
  return shown;
}

BillSums sum_rows(const BookRows& rows, const std::vector<uint32_t>& shown) {
  // The report's own step, so a bill that spoils no sum there spoils none here.
  ReportRow sums;
  for (uint32_t i : shown) {
    if (i < rows.size()) add_to_report_row(&sums, rows[i].is_expense(), rows[i].amount);
  }
  return {sums.count, sums.expense, sums.income};
}

}  // namespace pennacle
