#include "books/book_rows.h"

#include <algorithm>
#include <limits>

namespace pennacle {

TextId BookRows::intern(std::string_view text) {
  if (auto it = ids_.find(text); it != ids_.end()) return it->second;
  const TextId id = static_cast<TextId>(texts_.size());
  texts_.emplace_back(text);
  ids_.emplace(std::string(text), id);
  return id;
}

void BookRows::add(const Bill& bill, std::string_view category, bool by_hand) {
  BookRow r;
  r.time = bill.time;
  r.amount = bill.amount;
  r.serial = bill.serial;
  const TextId type = intern(bill.type);
  // More distinct types than a row can name would take a ledger no program writes; they share the
  // last id rather than show another bill's type.
  r.type = static_cast<uint16_t>(std::min<TextId>(type, std::numeric_limits<uint16_t>::max()));
  r.flags =
      static_cast<uint16_t>((bill.is_expense() ? BookRow::kExpense : 0) | (by_hand ? BookRow::kByHand : 0));
  r.channel = intern(bill.channel);
  r.category = intern(category);
  r.remark = static_cast<uint32_t>(remarks_.size());
  r.remark_size = static_cast<uint32_t>(bill.remark.size());
  remarks_ += bill.remark;
  rows_.push_back(r);
}

void BookRows::finish() {
  const auto by_serial = [](const BookRow& a, const BookRow& b) { return a.serial < b.serial; };
  if (!std::is_sorted(rows_.begin(), rows_.end(), by_serial))
    std::sort(rows_.begin(), rows_.end(), by_serial);
  rows_.shrink_to_fit();
  remarks_.shrink_to_fit();
}

void BookRows::reserve(size_t bills) { rows_.reserve(bills); }

std::optional<TextId> BookRows::id_of(std::string_view text) const {
  if (auto it = ids_.find(text); it != ids_.end()) return it->second;
  return std::nullopt;
}

std::optional<size_t> BookRows::find(int32_t serial) const {
  auto it = std::lower_bound(rows_.begin(), rows_.end(), serial,
                             [](const BookRow& r, int32_t s) { return r.serial < s; });
  if (it == rows_.end() || it->serial != serial) return std::nullopt;
  return static_cast<size_t>(it - rows_.begin());
}

Bill BookRows::bill(size_t i) const {
  const BookRow& r = rows_[i];
  Bill b;
  b.serial = r.serial;
  b.type = texts_[r.type];
  b.amount = r.amount;
  b.channel = texts_[r.channel];
  b.time = r.time;
  b.remark = remark(r);
  return b;
}

size_t BookRows::bytes() const {
  size_t n = rows_.capacity() * sizeof(BookRow) + remarks_.capacity();
  for (const std::string& t : texts_) n += 2 * (t.capacity() + sizeof(std::string)) + 48;
  return n;
}

}  // namespace pennacle
