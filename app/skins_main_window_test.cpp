// Skin 27 on the program's own main window (the carried template, no record file behind it):
// screenshots without a skin, with skin 27 and after detach, and the look after detach equal to
// the look before attach.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/skin_test_support.h"
#include "app/skins.h"
#include "ui/kinds/list_view.h"
#include "ui/main_window_template.h"
#include "ui/skin_engine.h"

namespace pennacle {
namespace {

void fill_rows() {
  const char* rows[][6] = {{"1", "支出", "128.5", "支付宝", "2026年12月08日 12:30:05", "午饭"},
                           {"2", "收入", "8000", "银行卡", "2026年12月01日 09:00:00", "工资"},
                           {"3", "支出", "36", "微信", "2026年12月07日 19:40:12", ""}};
  for (const auto& r : rows) {
    ListInsertArgs a;
    a.text = r[0];
    const int32_t row = list_insert_row(kMainWindowId, kUnitRecordList, a);
    for (int c = 1; c < 6; ++c) list_set_cell_text(kMainWindowId, kUnitRecordList, row, c, r[c]);
  }
}

TEST(SkinOnMainWindow, Skin27AttachesAndDetachRestoresTheLook) {
  start_main_window_runtime(MainWindowHandlers{});
  StartUp();
  ASSERT_NE(skin_engine().BaseAddress(), 0u);
  ASSERT_TRUE(load_window(kMainWindowId));
  fill_rows();
  QWidget* top = window_widget(kMainWindowId);
  ASSERT_NE(top, nullptr);
  testing::expect_skin_round_trip(top, QString::fromUtf8(SCREENSHOT_DIR), "main_window");
  close_window(kMainWindowId);
}

}  // namespace
}  // namespace pennacle
