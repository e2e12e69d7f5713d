// The ledger in its real main window (offscreen), on a real "data.kdb" in a directory of its own:
// real clicks and keys, the boxes closed by a watcher that records them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <QTextEdit>

#include "app/date_format.h"
#include "app/ledger.h"
#include "app/ledger_test_support.h"
#include "app/skins.h"
#include "app/window_view.h"
#include "ledger/bill.h"
#include "platform/gbk.h"
#include "ui/kinds/basic_kinds.h"
#include "ui/kinds/list_view.h"
#include "ui/main_window_template.h"
#include "ui/skin_engine.h"
#include "ui/testing/message_box_watcher.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

using testing::append_bill;
using testing::stored_bills;
using testing::TempDir;
using testing_support::MessageBoxWatcher;
using testing_support::PopupMenuWatcher;

QString q(std::string_view gbk) { return QString::fromStdString(gbk_to_utf8_lossy(gbk)); }

class LedgerWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_EQ(create_database(dir_.path() + "/data.kdb", bill_table_fields()), DbCode::Ok);
    set_ledger_directory_for_test(dir_.path());
  }
  void TearDown() override {
    if (is_window_loaded(kMainWindowId)) close_window(kMainWindowId);
    settle();
    set_ledger_directory_for_test("");
    set_ledger_view(nullptr);
  }
  // Puts bills in the file before the window opens it, numbered as the program numbers them, in
  // one group so that thousands of bills cost one pair of syncs.
  void seed(int count, double time) {
    const Text path(dir_.path() + "/data.kdb");
    ASSERT_TRUE(call_command(db_open, {path.value()}).lo);
    std::vector<Text> texts;
    texts.reserve(3 * static_cast<size_t>(count));
    std::vector<std::vector<Value>> rows;
    for (int i = 1; i <= count; ++i) {
      texts.emplace_back(i % 2 ? "支出" : "收入");
      const Value type = texts.back().value();
      texts.emplace_back("支付宝");
      const Value channel = texts.back().value();
      texts.emplace_back("备注" + std::to_string(i));
      rows.push_back({Value::of_double(i), type, Value::of_double(i), channel, Value::of_date_time(time),
                      texts.back().value()});
    }
    ASSERT_EQ(db_append_rows(rows), DbCode::Ok);
    call_command(db_close, {});
  }
  void open_window() {
    start_ledger_window_runtime();
    create_ledger_state();
    set_ledger_view(&view_);
    ASSERT_TRUE(load_window(kMainWindowId));
    settle();
  }
  // Lets every refresh finish and the view catch up with it.
  static void settle() {
    wait_for_refreshes();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }
  static QWidget* w(int32_t unit) { return unit_widget(kMainWindowId, unit); }
  template <class T>
  static T* inner(int32_t unit) {
    QWidget* c = w(unit);
    if (auto* t = qobject_cast<T*>(c)) return t;
    return c ? c->findChild<T*>() : nullptr;
  }
  static std::string cell(int row, int column) {
    return list_get_cell_text(kMainWindowId, kUnitRecordList, row, column);
  }
  static int rows() { return list_row_count(kMainWindowId, kUnitRecordList); }
  static std::string pane(int i) { return status_pane_text(kMainWindowId, kUnitStatusBar, i); }
  static QTableView* list() { return inner<QTableView>(kUnitRecordList); }
  void click_row(int row, Qt::MouseButton button) {
    QTableView* l = list();
    const QRect r = l->visualRect(l->model()->index(row, 1));
    QTest::mouseClick(l->viewport(), button, {}, r.center());
    QCoreApplication::processEvents();
  }

  TempDir dir_;
  MainWindowView view_;
};

TEST_F(LedgerWindow, StartShowsTheFileAndPresetsTheInputs) {
  seed(3, current_date_time());
  open_window();
  QWidget* win = window_widget(kMainWindowId);
  ASSERT_NE(win, nullptr);
  EXPECT_EQ(win->windowTitle(), q("Pennacle           --连接数据库成功..."));
  EXPECT_FALSE(inner<QWidget>(kUnitDateLabel) == nullptr);
  Value label = get_property(kMainWindowId, kUnitDateLabel, 8);
  EXPECT_EQ(Text::from_result(label).str(), FormatDateTime(std::nullopt, 0, 1).str());
  ASSERT_EQ(rows(), 3);
  EXPECT_EQ(cell(0, 0), "1");
  EXPECT_EQ(cell(2, 0), "3");
  EXPECT_EQ(cell(1, 1), "收入");
  EXPECT_EQ(cell(1, 2), "2");
  EXPECT_EQ(cell(2, 5), "备注3");
  EXPECT_EQ(pane(1), "3");
  EXPECT_EQ(pane(3), "3");
  EXPECT_EQ(pane(5), "3");
  EXPECT_EQ(inner<QComboBox>(kUnitTypeCombo)->currentText(), q("支出"));
  EXPECT_EQ(inner<QComboBox>(kUnitPaymentCombo)->currentText(), q("支付宝"));
}

TEST_F(LedgerWindow, AddDeleteRemarkAndSummaryThroughTheWindow) {
  open_window();
  MessageBoxWatcher boxes;
  EXPECT_EQ(rows(), 0);
  EXPECT_EQ(pane(1), "0");
  // Letters cannot be typed into the amount; digits and the point can.
  QLineEdit* amount = inner<QLineEdit>(kUnitAmountEdit);
  ASSERT_NE(amount, nullptr);
  QTest::keyClicks(amount, "12x.5");
  EXPECT_EQ(amount->text(), "12.5");
  QComboBox* method = inner<QComboBox>(kUnitPaymentCombo);
  method->lineEdit()->setText(q("现金"));
  QTest::mouseClick(w(kUnitAddButton), Qt::LeftButton);
  settle();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, q("添加成功"));
  EXPECT_EQ(boxes.boxes()[0].title, q("信息："));
  EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Information);
  ASSERT_EQ(rows(), 1);
  EXPECT_EQ(cell(0, 2), "12.5");
  EXPECT_EQ(cell(0, 3), "现金");
  EXPECT_EQ(amount->text(), "12.5") << "the inputs keep their contents";
  QTest::mouseClick(w(kUnitAddButton), Qt::LeftButton);
  settle();
  ASSERT_EQ(rows(), 2);
  EXPECT_EQ(pane(1), "2");

  // An amount of 0 is refused with the error box.
  amount->selectAll();
  QTest::keyClicks(amount, "0");
  QTest::mouseClick(w(kUnitAddButton), Qt::LeftButton);
  settle();
  EXPECT_EQ(boxes.boxes().back().text, q("数据不能为空!"));
  EXPECT_EQ(boxes.boxes().back().icon, QMessageBox::Critical);
  EXPECT_EQ(rows(), 2);

  // The summary goes to the clipboard and into the box.
  QTest::mouseClick(w(kUnitSummaryButton), Qt::LeftButton);
  settle();
  const QString summary = QGuiApplication::clipboard()->text();
  EXPECT_TRUE(summary.contains(q("\r\n今日支出:25\r\n"))) << summary.toStdString();
  EXPECT_EQ(boxes.boxes().back().text, QString(summary).replace("\r\n", "\n"));
  EXPECT_EQ(boxes.boxes().back().title, q("复制成功"));

  // Right click on row 1, "删除记录".
  PopupMenuWatcher menus;
  menus.choose(q("删除记录"));
  click_row(0, Qt::LeftButton);
  click_row(0, Qt::RightButton);
  settle();
  ASSERT_EQ(menus.menus().size(), 1u);
  EXPECT_EQ(stored_bills().size(), 1u);
  EXPECT_EQ(rows(), 1);
  EXPECT_EQ(pane(1), "1");
}

TEST_F(LedgerWindow, ViewRemarkShowsItsRowsRemark) {
  seed(2, current_date_time());
  open_window();
  MessageBoxWatcher boxes;
  PopupMenuWatcher menus;
  menus.choose(q("查看备注"));
  click_row(1, Qt::LeftButton);
  click_row(1, Qt::RightButton);
  settle();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, q("备注2"));
  EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Information);
}

// The user-interface thread waits for the ledger lock while a refresh of a large file holds it;
// the refresh's list and status calls must never wait for that thread, or the two hang.
TEST_F(LedgerWindow, AnAddWhileARefreshRunsDoesNotHang) {
  seed(3000, current_date_time() - 400);
  open_window();
  MessageBoxWatcher boxes;
  ASSERT_TRUE(start_refresh());
  inner<QLineEdit>(kUnitAmountEdit)->setText("7");
  QTest::mouseClick(w(kUnitAddButton), Qt::LeftButton);
  settle();
  ASSERT_FALSE(boxes.boxes().empty());
  EXPECT_EQ(boxes.boxes()[0].text, q("添加成功"));
  EXPECT_EQ(rows(), 3001);
  EXPECT_EQ(cell(3000, 0), "3001");
  EXPECT_EQ(cell(3000, 2), "7");
}

// What the user types or pastes: a payment channel GBK can hold only in part, an amount pasted
// past the typing filter that is no finite number, and Delete in the amount box.
TEST_F(LedgerWindow, TypedAndPastedInputs) {
  open_window();
  MessageBoxWatcher boxes;
  QLineEdit* amount = inner<QLineEdit>(kUnitAmountEdit);
  QComboBox* method = inner<QComboBox>(kUnitPaymentCombo);
  amount->setFocus();
  QTest::keyClicks(amount, "12.5");
  QTest::keyClick(amount, Qt::Key_Home);
  QTest::sendKeyEvent(QTest::Click, amount, Qt::Key_Delete, QString(QChar(0x7F)), Qt::NoModifier);
  EXPECT_EQ(amount->text(), "2.5") << "Delete does nothing in the amount box";
  method->lineEdit()->selectAll();
  method->setFocus();
  for (const QString& ch : {q("现"), q("金"), QString::fromUtf8("\xF0\x9F\x98\x80")})
    QTest::sendKeyEvent(QTest::Click, method->lineEdit(), Qt::Key_unknown, ch, Qt::NoModifier);
  EXPECT_EQ(method->currentText(), q("现金"));
  QTest::mouseClick(w(kUnitAddButton), Qt::LeftButton);
  settle();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, q("添加成功"));
  ASSERT_EQ(stored_bills().size(), 1u);
  EXPECT_EQ(stored_bills()[0].method, "现金");
  EXPECT_EQ(stored_bills()[0].amount, 2.5);

  amount->selectAll();
  QApplication::clipboard()->setText(QStringLiteral("1e999"));
  QTest::keySequence(amount, QKeySequence::Paste);
  EXPECT_EQ(amount->text(), "1e999") << "a paste is not filtered";
  QTest::mouseClick(w(kUnitAddButton), Qt::LeftButton);
  settle();
  EXPECT_EQ(boxes.boxes().back().text, q("数据不能为空!"));
  EXPECT_EQ(stored_bills().size(), 1u);
  EXPECT_EQ(last_period_totals().todayExpense, 2.5);
}

// Tab leaves the remark box and the list alike; the list keeps its selected row, and a later
// "删除记录" deletes that row.
TEST_F(LedgerWindow, TabMovesOnAndTheSelectedRowStays) {
  seed(3, current_date_time());
  open_window();
  auto* remark = inner<QPlainTextEdit>(kUnitRemarkEdit);
  remark->setFocus();
  QTest::keyClicks(remark, "ab");
  QTest::keyClick(remark, Qt::Key_Tab);
  EXPECT_FALSE(remark->hasFocus());
  EXPECT_EQ(view_.input_text(LedgerInput::Remark), "ab");
  click_row(1, Qt::LeftButton);
  ASSERT_EQ(view_.selected_row(), 1);
  for (int i = 0; i < 3; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_FALSE(list()->hasFocus());
  EXPECT_EQ(view_.selected_row(), 1);
  DeleteRecord_Click(0, nullptr, nullptr);
  settle();
  const auto bills = stored_bills();
  ASSERT_EQ(bills.size(), 2u);
  EXPECT_EQ(bills[0].remark, "备注1");
  EXPECT_EQ(bills[1].remark, "备注3");
}

// Under skin 27 the list and the remark box show their selection only while they have the focus
// (the list does not ask to always show it; the remark box asks to hide it).
TEST_F(LedgerWindow, SelectionsShowOnlyWithTheFocusUnderTheSkin) {
  seed(3, current_date_time());
  StartUp();
  open_window();
  ASSERT_TRUE(skin_attached());
  QWidget* elsewhere = inner<QLineEdit>(kUnitAmountEdit);
  QTableView* l = list();
  const QRect row(0, l->rowViewportPosition(1), l->viewport()->width(), l->rowHeight(1));
  auto row_look = [&] {
    settle();
    return l->viewport()->grab(row).toImage();
  };
  elsewhere->setFocus();
  const QImage plain_row = row_look();
  click_row(1, Qt::LeftButton);
  EXPECT_NE(row_look(), plain_row) << "no selection shown with the focus";
  elsewhere->setFocus();
  EXPECT_EQ(row_look(), plain_row);
  EXPECT_EQ(view_.selected_row(), 1);

  auto* remark = inner<QPlainTextEdit>(kUnitRemarkEdit);
  auto remark_look = [&] {
    settle();
    return remark->viewport()->grab().toImage();
  };
  remark->setFocus();
  QTest::keyClicks(remark, "abcdef");
  elsewhere->setFocus();
  const QImage plain_remark = remark_look();
  remark->setFocus();
  remark->selectAll();
  EXPECT_NE(remark_look(), plain_remark);
  elsewhere->setFocus();
  EXPECT_EQ(remark_look(), plain_remark);
  Value selected_text = get_property(kMainWindowId, kUnitRemarkEdit, 26);
  EXPECT_EQ(Text::from_result(selected_text).str(), "abcdef") << "the box keeps its selection";
}

TEST_F(LedgerWindow, ClosingTheWindowClosesTheStore) {
  open_window();
  // With the focus in an edit box, as after typing a remark.
  QTest::mouseClick(inner<QPlainTextEdit>(kUnitRemarkEdit)->viewport(), Qt::LeftButton);
  QTest::keyClicks(inner<QPlainTextEdit>(kUnitRemarkEdit), "abc");
  close_window(kMainWindowId);
  settle();
  EXPECT_FALSE(is_window_loaded(kMainWindowId));
  // The file is no longer open here: another open of it as the only user succeeds.
  const Text path(dir_.path() + "/data.kdb");
  EXPECT_TRUE(call_command(db_open, {path.value(), Value{}, Value{}, Value::of_int(4)}).lo);
  call_command(db_close, {});
}

}  // namespace
}  // namespace pennacle
