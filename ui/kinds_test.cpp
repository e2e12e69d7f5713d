#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <future>
#include <thread>

#include "ui/kinds/basic_kinds.h"
#include "ui/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr int32_t kStatus = 0x16010004;
constexpr int32_t kLabel = 0x16010005;
constexpr int32_t kButton = 0x16010006;

class Kinds : public EditWindowTest {};

EditBoxSettings mode(int32_t m) {
  EditBoxSettings s;
  s.input_mode = m;
  return s;
}

TEST_F(Kinds, DecimalBoxTakesCharactersNotForms) {
  QWidget* edit = load_edit(mode(kInputDecimalText));
  type(edit, u"1-2.3.4");
  EXPECT_EQ(content(), "1-2.3.4");
  type(edit, u"abc e+");
  EXPECT_EQ(content(), "1-2.3.4");
  QTest::keyClick(edit, Qt::Key_Backspace);  // control keys pass
  EXPECT_EQ(content(), "1-2.3.");
  QTest::keyClick(edit, Qt::Key_Home);
  type(edit, u"9");
  EXPECT_EQ(content(), "91-2.3.");
  leave();  // decimal text is not rewritten
  EXPECT_EQ(content(), "91-2.3.");
}

TEST_F(Kinds, IntegerModesRefuseTheDecimalPointAndByteRefusesTheSign) {
  QWidget* edit = load_edit(mode(kInputInt));
  type(edit, u"-1.5中");
  EXPECT_EQ(content(), "-15");
  close_window(kWin);
  edit = load_edit(mode(kInputByte));
  type(edit, u"-3x00");
  EXPECT_EQ(content(), "300");
  leave();
  EXPECT_EQ(content(), "255");
}

TEST_F(Kinds, FocusLossRewritesTheCanonicalForms) {
  struct Case {
    int32_t mode;
    const char* typed;
    const char* after;
  } cases[] = {
      {kInputShort, "-99999", "-32768"}, {kInputInt, "0", ""},           {kInputInt, "0012", "12"},
      {kInputInt64, "12-34", "12"},      {kInputDouble, "1-2.3.4", "1"}, {kInputDouble, "2.50", "2.5"},
      {kInputFloat, "0.1", "0.1"},
  };
  for (const Case& c : cases) {
    QWidget* edit = load_edit(mode(c.mode));
    QTest::keyClicks(edit, c.typed);
    leave();
    EXPECT_EQ(content(), c.after) << c.mode << " " << c.typed;
    close_window(kWin);
  }
  // A date-time box reads what it is given and rewrites it; text that is no date goes.
  EditBoxSettings s = mode(kInputDateTime);
  load_edit(s);
  Text t("2020-8-11 14:30");
  set_property(kWin, kEdit, 8, -1, t.value());
  unit_widget(kWin, kEdit)->setFocus();
  leave();
  EXPECT_EQ(content(), "2020年8月11日14时30分");
  Text junk("明天");
  set_property(kWin, kEdit, 8, -1, junk.value());
  unit_widget(kWin, kEdit)->setFocus();
  leave();
  EXPECT_EQ(content(), "");
}

TEST_F(Kinds, LetterCaseLengthLimitInBytesAndPassword) {
  EditBoxSettings s;
  s.letter_case = 2;
  s.max_length = 5;
  QWidget* edit = load_edit(s);
  type(edit, u"ab中文字");
  EXPECT_EQ(content(), "AB中");  // "文" would make 6 bytes
  close_window(kWin);
  s = EditBoxSettings();
  s.input_mode = kInputPassword;
  s.password_char = '#';
  edit = load_edit(s);
  type(edit, u"secret");
  EXPECT_EQ(static_cast<QLineEdit*>(edit)->echoMode(), QLineEdit::Password);
  EXPECT_EQ(content(), "secret");
  EXPECT_EQ(text_of(get_property(kWin, kEdit, 19)), "#");
  close_window(kWin);
  edit = load_edit(mode(kInputReadOnly));
  type(edit, u"x");
  EXPECT_EQ(content(), "");
}

TEST_F(Kinds, MultiLineBoxKeepsLineBreaksAsCarriageReturnLineFeed) {
  EditBoxSettings s;
  s.multi_line = true;
  s.scroll_bars = 2;
  QWidget* edit = load_edit(s);
  auto* text = static_cast<QPlainTextEdit*>(edit);
  EXPECT_EQ(text->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  type(edit, u"a");
  QTest::keyClick(edit, Qt::Key_Return);
  type(edit, u"b");
  EXPECT_EQ(content(), "a\r\nb");
  Text t("x\r\ny");
  set_property(kWin, kEdit, 8, -1, t.value());
  EXPECT_EQ(text->toPlainText(), QStringLiteral("x\ny"));
  EXPECT_EQ(content(), "x\r\ny");
}

TEST_F(Kinds, SpinArrowsStepWithinTheRange) {
  EditBoxSettings s;
  s.spin_type = 1;
  s.spin_min = 0;
  s.spin_max = 2;
  s.content = "1";
  QWidget* edit = load_edit(s);
  auto buttons = edit->findChildren<QToolButton*>();
  ASSERT_EQ(buttons.size(), 2);
  QToolButton* up = buttons[0]->arrowType() == Qt::UpArrow ? buttons[0] : buttons[1];
  QToolButton* down = up == buttons[0] ? buttons[1] : buttons[0];
  up->click();
  up->click();
  EXPECT_EQ(content(), "2");
  set_property(kWin, kEdit, 23, -1, Value::of_int(10));  // the maximum
  up->click();
  EXPECT_EQ(content(), "3");
  for (int i = 0; i < 5; ++i) down->click();
  EXPECT_EQ(content(), "0");
}

TEST_F(Kinds, EditSelection) {
  EditBoxSettings s;
  s.content = "hello";
  s.sel_start = 1;
  s.sel_length = 3;
  load_edit(s);
  EXPECT_EQ(get_property(kWin, kEdit, 24).int_payload(), 1);
  EXPECT_EQ(get_property(kWin, kEdit, 25).int_payload(), 3);
  EXPECT_EQ(text_of(get_property(kWin, kEdit, 26)), "ell");
  set_property(kWin, kEdit, 25, -1, Value::of_int(99));  // clamped to the text
  EXPECT_EQ(text_of(get_property(kWin, kEdit, 26)), "ello");
}

TEST_F(Kinds, ComboSelectionIsClampedAndTextReadLive) {
  ComboBoxSettings list;
  list.type = 2;
  list.items = {"支出", "收入"};
  list.values = {7, 8};
  list.current = 9;  // clamped at creation
  ComboBoxSettings empty;
  start({window(
      {unit(kCombo, kKindComboBox, list.encode()), unit(kOther, kKindComboBox, empty.encode(), 0, 40)})});
  ASSERT_TRUE(load_window(kWin));
  auto* combo = static_cast<QComboBox*>(unit_widget(kWin, kCombo));
  EXPECT_FALSE(combo->isEditable());
  EXPECT_EQ(get_property(kWin, kCombo, 19).int_payload(), 1);
  EXPECT_EQ(text_of(get_property(kWin, kCombo, 9)), "收入");
  set_property(kWin, kCombo, 19, -1, Value::of_int(-7));
  EXPECT_EQ(get_property(kWin, kCombo, 19).int_payload(), -1);
  EXPECT_EQ(text_of(get_property(kWin, kCombo, 9)), "");
  set_property(kWin, kCombo, 19, -1, Value::of_int(0));
  EXPECT_EQ(text_of(get_property(kWin, kCombo, 9)), "支出");
  ByteSet values = ByteSet::from_result(*std::make_unique<Value>(get_property(kWin, kCombo, 21)));
  EXPECT_EQ(decode_item_values(values.view()), (std::vector<int32_t>{7, 8}));
  // On an empty list 0 selects nothing.
  set_property(kWin, kOther, 19, -1, Value::of_int(0));
  EXPECT_EQ(get_property(kWin, kOther, 19).int_payload(), -1);
  // An editable box reads what was typed, whatever the list holds.
  auto* editable = static_cast<QComboBox*>(unit_widget(kWin, kOther));
  ASSERT_TRUE(editable->isEditable());
  type(editable->lineEdit(), u"QQ钱包");
  EXPECT_EQ(text_of(get_property(kWin, kOther, 9)), "QQ钱包");
}

TEST_F(Kinds, SimpleComboKeepsItsListOpen) {
  ComboBoxSettings simple;
  simple.type = 0;
  simple.items = {"支付宝", "微信"};
  start({window({unit(kCombo, kKindComboBox, simple.encode(), 10, 10, 120, 100)})});
  ASSERT_TRUE(load_window(kWin));
  QWidget* w = unit_widget(kWin, kCombo);
  auto* list = w->findChild<QListView*>();
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->isVisible());
  EXPECT_EQ(w->geometry(), QRect(10, 10, 120, 100));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualRect(list->model()->index(1, 0)).center());
  EXPECT_EQ(text_of(get_property(kWin, kCombo, 9)), "微信");
  EXPECT_EQ(get_property(kWin, kCombo, 19).int_payload(), 1);
  type(w->findChild<QComboBox*>()->lineEdit(), u"x");
  EXPECT_EQ(text_of(get_property(kWin, kCombo, 9)), "微信x");
}

TEST_F(Kinds, FocusEventsOfControls) {
  UnitTemplate a = unit(kEdit, kKindEditBox, "", 10, 10);
  a.bindings = {{-7, 0}, {-8, 1}};
  start({window({a, unit(kOther, kKindEditBox, "", 10, 50)})});
  ASSERT_TRUE(load_window(kWin));
  window_widget(kWin)->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_widget(kWin)));
  unit_widget(kWin, kOther)->setFocus();
  reset_calls();
  unit_widget(kWin, kEdit)->setFocus();
  EXPECT_EQ(count_calls(0), 1);
  unit_widget(kWin, kOther)->setFocus();
  EXPECT_EQ(count_calls(1), 1);
  ASSERT_FALSE(calls().empty());
  EXPECT_EQ(calls().back().source.unit_id, kEdit);
}

TEST_F(Kinds, StatusBarPanesDockAndTexts) {
  StatusBarSettings s;
  s.panes = {{90, 0, -1, "本日记录:", ""}, {80, 0, -1, "x", ""}, {-1, 0, -1, "", ""}};
  start({window({unit(kStatus, kKindStatusBar, s.encode(), 0, 498, 582, 20)})});
  ASSERT_TRUE(load_window(kWin));
  QWidget* bar = unit_widget(kWin, kStatus);
  QWidget* client = bar->parentWidget();
  EXPECT_EQ(bar->geometry().bottom(), client->height() - 1);
  EXPECT_EQ(bar->width(), client->width());
  status_set_pane_text(kWin, kStatus, 1, "12");
  EXPECT_EQ(status_pane_text(kWin, kStatus, 1), "12");
  status_set_pane_text(kWin, kStatus, 3, "ignored");
  status_set_pane_text(kWin, kStatus, -1, "ignored");
  EXPECT_EQ(status_pane_text(kWin, kStatus, 0), "本日记录:");
  // The command with the text left out clears the pane.
  Value args[2] = {unit_reference(kWin, kStatus), Value::of_int(1)};
  Value result;
  status_set_pane_text_command(2, args, &result);
  EXPECT_EQ(status_pane_text(kWin, kStatus, 1), "");
  EXPECT_EQ(fatal_message([] { status_set_pane_text(kWin, kEdit, 0, "x"); }),
            "指定窗口或窗口组件不存在或尚未载入");
}

TEST_F(Kinds, StatusBarCommandsNeverWaitForTheUserInterfaceThread) {
  StatusBarSettings s;
  s.panes = {{90, 0, -1, "", ""}, {-1, 0, -1, "", ""}};
  start({window({unit(kStatus, kKindStatusBar, s.encode())})});
  ASSERT_TRUE(load_window(kWin));
  // The user-interface thread waits for the worker: a command that waited for it would hang.
  std::thread worker([] {
    for (int i = 0; i < 2000; ++i) status_set_pane_text(kWin, kStatus, i % 2, std::to_string(i));
  });
  worker.join();
  EXPECT_EQ(status_pane_text(kWin, kStatus, 0), "1998");
  EXPECT_EQ(status_pane_text(kWin, kStatus, 1), "1999");
  QApplication::processEvents();
}

TEST_F(Kinds, TransLabelWithoutCaptionShowsWhatLiesBeneath) {
  WindowSettings ws;
  ws.position = 0;
  ws.background = 0x0000FF;  // red
  TransLabelSettings ls;
  ls.effect = 2;
  WindowTemplate w = window({unit(kLabel, kKindTransLabel, ls.encode(), 20, 20, 120, 30)});
  w.units[0].settings = ws.encode();
  start({w});
  ASSERT_TRUE(load_window(kWin));
  auto non_red = [] {
    QImage img = window_widget(kWin)->grab(QRect(20, 20, 120, 30)).toImage();
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) n += img.pixelColor(x, y) != QColor(255, 0, 0);
    return n;
  };
  EXPECT_EQ(non_red(), 0);
  Text caption("标签文字");
  set_property(kWin, kLabel, 8, -1, caption.value());
  EXPECT_GT(non_red(), 0);
  EXPECT_EQ(text_of(get_property(kWin, kLabel, 8)), "标签文字");
  set_property(kWin, kLabel, 9, -1, Value::of_int(7));  // effects are clamped to 0..3
  EXPECT_EQ(get_property(kWin, kLabel, 9).int_payload(), 3);
  Text none;
  set_property(kWin, kLabel, 8, -1, none.value());
  EXPECT_EQ(non_red(), 0);
}

TEST_F(Kinds, ButtonSettings) {
  ButtonSettings bs;
  bs.type = 1;
  bs.caption = "添加记录";
  start({window({unit(kButton, kKindButton, bs.encode())})});
  ASSERT_TRUE(load_window(kWin));
  auto* b = static_cast<QPushButton*>(unit_widget(kWin, kButton));
  EXPECT_TRUE(b->isDefault());
  EXPECT_EQ(b->text(), QStringLiteral("添加记录"));
  Text caption("生成信息");
  set_property(kWin, kButton, 10, -1, caption.value());
  EXPECT_EQ(b->text(), QStringLiteral("生成信息"));
  set_property(kWin, kButton, 6, -1, Value::of_logical(true));
  EXPECT_FALSE(b->isEnabled());
  EXPECT_TRUE(get_property(kWin, kButton, 6).int_payload());
}

}  // namespace
}  // namespace pennacle
