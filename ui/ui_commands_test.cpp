// Message boxes, the clipboard and popup menus on real widgets; every box is a real QMessageBox
// closed by the watcher.
#include "ui/ui_commands.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>
#include <QStyle>
#include <atomic>
#include <thread>

#include "runtime/convert.h"
#include "ui/test_support.h"
#include "ui/testing/message_box_watcher.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;
using testing_support::MessageBoxWatcher;
using testing_support::PopupMenuWatcher;

constexpr int32_t kOther = 0x52010002;
constexpr int32_t kFile = 0x26000001, kOpen = 0x26000002, kPopup = 0x26000003, kFirst = 0x26000004,
                  kSeparator = 0x26000005, kGrey = 0x26000006;
constexpr int32_t kOtherMenu = 0x26000011;

class UiCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowTemplate main =
        window({menu_item(kFile, 0, "文件"), menu_item(kOpen, 1, "打开", 0, 1),
                menu_item(kPopup, 0, "弹出", kMenuHidden), menu_item(kFirst, 1, "甲", 0, 2),
                menu_item(kSeparator, 1, "-"), menu_item(kGrey, 1, "乙", kMenuDisabled, 3)});
    WindowTemplate other = window({menu_item(kOtherMenu, 0, "别的", kMenuHidden)}, kOther);
    start({main, other});
    ASSERT_TRUE(load_window(kWin));
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    for (int32_t id : {kWin, kOther})
      if (is_window_loaded(id)) close_window(id);
    QCoreApplication::processEvents();
  }
  static int32_t box(std::initializer_list<Value> args) {
    return call_command(message_box, args).int_payload();
  }
};

TEST_F(UiCommandsTest, MessageTextByKind) {
  EXPECT_EQ(message_text(Value::of_int(-12)), "-12");
  EXPECT_EQ(message_text(Value::of_double(2.5)), value_to_text(Value::of_double(2.5)));
  EXPECT_EQ(message_text(Value::of_logical(true)), "真");
  EXPECT_EQ(message_text(Value::of_logical(false)), "假");
  const double d = make_date_time(2026, 12, 8, 9, 30, 0);
  EXPECT_EQ(message_text(Value::of_date_time(d)), date_time_to_text(d));
  Text t("添加成功");
  EXPECT_EQ(message_text(t.value()), "添加成功");
  ByteSet b("abc");
  EXPECT_EQ(message_text(b.value()), "");
  EXPECT_EQ(message_text(Value{}), "");
}

TEST_F(UiCommandsTest, BoxWithoutTitleShowsTheDefaultAndOkGivesZero) {
  MessageBoxWatcher watcher;
  Text msg("数据库打开失败!");
  const Value r = call_command(message_box, {msg.value(), Value::of_int(0x10)});
  EXPECT_TRUE(r.is(Kind::Int));
  EXPECT_EQ(r.int_payload(), kResultOk);
  ASSERT_EQ(watcher.boxes().size(), 1u);
  const auto& seen = watcher.boxes()[0];
  EXPECT_EQ(seen.text, QStringLiteral("数据库打开失败!"));
  EXPECT_EQ(seen.title, QStringLiteral("信息："));
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(seen.modality, Qt::ApplicationModal);
  EXPECT_EQ(seen.parent, nullptr);
}

TEST_F(UiCommandsTest, TitleIconsAndLineBreaks) {
  MessageBoxWatcher watcher;
  Text title("汇总"), msg("第一行\r\n第二行");
  box({msg.value(), Value::of_int(0x40), title.value()});
  box({Value::of_int(7), Value::of_int(0x20)});
  box({Value::of_int(8), Value::of_int(0x30)});
  box({Value::of_int(9), Value::of_int(0)});
  ASSERT_EQ(watcher.boxes().size(), 4u);
  EXPECT_EQ(watcher.boxes()[0].title, QStringLiteral("汇总"));
  EXPECT_EQ(watcher.boxes()[0].text, QStringLiteral("第一行\n第二行"));
  EXPECT_EQ(watcher.boxes()[0].icon, QMessageBox::Information);
  EXPECT_EQ(watcher.boxes()[1].icon, QMessageBox::Question);
  EXPECT_EQ(watcher.boxes()[2].icon, QMessageBox::Warning);
  EXPECT_EQ(watcher.boxes()[3].icon, QMessageBox::NoIcon);
  EXPECT_EQ(watcher.boxes()[3].text, QStringLiteral("9"));
}

// A window manager draws the title beside the frame's icon and buttons: a box with a short text
// and one button is still wide enough to show its title whole, the default one as well.
TEST_F(UiCommandsTest, BoxesAreWideEnoughForTheirTitles) {
  MessageBoxWatcher watcher;
  Text ok("添加成功"), copied("复制成功"), long_title("本月记录与年度记录汇总");
  box({ok.value(), Value::of_int(0x40)});
  box({Value::of_int(1), Value::of_int(0), copied.value()});
  box({ok.value(), Value::of_int(0x40), long_title.value()});
  ASSERT_EQ(watcher.boxes().size(), 3u);
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  const int bar = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
  for (const auto& seen : watcher.boxes()) {
    SCOPED_TRACE(seen.title.toStdString());
    // At least the title and three buttons, each a title bar wide.
    EXPECT_GE(seen.width, QFontMetrics(font).horizontalAdvance(seen.title) + 3 * bar);
  }
  EXPECT_GT(watcher.boxes()[2].width, watcher.boxes()[0].width) << "a longer title makes a wider box";
}

TEST_F(UiCommandsTest, ButtonsMapToResults) {
  MessageBoxWatcher watcher;
  struct Case {
    int32_t style;
    QMessageBox::StandardButton press;
    int32_t result;
  } cases[] = {{kBoxOkCancel, QMessageBox::Cancel, kResultCancel},
               {kBoxOkCancel, QMessageBox::Ok, kResultOk},
               {kBoxAbortRetryIgnore, QMessageBox::Abort, kResultAbort},
               {kBoxAbortRetryIgnore, QMessageBox::Retry, kResultRetry},
               {kBoxAbortRetryIgnore, QMessageBox::Ignore, kResultIgnore},
               {kBoxYesNoCancel, QMessageBox::Yes, kResultYes},
               {kBoxYesNo, QMessageBox::No, kResultNo},
               {kBoxRetryCancel, QMessageBox::Retry, kResultRetry}};
  for (const Case& c : cases) {
    watcher.answer(c.press);
    EXPECT_EQ(box({Value::of_int(1), Value::of_int(c.style)}), c.result) << c.style;
  }
  // Default-button bits pick the second button; unanswered, the watcher presses the default.
  EXPECT_EQ(box({Value::of_int(1), Value::of_int(kBoxYesNo | 0x100)}), kResultNo);
  EXPECT_EQ(watcher.boxes().back().default_button, QMessageBox::No);
  EXPECT_EQ(box({Value::of_int(1), Value::of_int(kBoxYesNo)}), kResultYes);
}

TEST_F(UiCommandsTest, ParentWindowArgument) {
  MessageBoxWatcher watcher;
  Text t("x");
  box({t.value(), Value::of_int(0), Value{}, unit_reference(kWin, kWinUnit)});
  box({t.value(), Value::of_int(0), Value{}, unit_reference(kOther, kWinUnit)});  // not loaded
  box({t.value(), Value::of_int(0), Value{},
       Value::of_int(static_cast<int32_t>(window_widget(kWin)->winId()))});
  ASSERT_EQ(watcher.boxes().size(), 3u);
  EXPECT_EQ(watcher.boxes()[0].parent, window_widget(kWin));
  EXPECT_EQ(watcher.boxes()[1].parent, nullptr);
  EXPECT_EQ(watcher.boxes()[2].parent, window_widget(kWin));
  // The default title stays when the title is left out but a parent is given.
  EXPECT_EQ(watcher.boxes()[0].title, QStringLiteral("信息："));
}

TEST_F(UiCommandsTest, BoxFromAWorkerBlocksItUntilClosed) {
  MessageBoxWatcher watcher;
  watcher.answer(QMessageBox::No);
  std::atomic<int32_t> result{-1};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    Text t("来自工作线程");
    result = call_command(message_box, {t.value(), Value::of_int(kBoxYesNo)}).int_payload();
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  EXPECT_EQ(result, kResultNo);
  ASSERT_EQ(watcher.boxes().size(), 1u);
  EXPECT_EQ(watcher.boxes()[0].text, QStringLiteral("来自工作线程"));
}

TEST_F(UiCommandsTest, ClipboardTakesPlainTextAndEmptyText) {
  Text t("本日支出: 12.5");
  Value r = call_command(set_clipboard_text, {t.value()});
  EXPECT_TRUE(r.is(Kind::Logical));
  EXPECT_EQ(r.lo, 1u);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("本日支出: 12.5"));
  r = call_command(set_clipboard_text, {Text().value()});
  EXPECT_EQ(r.lo, 1u);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString());
  // From a worker thread as well.
  bool ok = false;
  std::thread worker([&] { ok = set_clipboard_text("工作线程"); });
  while (QGuiApplication::clipboard()->text().isEmpty())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("工作线程"));
}

TEST_F(UiCommandsTest, PopupShowsTheHiddenItemsChildrenAndPostsTheChoice) {
  PopupMenuWatcher menus;
  menus.choose(QStringLiteral("甲"));
  call_command(show_popup_menu, {unit_reference(kWin, kWinUnit), unit_reference(kWin, kPopup)});
  ASSERT_EQ(menus.menus().size(), 1u);
  EXPECT_EQ(menus.menus()[0].entries,
            (QStringList{QStringLiteral("甲"), QStringLiteral("-"), QStringLiteral("乙")}));
  // The choice reaches the window once the menu has closed, as a menu event of 甲.
  EXPECT_EQ(count_calls(2), 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(count_calls(2), 1);
  EXPECT_EQ(calls().back().source.unit_id, kFirst);
  EXPECT_EQ(count_calls(1), 0);
  EXPECT_EQ(count_calls(3), 0);
}

TEST_F(UiCommandsTest, PopupPosition) {
  EXPECT_EQ(popup_position(QPoint(100, 200), Value{}, Value{}), QPoint(103, 203));
  EXPECT_EQ(popup_position(QPoint(100, 200), Value::of_int(10), Value{}), QPoint(10, 203));
  EXPECT_EQ(popup_position(QPoint(100, 200), Value{}, Value::of_int(-4)), QPoint(103, -4));
  PopupMenuWatcher menus;
  call_command(show_popup_menu, {unit_reference(kWin, kWinUnit), unit_reference(kWin, kPopup),
                                 Value::of_int(40), Value::of_int(60)});
  ASSERT_EQ(menus.menus().size(), 1u);
  EXPECT_EQ(menus.menus()[0].position, QPoint(40, 60));
}

TEST_F(UiCommandsTest, PopupOfAnotherWindowsItemOrAWindowNotLoaded) {
  PopupMenuWatcher menus;
  ASSERT_TRUE(load_window(kOther));
  // An item of another window's layout, and a unit that is no menu item: nothing happens.
  call_command(show_popup_menu, {unit_reference(kWin, kWinUnit), unit_reference(kOther, kOtherMenu)});
  call_command(show_popup_menu, {unit_reference(kWin, kWinUnit), unit_reference(kWin, kWinUnit)});
  QCoreApplication::processEvents();
  EXPECT_TRUE(menus.menus().empty());
  close_window(kOther);
  QCoreApplication::processEvents();
  EXPECT_EQ(
      fatal_message([] {
        call_command(show_popup_menu, {unit_reference(kOther, kWinUnit), unit_reference(kOther, kOtherMenu)});
      }),
      "指定窗口或窗口组件不存在或尚未载入");
}

}  // namespace
}  // namespace pennacle
