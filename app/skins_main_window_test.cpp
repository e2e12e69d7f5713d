// Skin 27 on the program's own main window (the carried template, no record file behind it):
// screenshots without a skin, with skin 27 and after detach, the look after detach equal to the
// look before attach, and the fonts the template gives kept under the skin.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QPushButton>
#include <QStyle>
#include <QTableView>

#include "app/carried_data.h"
#include "app/skin_test_support.h"
#include "app/skins.h"
#include "runtime/convert.h"
#include "ui/kinds/list_view.h"
#include "ui/main_window_template.h"
#include "ui/skin_engine.h"
#include "ui/skin_format.h"
#include "ui/text_codec.h"

namespace pennacle {
namespace {

void fill_rows() {
  // Times as the list shows them, the widest first: two-digit month, day, hour, minute and second.
  const char* rows[][6] = {{"1", "支出", "128.5", "支付宝", "2026年12月19日23时59分59秒", "午饭"},
                           {"2", "收入", "8000", "银行卡", "2026年12月1日9时0分0秒", "工资"},
                           {"3", "支出", "36", "微信", "2026年12月7日19时40分12秒", ""}};
  for (const auto& r : rows) {
    ListInsertArgs a;
    a.text = r[0];
    const int32_t row = list_insert_row(kMainWindowId, kUnitRecordList, a);
    for (int c = 1; c < 6; ++c) list_set_cell_text(kMainWindowId, kUnitRecordList, row, c, r[c]);
  }
}

// The main window with its rows and a date line, as the program shows it.
QWidget* load_main_window() {
  start_main_window_runtime(MainWindowHandlers{});
  StartUp();
  EXPECT_NE(skin_engine().BaseAddress(), 0u);
  if (!load_window(kMainWindowId)) return nullptr;
  fill_rows();
  const Text date("2026年12月08日 12:30:05");
  set_property(kMainWindowId, kUnitDateLabel, 8, -1, date.value());
  return window_widget(kMainWindowId);
}

TEST(SkinOnMainWindow, Skin27AttachesAndDetachRestoresTheLook) {
  QWidget* top = load_main_window();
  ASSERT_NE(top, nullptr);
  testing::expect_skin_round_trip(top, QString::fromUtf8(SCREENSHOT_DIR), "main_window");
  close_window(kMainWindowId);
}

// Rows of `image` that hold ink: pixels away from the colour of its top left corner.
int ink_height(const QImage& image) {
  const QColor ground = image.pixelColor(0, 0);
  int first = -1, last = -1;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      const int away = std::abs(c.red() - ground.red()) + std::abs(c.green() - ground.green()) +
                       std::abs(c.blue() - ground.blue());
      if (away < 96) continue;
      if (first < 0) first = y;
      last = y;
      break;
    }
  return first < 0 ? 0 : last - first + 1;
}

// The ink of a label as its window shows it (a transparent label has no ground of its own), down
// to where `below` begins.
int label_ink(QWidget* label, QWidget* below) {
  QWidget* top = label->window();
  QRect shown = QRect(label->mapTo(top, QPoint(0, 0)), label->size()).intersected(top->rect());
  shown.setBottom(std::min(shown.bottom(), below->mapTo(top, QPoint(0, 0)).y() - 1));
  return ink_height(testing::look(top).copy(shown));
}

// The ink of a list row's first cell.
int row_ink(QTableView* list) {
  const QRect cell = list->visualRect(list->model()->index(0, 1)).adjusted(2, 1, -2, -1);
  return ink_height(testing::look(list->viewport()).copy(cell));
}

// A skin's font is for the controls whose template gives none: the 24-pixel date line and the
// 14-pixel list keep their fonts, the buttons take the skin's.
TEST(SkinOnMainWindow, TheTemplatesFontsHoldUnderTheSkin) {
  QWidget* top = load_main_window();
  ASSERT_NE(top, nullptr);
  QWidget* label = unit_widget(kMainWindowId, kUnitDateLabel);
  auto* list = unit_widget(kMainWindowId, kUnitRecordList)->findChild<QTableView*>();
  if (!list) list = qobject_cast<QTableView*>(unit_widget(kMainWindowId, kUnitRecordList));
  QWidget* button = unit_widget(kMainWindowId, kUnitAddButton);
  ASSERT_TRUE(label && list && button);
  const int date_ink = label_ink(label, list);
  const int list_ink = row_ink(list);
  ASSERT_GT(date_ink, 14) << "no date line drawn";
  ASSERT_GT(list_ink, 6) << "no row text drawn";

  ApplySkin(kProgramSkin);
  ASSERT_TRUE(skin_attached());
  testing::look(top);
  EXPECT_EQ(QFontInfo(label->font()).pixelSize(), 24);
  EXPECT_EQ(label_ink(label, list), date_ink);
  EXPECT_EQ(QFontInfo(list->font()).pixelSize(), 14);
  EXPECT_EQ(row_ink(list), list_ink);
  const ByteSetHeader* block = carried_skin(kProgramSkin);
  const std::string_view bytes = byteset_view(block);
  const auto skin = read_skin({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
  ASSERT_TRUE(skin && skin->font);
  EXPECT_EQ(button->font().family(), QString::fromStdString(skin->font->family));
  EXPECT_EQ(button->font().pointSize(), skin->font->point_size);
  DetachSkin();
  EXPECT_EQ(label_ink(label, list), date_ink);
  close_window(kMainWindowId);
}

// The widest time the list shows (two-digit month, day, hour, minute and second) fits the 190-pixel
// 时间 column whole, without "…", under no skin and under skin 27: the list's font (no face,
// GB2312) resolves to a face whose digits are half an em wide.
TEST(SkinOnMainWindow, TheWidestTimeFitsItsColumn) {
  QWidget* top = load_main_window();
  ASSERT_NE(top, nullptr);
  const std::string time = date_time_to_text(make_date_time(2026, 12, 19, 23, 59, 59));
  ASSERT_EQ(time, "2026年12月19日23时59分59秒");
  ListInsertArgs a;
  a.text = "4";
  const int32_t row = list_insert_row(kMainWindowId, kUnitRecordList, a);
  list_set_cell_text(kMainWindowId, kUnitRecordList, row, 4, time);
  auto* list = unit_widget(kMainWindowId, kUnitRecordList)->findChild<QTableView*>();
  if (!list) list = qobject_cast<QTableView*>(unit_widget(kMainWindowId, kUnitRecordList));
  ASSERT_NE(list, nullptr);
  for (bool skinned : {false, true}) {
    SCOPED_TRACE(skinned ? "skin 27" : "no skin");
    if (skinned) ApplySkin(kProgramSkin);
    ASSERT_EQ(skin_attached(), skinned);
    testing::look(top);
    const QString shown = list->model()->index(row, 4).data().toString();
    ASSERT_EQ(shown, to_qstring(time));
    EXPECT_EQ(list->columnWidth(4), 190);
    // The cell's text is drawn inside a margin on each side (the focus frame's, plus one).
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    const QFontMetrics metrics(list->font());
    EXPECT_LE(metrics.horizontalAdvance(shown), list->columnWidth(4) - 2 * margin)
        << list->font().family().toStdString();
    EXPECT_EQ(metrics.elidedText(shown, Qt::ElideRight, list->columnWidth(4) - 2 * margin), shown);
  }
  DetachSkin();
  close_window(kMainWindowId);
}

}  // namespace
}  // namespace pennacle
