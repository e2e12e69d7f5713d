// The ledger's view of the main window: each call is a property of a unit or a kind command of
// the window runtime, addressed by the main window's ids.
#pragma once

#include <memory>

#include "app/ledger_view.h"

namespace pennacle {

class FileFollower;

class MainWindowView final : public LedgerView {
 public:
  std::string window_caption() override;
  void set_window_caption(std::string_view text) override;
  void set_date_label(std::string_view text) override;
  std::string input_text(LedgerInput input) override;
  void select_first_choices() override;
  int32_t selected_row() override;
  void message_box(std::string_view text, int32_t style, std::optional<std::string_view> title) override;
  bool set_clipboard_text(std::string_view text) override;
  void popup_record_menu() override;
  void apply_skin(int32_t number) override;
  void detach_skin() override;
  void follow_files(const std::vector<std::string>& gbk_paths, void (*changed)()) override;
  void list_clear() override;
  int32_t list_insert_row() override;
  void list_set_cell_text(int32_t row, int32_t column, std::string_view text) override;
  std::string list_get_cell_text(int32_t row, int32_t column) override;
  void set_status_pane(int32_t pane, std::string_view text) override;

  MainWindowView();
  ~MainWindowView() override;

 private:
  std::unique_ptr<FileFollower> follower_;
};

// Starts the window runtime with the main window's template and the ledger's handlers.
void start_ledger_window_runtime();

}  // namespace pennacle
