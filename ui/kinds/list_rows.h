// The rows of a report list view, as the list commands and the view share them: cells, row
// attributes and each row's selected and focused state, under one mutex. No Qt: the commands call
// it from any thread, the view reads it on the user-interface thread when it paints, and it is
// tested on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mutex.h"
#include "ui/template/setting_types.h"

namespace pennacle {

// The arguments of list_insert_row.
struct ListInsertArgs {
  int32_t position = -1;
  std::string_view text;
  int32_t image = -1;
  bool has_state_image = false;
  int32_t state_image = 0;  // the index as passed (the number stored is index + 1)
  int32_t indent = 0;
  int32_t value = 0;
};

// A row's attributes as the store holds them.
struct ListRowState {
  bool exists = false;
  int32_t image = -1;
  int32_t state_image = 0;
  int32_t indent = 0;
  int32_t value = 0;
  bool selected = false;
  bool focused = false;
};

// The state-image numbers of a check box.
inline constexpr int32_t kUnchecked = 1;
inline constexpr int32_t kChecked = 2;

class ListRows {
 public:
  // ---- Commands ----
  // The new row's index (at `position`, or the end; where its text sorts in a sorted list), or -1
  // when the list is full.
  int32_t insert(const ListInsertArgs& args) EXCLUDES(mu_);
  // False when the row or the column does not exist (nothing changes).
  bool set_cell(int32_t row, int32_t column, std::string_view text) EXCLUDES(mu_);
  // "" for an empty cell or a row or column that does not exist.
  std::string cell(int32_t row, int32_t column) const EXCLUDES(mu_);
  // False when there was no row.
  bool clear() EXCLUDES(mu_);
  int32_t count() const EXCLUDES(mu_);
  ListRowState state(int32_t row) const EXCLUDES(mu_);

  // ---- The control's settings ----
  // The columns a cell may be in (column 0 always exists) and the sorting (0 none, 1 ascending,
  // 2 descending) new rows follow.
  void set_shape(size_t columns, int32_t sorting) EXCLUDES(mu_);
  // Every row replaced by `rows`, their attributes brought into range, none selected.
  void replace(const std::vector<ListRow>& rows) EXCLUDES(mu_);
  std::vector<ListRow> rows() const EXCLUDES(mu_);

  // ---- Selection ----
  // Only `row` selected and focused (none when it does not exist); the view must follow.
  void select_only(int32_t row) EXCLUDES(mu_);
  // The first selected row, or -1.
  int32_t first_selected() const EXCLUDES(mu_);
  // Exactly these rows selected (rows that do not exist are left out).
  void set_selected(const std::vector<int>& rows) EXCLUDES(mu_);
  // `row` (-1: none) becomes the focused row; true when a row gained the focus it lacked.
  bool set_focused(int row) EXCLUDES(mu_);
  // The selected rows and the focused row (-1: none) among the first `limit` rows.
  void selection(size_t limit, std::vector<int>* selected, int* focused) const EXCLUDES(mu_);

  // ---- What the view reads and changes (user-interface thread) ----
  std::optional<int32_t> state_image(size_t row) const EXCLUDES(mu_);
  bool set_checked(size_t row, bool on) EXCLUDES(mu_);
  bool set_main_text(size_t row, std::string text) EXCLUDES(mu_);

  // What changed since the last call: the row count, whether rows went or came before the end,
  // and whether the view must take the selection from the store.
  struct Changes {
    size_t rows = 0;
    bool reshaped = false;
    bool selection_moved = false;
  };
  Changes take_changes() EXCLUDES(mu_);

 private:
  struct Row {
    std::vector<std::string> cells;  // from column 0; missing cells are empty
    ListRowState state{.exists = true};
  };

  bool column_exists(int32_t column) const REQUIRES(mu_);
  size_t insert_position(std::string_view key, int32_t position) const REQUIRES(mu_);

  mutable Mutex mu_;
  std::vector<Row> rows_ GUARDED_BY(mu_);
  size_t columns_ GUARDED_BY(mu_) = 0;
  int32_t sorting_ GUARDED_BY(mu_) = 0;
  bool reshaped_ GUARDED_BY(mu_) = false;
  bool selection_moved_ GUARDED_BY(mu_) = false;
};

}  // namespace pennacle
