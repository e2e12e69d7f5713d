#include "ui/main_window_template.h"

#include <cstddef>

namespace pennacle {

// Written by tools/make_main_window at build time.
extern const unsigned char kMainWindowTemplateData[];
extern const size_t kMainWindowTemplateSize;

std::string_view main_window_templates() {
  return {reinterpret_cast<const char*>(kMainWindowTemplateData), kMainWindowTemplateSize};
}

std::array<EventHandler, kMainWindowHandlerCount> main_window_handler_table(const MainWindowHandlers& h) {
  std::array<EventHandler, kMainWindowHandlerCount> t{};
  t[kSlotMainWindowCreated] = h.created;
  t[kSlotMainWindowDestroyed] = h.destroyed;
  t[kSlotAddRecordClick] = h.add_record_click;
  t[kSlotSummaryClick] = h.summary_click;
  t[kSlotRecordListRightClick] = h.record_list_right_click;
  t[kSlotDeleteRecordClick] = h.delete_record_click;
  t[kSlotViewRemarkClick] = h.view_remark_click;
  return t;
}

void start_main_window_runtime(const MainWindowHandlers& h) {
  const auto table = main_window_handler_table(h);
  runtime_start(main_window_templates(), table);
}

}  // namespace pennacle
