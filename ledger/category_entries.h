// A category file's entries by record serial, kept as a vector sorted by serial: entries mostly
// arrive in rising serials (a file read front to back, an import adding its bills last) and are then
// only looked up and walked, which a vector does without a node per entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pennacle {

// A bill as the category file knows it.
struct CategoryKey {
  int32_t serial = 0;
  double time = 0;
  double amount = 0;  // as the ledger stores it
  bool income = false;
  bool operator==(const CategoryKey&) const = default;
};

struct CategoryEntry {
  CategoryKey key;
  std::string name;  // GBK; never empty in an entry held
  bool by_hand = false;
};

class CategoryEntries {
 public:
  using Item = std::pair<int32_t, CategoryEntry>;
  using Iterator = std::vector<Item>::const_iterator;

  Iterator begin() const { return items_.begin(); }
  Iterator end() const { return items_.end(); }
  bool empty() const { return items_.empty(); }
  size_t size() const { return items_.size(); }
  Iterator lower_bound(int32_t serial) const;
  Iterator find(int32_t serial) const;
  size_t count(int32_t serial) const { return find(serial) != end() ? 1 : 0; }

  // Sets the entry of e.key.serial, at the end without a search when the serial is above every one
  // held.
  void set(CategoryEntry e);
  // Sets many, later ones winning for one serial: one merge, not an insert each.
  void set_all(const std::vector<CategoryEntry>& changes);
  size_t erase(int32_t serial);
  // Removes the entries `gone` says so of; how many.
  template <class Gone>
  size_t erase_if(Gone gone) {
    const size_t before = items_.size();
    std::erase_if(items_, [&](const Item& v) { return gone(v.second); });
    return before - items_.size();
  }
  void clear() { items_.clear(); }
  void reserve(size_t n) { items_.reserve(n); }

  // Reading a file front to back: each line's entry, or a drop of its serial, in the file's order,
  // later lines winning; then settle() once, before any other call.
  void add_in_order(CategoryEntry&& e);
  void drop_in_order(int32_t serial);
  void settle();

 private:
  std::vector<Item> items_;
  bool settled_ = true;  // items_ is sorted, one entry a serial, no drops among them
};

}  // namespace pennacle
