#include "ui/kinds/list_rows.h"

#include <algorithm>
#include <limits>

namespace pennacle {
namespace {

// The state-image bits hold numbers 0 to 15.
constexpr int32_t kStateImageMask = 0xF;
constexpr int32_t kUnsorted = 0;
constexpr int32_t kSortAscending = 1;  // any other sorting descends
constexpr size_t kMaxRows = std::numeric_limits<int32_t>::max();

// Case-blind order of two GBK texts, as a sorted list places its rows: ASCII letters fold, every
// other byte compares by value.
bool sorts_before(std::string_view a, std::string_view b) {
  auto fold = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [&](char x, char y) { return fold(x) < fold(y); });
}

// A text as a cell holds it: up to its first zero byte.
std::string_view cell_text(std::string_view text) { return text.substr(0, text.find('\0')); }

}  // namespace

bool ListRows::column_exists(int32_t column) const {
  mu_.assert_held();
  return column == 0 || (column > 0 && static_cast<size_t>(column) < columns_);
}

size_t ListRows::insert_position(std::string_view key, int32_t position) const {
  mu_.assert_held();
  auto first = [](const Row& r) {
    return r.cells.empty() ? std::string_view() : std::string_view(r.cells[0]);
  };
  if (sorting_ != kUnsorted) {
    size_t at = 0;
    while (at < rows_.size() && (sorting_ == kSortAscending ? !sorts_before(key, first(rows_[at]))
                                                            : !sorts_before(first(rows_[at]), key)))
      ++at;
    return at;
  }
  if (position >= 0 && static_cast<size_t>(position) < rows_.size()) return static_cast<size_t>(position);
  return rows_.size();
}

int32_t ListRows::insert(const ListInsertArgs& a) {
  Row row;
  row.cells.emplace_back(cell_text(a.text));
  row.state.image = a.image < -1 ? -1 : a.image;
  if (a.has_state_image) row.state.state_image = std::max(a.state_image + 1, 0) & kStateImageMask;
  row.state.indent = std::max(a.indent, 0);
  row.state.value = a.value;
  MutexLock lock(mu_);
  // Room for every column at once: the ledger fills all six cells of each new row.
  row.cells.reserve(std::max<size_t>(columns_, 1));
  const size_t at = insert_position(row.cells[0], a.position);
  if (at >= kMaxRows) return -1;
  if (at < rows_.size()) reshaped_ = true;
  rows_.insert(rows_.begin() + static_cast<ptrdiff_t>(at), std::move(row));
  return static_cast<int32_t>(at);
}

bool ListRows::set_cell(int32_t row, int32_t column, std::string_view text) {
  MutexLock lock(mu_);
  if (row < 0 || static_cast<size_t>(row) >= rows_.size() || !column_exists(column)) return false;
  std::vector<std::string>& cells = rows_[static_cast<size_t>(row)].cells;
  const auto c = static_cast<size_t>(column);
  if (cells.size() <= c) cells.resize(std::max(c + 1, columns_));
  cells[c].assign(cell_text(text));
  return true;
}

std::string ListRows::cell(int32_t row, int32_t column) const {
  MutexLock lock(mu_);
  if (row < 0 || static_cast<size_t>(row) >= rows_.size() || !column_exists(column)) return {};
  const std::vector<std::string>& cells = rows_[static_cast<size_t>(row)].cells;
  return static_cast<size_t>(column) < cells.size() ? cells[static_cast<size_t>(column)] : std::string();
}

bool ListRows::clear() {
  MutexLock lock(mu_);
  if (rows_.empty()) return false;
  rows_.clear();
  reshaped_ = true;
  return true;
}

int32_t ListRows::count() const {
  MutexLock lock(mu_);
  return static_cast<int32_t>(std::min(rows_.size(), kMaxRows));
}

ListRowState ListRows::state(int32_t row) const {
  MutexLock lock(mu_);
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return {};
  return rows_[static_cast<size_t>(row)].state;
}

void ListRows::set_shape(size_t columns, int32_t sorting) {
  MutexLock lock(mu_);
  columns_ = columns;
  sorting_ = sorting;
}

void ListRows::replace(const std::vector<ListRow>& rows) {
  MutexLock lock(mu_);
  rows_.clear();
  for (const ListRow& r : rows) {
    Row row;
    row.cells = r.cells;
    row.state.image = std::max(r.image, -1);
    row.state.state_image = std::clamp(r.state_image, 0, kStateImageMask);
    row.state.indent = std::max(r.indent, 0);
    row.state.value = r.value;
    rows_.push_back(std::move(row));
  }
  reshaped_ = true;
}

std::vector<ListRow> ListRows::rows() const {
  std::vector<ListRow> out;
  MutexLock lock(mu_);
  for (const Row& r : rows_)
    out.push_back({r.cells, r.state.image, r.state.state_image, r.state.indent, r.state.value});
  return out;
}

void ListRows::select_only(int32_t row) {
  MutexLock lock(mu_);
  for (Row& r : rows_) r.state.selected = r.state.focused = false;
  if (row >= 0 && static_cast<size_t>(row) < rows_.size()) {
    ListRowState& s = rows_[static_cast<size_t>(row)].state;
    s.selected = s.focused = true;
  }
  selection_moved_ = true;
}

int32_t ListRows::first_selected() const {
  MutexLock lock(mu_);
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].state.selected) return static_cast<int32_t>(i);
  return -1;
}

void ListRows::set_selected(const std::vector<int>& rows) {
  MutexLock lock(mu_);
  for (Row& r : rows_) r.state.selected = false;
  for (int r : rows)
    if (r >= 0 && static_cast<size_t>(r) < rows_.size()) rows_[static_cast<size_t>(r)].state.selected = true;
}

bool ListRows::set_focused(int row) {
  MutexLock lock(mu_);
  bool gained = false;
  for (size_t i = 0; i < rows_.size(); ++i) {
    const bool now = row >= 0 && static_cast<size_t>(row) == i;
    if (now && !rows_[i].state.focused) gained = true;
    rows_[i].state.focused = now;
  }
  return gained;
}

void ListRows::selection(size_t limit, std::vector<int>* selected, int* focused) const {
  *focused = -1;
  MutexLock lock(mu_);
  const size_t n = std::min(rows_.size(), limit);
  for (size_t i = 0; i < n; ++i) {
    if (rows_[i].state.selected) selected->push_back(static_cast<int>(i));
    if (rows_[i].state.focused) *focused = static_cast<int>(i);
  }
}

std::optional<int32_t> ListRows::state_image(size_t row) const {
  MutexLock lock(mu_);
  if (row >= rows_.size()) return std::nullopt;
  return rows_[row].state.state_image;
}

bool ListRows::set_checked(size_t row, bool on) {
  MutexLock lock(mu_);
  if (row >= rows_.size()) return false;
  rows_[row].state.state_image = on ? kChecked : kUnchecked;
  return true;
}

bool ListRows::set_main_text(size_t row, std::string text) {
  MutexLock lock(mu_);
  if (row >= rows_.size()) return false;
  if (rows_[row].cells.empty()) rows_[row].cells.resize(1);
  rows_[row].cells[0] = std::move(text);
  return true;
}

ListRows::Changes ListRows::take_changes() {
  MutexLock lock(mu_);
  Changes c{rows_.size(), reshaped_, selection_moved_};
  reshaped_ = selection_moved_ = false;
  return c;
}

}  // namespace pennacle
