// The bills the second window holds: every live bill of the ledger, compact enough that 100,000 of
// them cost the window well under 150 bytes each. A row is 40 bytes; its type, channel and category
// are interned (a ledger has few of each) and its remark lies in one pool. Texts are GBK.
//
// A BookRows is built once per load and never changed afterwards, so the window and a worker may
// read one at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/bill.h"

namespace pennacle {

using TextId = uint32_t;

struct BookRow {
  double time = 0;
  double amount = 0;
  int32_t serial = 0;
  uint16_t type = 0;  // a TextId below 65536: a ledger has a handful of types
  uint16_t flags = 0;
  TextId channel = 0;
  TextId category = 0;
  uint32_t remark = 0;  // offset in the remark pool
  uint32_t remark_size = 0;

  static constexpr uint16_t kExpense = 1;
  static constexpr uint16_t kByHand = 2;  // the category was set by a person
  bool is_expense() const { return flags & kExpense; }
  bool category_by_hand() const { return flags & kByHand; }
};

class BookRows {
 public:
  // Adds a live bill with its category (GBK; uncategorized() when it has none). Bills come in
  // record order, which is rising serial order.
  void add(const Bill& bill, std::string_view category, bool by_hand);
  // Done adding: sorts by serial if the bills came otherwise, and gives back spare capacity.
  void finish();
  void reserve(size_t bills);

  size_t size() const { return rows_.size(); }
  const BookRow& operator[](size_t i) const { return rows_[i]; }
  const std::vector<BookRow>& rows() const { return rows_; }
  std::string_view text(TextId id) const { return texts_[id]; }
  std::string_view remark(const BookRow& r) const { return {remarks_.data() + r.remark, r.remark_size}; }
  // Every interned text, by id: types, channels and categories together.
  const std::vector<std::string>& texts() const { return texts_; }
  // The id of `text` when some row holds it.
  std::optional<TextId> id_of(std::string_view text) const;
  // The row of the bill with `serial`, when it is live.
  std::optional<size_t> find(int32_t serial) const;
  // The bill of row `i`, whole.
  Bill bill(size_t i) const;
  // Bytes held, for the memory figure.
  size_t bytes() const;

 private:
  TextId intern(std::string_view text);

  std::vector<BookRow> rows_;
  std::string remarks_;
  std::vector<std::string> texts_;
  std::map<std::string, TextId, std::less<>> ids_;
};

}  // namespace pennacle
