#include "ledger/category_entries.h"

#include <algorithm>

namespace pennacle {
namespace {

bool serial_below(const CategoryEntries::Item& v, int32_t serial) { return v.first < serial; }

}  // namespace

CategoryEntries::Iterator CategoryEntries::lower_bound(int32_t serial) const {
  // Serials are mostly dense (a ledger numbers its records one by one): the entry where a dense run
  // from the first would hold `serial` is tried before a search.
  if (!items_.empty() && serial >= items_.front().first) {
    const auto guess = static_cast<uint64_t>(int64_t{serial} - items_.front().first);
    if (guess < items_.size() && items_[guess].first == serial)
      return items_.begin() + static_cast<ptrdiff_t>(guess);
  }
  return std::lower_bound(items_.begin(), items_.end(), serial, serial_below);
}

CategoryEntries::Iterator CategoryEntries::find(int32_t serial) const {
  const auto it = lower_bound(serial);
  return it != end() && it->first == serial ? it : end();
}

void CategoryEntries::set(CategoryEntry e) {
  const int32_t serial = e.key.serial;
  if (items_.empty() || items_.back().first < serial) {
    items_.emplace_back(serial, std::move(e));
    return;
  }
  auto it = std::lower_bound(items_.begin(), items_.end(), serial, serial_below);
  if (it != items_.end() && it->first == serial) {
    it->second = std::move(e);
  } else {
    items_.emplace(it, serial, std::move(e));
  }
}

void CategoryEntries::set_all(const std::vector<CategoryEntry>& changes) {
  if (changes.size() < 8) {
    for (const CategoryEntry& e : changes) set(e);
    return;
  }
  std::vector<Item> sorted;
  sorted.reserve(changes.size());
  for (const CategoryEntry& e : changes) sorted.emplace_back(e.key.serial, e);
  // Stable, then the last of each serial kept: later changes win.
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Item& a, const Item& b) { return a.first < b.first; });
  size_t kept = 0;
  for (size_t i = 0; i < sorted.size(); ++i) {
    if (i + 1 < sorted.size() && sorted[i + 1].first == sorted[i].first) continue;
    if (kept != i) sorted[kept] = std::move(sorted[i]);
    ++kept;
  }
  sorted.resize(kept);
  if (items_.empty() || items_.back().first < sorted.front().first) {
    items_.insert(items_.end(), std::make_move_iterator(sorted.begin()),
                  std::make_move_iterator(sorted.end()));
    return;
  }
  std::vector<Item> merged;
  merged.reserve(items_.size() + sorted.size());
  auto held = items_.begin();
  for (Item& change : sorted) {
    while (held != items_.end() && held->first < change.first) merged.push_back(std::move(*held++));
    if (held != items_.end() && held->first == change.first) ++held;  // replaced
    merged.push_back(std::move(change));
  }
  merged.insert(merged.end(), std::make_move_iterator(held), std::make_move_iterator(items_.end()));
  items_ = std::move(merged);
}

size_t CategoryEntries::erase(int32_t serial) {
  const auto it = find(serial);
  if (it == end()) return 0;
  items_.erase(it);
  return 1;
}

void CategoryEntries::add_in_order(CategoryEntry&& e) {
  const int32_t serial = e.key.serial;
  settled_ = settled_ && (items_.empty() || items_.back().first < serial);
  items_.emplace_back(serial, std::move(e));
}

void CategoryEntries::drop_in_order(int32_t serial) {
  settled_ = false;
  items_.emplace_back(serial, CategoryEntry{});  // an empty name: dropped
}

void CategoryEntries::settle() {
  if (settled_) return;
  settled_ = true;
  std::stable_sort(items_.begin(), items_.end(),
                   [](const Item& a, const Item& b) { return a.first < b.first; });
  size_t kept = 0;
  for (size_t i = 0; i < items_.size(); ++i) {
    const bool superseded = i + 1 < items_.size() && items_[i + 1].first == items_[i].first;
    if (superseded || items_[i].second.name.empty()) continue;
    if (kept != i) items_[kept] = std::move(items_[i]);
    ++kept;
  }
  items_.resize(kept);
}

}  // namespace pennacle
