// One control of each basic kind in a window, rendered offscreen to a PNG under the build
// directory (screenshots/basic_kinds.png) for a person to look at.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include "ui/kinds/basic_kinds.h"
#include "ui/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

int dark_pixels(const QImage& img, const QRect& r) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += qGray(img.pixel(x, y)) < 100;
  return n;
}

TEST(Screenshot, EveryBasicKind) {
  LogFont big;
  big.height = -24;
  big.charset = 134;
  TransLabelSettings title;
  title.caption = "2026年12月8日";
  title.h_align = 1;
  title.font = big.encode();
  GroupBoxSettings group;
  group.caption = "操作";
  TransLabelSettings label;
  label.caption = "金额:";
  EditBoxSettings amount;
  amount.content = "12.5";
  amount.alignment = 1;
  amount.input_mode = kInputDecimalText;
  EditBoxSettings remark;
  remark.multi_line = true;
  remark.scroll_bars = 2;
  remark.content = "多行\r\n备注";
  ComboBoxSettings kind;
  kind.type = 2;
  kind.items = {"支出", "收入"};
  kind.current = 0;
  ComboBoxSettings way;
  way.items = {"支付宝", "微信"};
  way.content = "微信";
  ButtonSettings add;
  add.caption = "添加记录";
  StatusBarSettings status;
  status.panes = {{90, 0, -1, "本日记录:", ""}, {80, 0, -1, "3", ""}, {-1, 0, -1, "年度记录:", ""}};

  UnitTemplate g = unit(0x16010002, kKindGroupBox, group.encode(), 0, 60, 400, 170);
  g.children = {0x16010003, 0x16010004, 0x16010005, 0x16010006, 0x16010007, 0x16010008};
  WindowTemplate w = window({
      unit(0x16010001, kKindTransLabel, title.encode(), 0, 0, 400, 50),
      g,
      unit(0x16010003, kKindTransLabel, label.encode(), 10, 20, 50, 24, g.id),
      unit(0x16010004, kKindEditBox, amount.encode(), 60, 20, 100, 24, g.id),
      unit(0x16010005, kKindComboBox, kind.encode(), 180, 20, 90, 24, g.id),
      unit(0x16010006, kKindComboBox, way.encode(), 180, 56, 90, 24, g.id),
      unit(0x16010007, kKindEditBox, remark.encode(), 60, 90, 200, 70, g.id),
      unit(0x16010008, kKindButton, add.encode(), 280, 20, 100, 50, g.id),
      unit(0x16010009, kKindStatusBar, status.encode(), 0, 0, 0, 0),
  });
  start({w});
  ASSERT_TRUE(load_window(kWin));
  QWidget* top = window_widget(kWin);
  QImage img = top->grab().toImage();
  ASSERT_FALSE(img.isNull());
  QDir dir(QCoreApplication::applicationDirPath() + "/../screenshots");
  ASSERT_TRUE(dir.mkpath("."));
  const QString path = dir.filePath("basic_kinds.png");
  ASSERT_TRUE(img.save(path));
  EXPECT_TRUE(QImage(path).size() == top->size());
  // Text where the title, the button and the status panes are; none in the empty space between.
  QWidget* bar = unit_widget(kWin, 0x16010009);
  EXPECT_GT(dark_pixels(img, QRect(100, 10, 200, 30)), 20);
  EXPECT_GT(dark_pixels(img, QRect(bar->mapTo(top, QPoint(0, 0)), bar->size()).adjusted(4, 4, -4, -4)), 20);
  EXPECT_EQ(dark_pixels(img, QRect(10, 235, 380, 10)), 0);
  close_window(kWin);
}

}  // namespace
}  // namespace pennacle
