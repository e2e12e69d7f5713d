// What the ledger's handlers need from the main window, as one small interface: the window adapter
// (app/window_view.h) maps each call to the window runtime's properties and kind commands, and the
// handler tests put a recording one here.
//
// Texts are GBK. The calls under "any thread" are what a refresh uses while it holds the ledger
// lock: an implementation must never let them wait for the user-interface thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pennacle {

// The inputs of a new bill.
enum class LedgerInput { Type, Amount, Method, Remark };

class LedgerView {
 public:
  virtual ~LedgerView() = default;

  // ---- User-interface thread ----
  virtual std::string window_caption() = 0;
  virtual void set_window_caption(std::string_view text) = 0;
  virtual void set_date_label(std::string_view text) = 0;
  virtual std::string input_text(LedgerInput input) = 0;
  // Item 0 in both choice boxes.
  virtual void select_first_choices() = 0;
  // The list's current selected row, -1 for none.
  virtual int32_t selected_row() = 0;
  // A message box; no title means the default one. Returns when it is closed.
  virtual void message_box(std::string_view text, int32_t style, std::optional<std::string_view> title) = 0;
  virtual bool set_clipboard_text(std::string_view text) = 0;
  // Pops up the record menu at the mouse; returns when it closes.
  virtual void popup_record_menu() = 0;
  virtual void apply_skin(int32_t number) = 0;
  virtual void detach_skin() = 0;
  // Calls `changed` on this thread soon after another program (or this one) changes any of these
  // files, with no polling while they rest; an empty list stops following.
  virtual void follow_files(const std::vector<std::string>& gbk_paths, void (*changed)()) = 0;

  // ---- Any thread, never waiting for the user-interface thread ----
  virtual void list_clear() = 0;
  // A new empty row at the end; its index.
  virtual int32_t list_insert_row() = 0;
  virtual void list_set_cell_text(int32_t row, int32_t column, std::string_view text) = 0;
  virtual std::string list_get_cell_text(int32_t row, int32_t column) = 0;
  virtual void set_status_pane(int32_t pane, std::string_view text) = 0;
};

}  // namespace pennacle
