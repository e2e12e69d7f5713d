// The main window as the program carries it: the serialized template (made at build time from
// ui/template/main_window_layout) and the handler table its bindings name.
//
// The application fills a MainWindowHandlers with its routines and starts the runtime:
//
//   MainWindowHandlers h;
//   h.created = MainWindow_Created;          // window event 0
//   h.destroyed = MainWindow_Destroyed;      // window event 2
//   h.add_record_click = AddRecord_Click;    // 按钮1 clicked
//   h.summary_click = Summary_Click;         // 按钮2 clicked
//   h.record_list_right_click = RecordList_RightClick;  // 超级列表框1 event 5
//   h.delete_record_click = DeleteRecord_Click;         // menu 删除记录
//   h.view_remark_click = ViewRemark_Click;             // menu 查看备注
//   start_main_window_runtime(h);
//   load_start_window(kMainWindowId);
//
// A slot left null is a binding without handler. Unit ids are in main_window_layout.h.
#pragma once

#include <array>
#include <string_view>

#include "ui/template/main_window_layout.h"
#include "ui/window_runtime.h"

namespace pennacle {

// The carried template bytes (all windows of the program: the main window only).
std::string_view main_window_templates();

struct MainWindowHandlers {
  EventHandler created = nullptr;
  EventHandler destroyed = nullptr;
  EventHandler add_record_click = nullptr;
  EventHandler summary_click = nullptr;
  EventHandler record_list_right_click = nullptr;
  EventHandler delete_record_click = nullptr;
  EventHandler view_remark_click = nullptr;
};

// The handler table in slot order (kSlotMainWindowCreated ...).
std::array<EventHandler, kMainWindowHandlerCount> main_window_handler_table(const MainWindowHandlers& h);

// runtime_start with the carried template and these handlers.
void start_main_window_runtime(const MainWindowHandlers& h);

}  // namespace pennacle
