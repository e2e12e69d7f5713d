// Skin 27 on a window built by the window runtime from its template, with a control of every kind
// the ledger uses: attach restyles it, detach gives back exactly the look before. Screenshots of
// the three looks go to the build directory.
#include <gtest/gtest.h>

#include "app/skin_test_support.h"
#include "app/skins.h"
#include "ui/kinds/basic_kinds.h"
#include "ui/skin_engine.h"
#include "ui/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

WindowTemplate ledger_kinds_window() {
  TransLabelSettings date;
  date.caption = "2026年12月8日";
  date.h_align = 1;
  GroupBoxSettings group;
  group.caption = "记账";
  TransLabelSettings label;
  label.caption = "金额:";
  EditBoxSettings amount;
  amount.content = "128.5";
  ComboBoxSettings kind;
  kind.type = 2;
  kind.items = {"支出", "收入"};
  kind.current = 0;
  ComboBoxSettings way;
  way.items = {"支付宝", "微信", "银行卡"};
  way.current = 0;
  ButtonSettings add;
  add.caption = "添加记录";
  StatusBarSettings status;
  status.panes = {{90, 0, -1, "本日记录:", ""}, {60, 0, -1, "3", ""}, {-1, 0, -1, "年度记录:", ""}};
  UnitTemplate g = unit(0x16010002, kKindGroupBox, group.encode(), 10, 40, 380, 120);
  g.children = {0x16010003, 0x16010004, 0x16010005, 0x16010006, 0x16010007};
  return window({
      unit(0x16010001, kKindTransLabel, date.encode(), 0, 8, 400, 24),
      g,
      unit(0x16010003, kKindTransLabel, label.encode(), 10, 24, 50, 24, g.id),
      unit(0x16010004, kKindEditBox, amount.encode(), 60, 24, 100, 24, g.id),
      unit(0x16010005, kKindComboBox, kind.encode(), 180, 24, 90, 24, g.id),
      unit(0x16010006, kKindComboBox, way.encode(), 180, 64, 90, 24, g.id),
      unit(0x16010007, kKindButton, add.encode(), 280, 24, 90, 64, g.id),
      unit(0x16010009, kKindStatusBar, status.encode(), 0, 0, 0, 0),
  });
}

TEST(SkinOnRuntimeWindow, Skin27AttachesAndDetachRestoresTheLook) {
  start({ledger_kinds_window()});
  StartUp();
  ASSERT_NE(skin_engine().BaseAddress(), 0u);
  ASSERT_TRUE(load_window(kWin));
  QWidget* top = window_widget(kWin);
  testing::expect_skin_round_trip(top, QString::fromUtf8(SCREENSHOT_DIR), "window");
  close_window(kWin);
}

}  // namespace
}  // namespace pennacle
