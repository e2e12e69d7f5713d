#include "app/window_view.h"

#include "app/ledger.h"
#include "app/skins.h"
#include "runtime/convert.h"
#include "ui/file_follower.h"
#include "ui/kinds/basic_kinds.h"
#include "ui/kinds/list_view.h"
#include "ui/main_window_template.h"
#include "ui/template/list_view_settings.h"
#include "ui/text_codec.h"
#include "ui/ui_commands.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

Value list_ref() { return unit_reference(kMainWindowId, kUnitRecordList); }

std::string text_property(int32_t unit, int32_t property) {
  Value v = get_property(kMainWindowId, unit, property);
  return Text::from_result(v).str();
}

}  // namespace

MainWindowView::MainWindowView() = default;
MainWindowView::~MainWindowView() = default;

void MainWindowView::follow_files(const std::vector<std::string>& gbk_paths, void (*changed)()) {
  follower_.reset();
  if (gbk_paths.empty()) return;
  QStringList files;
  for (const std::string& p : gbk_paths) files << to_qstring(p);
  follower_ = std::make_unique<FileFollower>(files, changed);
}

std::string MainWindowView::window_caption() { return text_property(0, WindowSettings::kCaption); }

void MainWindowView::set_window_caption(std::string_view text) {
  const Text t(text);
  set_property(kMainWindowId, 0, WindowSettings::kCaption, kWholeValue, t.value());
}

void MainWindowView::set_date_label(std::string_view text) {
  const Text t(text);
  set_property(kMainWindowId, kUnitDateLabel, TransLabelSettings::kCaption, kWholeValue, t.value());
}

std::string MainWindowView::input_text(LedgerInput input) {
  switch (input) {
    case LedgerInput::Type:
      return text_property(kUnitTypeCombo, ComboBoxSettings::kContent);
    case LedgerInput::Amount:
      return text_property(kUnitAmountEdit, EditBoxSettings::kContent);
    case LedgerInput::Method:
      return text_property(kUnitPaymentCombo, ComboBoxSettings::kContent);
    case LedgerInput::Remark:
      return text_property(kUnitRemarkEdit, EditBoxSettings::kContent);
  }
  return {};
}

void MainWindowView::select_first_choices() {
  for (int32_t combo : {kUnitTypeCombo, kUnitPaymentCombo})
    set_property(kMainWindowId, combo, ComboBoxSettings::kCurrent, kWholeValue, Value::of_int(0));
}

int32_t MainWindowView::selected_row() {
  return value_to_int(get_property(kMainWindowId, kUnitRecordList, ListViewSettings::kCurrentRow));
}

void MainWindowView::message_box(std::string_view text, int32_t style,
                                 std::optional<std::string_view> title) {
  const Text message(text);
  const Text t(title.value_or(""));
  // Owned by the main window; a left-out title gives the default one.
  call_command(pennacle::message_box, {message.value(), Value::of_int(style), title ? t.value() : Value{},
                                       unit_reference(kMainWindowId, 0)});
}

bool MainWindowView::set_clipboard_text(std::string_view text) {
  const Text t(text);
  const Command cmd = pennacle::set_clipboard_text;
  const Value r = call_command(cmd, {t.value()});
  return r.is(Kind::Logical) && r.lo != 0;
}

void MainWindowView::popup_record_menu() {
  call_command(show_popup_menu, {unit_reference(kMainWindowId, 0), unit_reference(kMainWindowId, kUnitMenu)});
}

void MainWindowView::apply_skin(int32_t number) { ApplySkin(number); }

void MainWindowView::detach_skin() { DetachSkin(); }

void MainWindowView::list_clear() {
  const Command cmd = pennacle::list_clear;
  call_command(cmd, {list_ref()});
}

int32_t MainWindowView::list_insert_row() {
  const Command cmd = pennacle::list_insert_row;
  return call_command(cmd, {list_ref()}).int_payload();
}

void MainWindowView::list_set_cell_text(int32_t row, int32_t column, std::string_view text) {
  const Text t(text);
  const Command cmd = pennacle::list_set_cell_text;
  call_command(cmd, {list_ref(), Value::of_int(row), Value::of_int(column), t.value()});
}

std::string MainWindowView::list_get_cell_text(int32_t row, int32_t column) {
  const Command cmd = pennacle::list_get_cell_text;
  Value v = call_command(cmd, {list_ref(), Value::of_int(row), Value::of_int(column)});
  return Text::from_result(v).str();
}

void MainWindowView::set_status_pane(int32_t pane, std::string_view text) {
  const Text t(text);
  call_command(status_set_pane_text_command,
               {unit_reference(kMainWindowId, kUnitStatusBar), Value::of_int(pane), t.value()});
}

void start_ledger_window_runtime() {
  MainWindowHandlers h;
  h.created = MainWindow_Created;
  h.destroyed = MainWindow_Destroyed;
  h.add_record_click = AddRecord_Click;
  h.summary_click = Summary_Click;
  h.record_list_right_click = RecordList_RightClick;
  h.delete_record_click = DeleteRecord_Click;
  h.view_remark_click = ViewRemark_Click;
  start_main_window_runtime(h);
}

}  // namespace pennacle
