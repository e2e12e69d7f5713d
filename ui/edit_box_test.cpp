// Edit boxes and editable combo boxes under the keyboard: keys that type no character, text that
// GBK cannot hold (typed, pasted, committed by an input method), Tab in a multi-line box, and the
// selection while the box lacks the focus.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "ui/kinds/basic_kinds.h"
#include "ui/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

// The edit box under test, an editable combo box, and the box that takes the focus away.
class EditBoxes : public EditWindowTest {
 protected:
  QWidget* load_edit(const EditBoxSettings& s) {
    return EditWindowTest::load_edit(
        s, {unit(kCombo, kKindComboBox, ComboBoxSettings().encode(), 10, 100, 200, 24)});
  }
  void set_content(std::string_view gbk) {
    const Text t(gbk);
    set_property(kWin, kEdit, 8, -1, t.value());
  }
  static void paste(QWidget* w, const QString& text) {
    QApplication::clipboard()->setText(text);
    QTest::keySequence(w, QKeySequence::Paste);
  }
};

EditBoxSettings box(int32_t mode, bool multi_line = false) {
  EditBoxSettings s;
  s.input_mode = mode;
  s.multi_line = multi_line;
  return s;
}

// A key as X11 gives it: Delete types the character 0x7F, Backspace 0x08, Escape 0x1B.
void press(QWidget* w, Qt::Key key, QString text = {}) {
  QTest::sendKeyEvent(QTest::Click, w, key, text, Qt::NoModifier);
}

TEST_F(EditBoxes, KeysThatTypeNoCharacterWorkInEveryInputMode) {
  for (bool multi : {false, true}) {
    for (int32_t mode = kInputNormal; mode <= kInputDateTime; ++mode) {
      if (mode == kInputReadOnly) continue;
      SCOPED_TRACE(std::to_string(mode) + (multi ? " multi-line" : " one line"));
      QWidget* edit = load_edit(box(mode, multi));
      set_content("12345");
      press(edit, Qt::Key_Home);
      press(edit, Qt::Key_Delete, QString(QChar(0x7F)));
      EXPECT_EQ(content(), "2345");
      press(edit, Qt::Key_End);
      press(edit, Qt::Key_Backspace, QString(QChar(0x08)));
      EXPECT_EQ(content(), "234");
      press(edit, Qt::Key_Left);
      press(edit, Qt::Key_Escape, QString(QChar(0x1B)));
      press(edit, Qt::Key_Delete, QString(QChar(0x7F)));
      EXPECT_EQ(content(), "23");
    }
  }
  // A read-only box changes nothing, but the caret still moves.
  auto* line = static_cast<QLineEdit*>(load_edit(box(kInputReadOnly)));
  set_content("12345");
  press(line, Qt::Key_End);
  press(line, Qt::Key_Left);
  press(line, Qt::Key_Delete, QString(QChar(0x7F)));
  EXPECT_EQ(content(), "12345");
  EXPECT_EQ(line->cursorPosition(), 4);
}

TEST_F(EditBoxes, TypedPastedAndCommittedTextKeepsWhatGbkCanHold) {
  QWidget* edit = load_edit(box(kInputNormal));
  type(edit, u"a😀b");
  EXPECT_EQ(content(), "ab") << "a typed character GBK cannot hold is refused";
  paste(edit, QStringLiteral("备😀注"));
  EXPECT_EQ(content(), "ab备注");
  QInputMethodEvent commit;
  commit.setCommitString(QStringLiteral("现😀金"));
  QApplication::sendEvent(edit, &commit);
  EXPECT_EQ(content(), "ab备注现金");
  EXPECT_EQ(static_cast<QLineEdit*>(edit)->text(), QStringLiteral("ab备注现金")) << "shown as read";

  // A paste is not filtered by the input mode, only for GBK.
  edit = load_edit(box(kInputDecimalText));
  paste(edit, QStringLiteral("1e999😀"));
  EXPECT_EQ(content(), "1e999");

  // The multi-line box keeps the rest of a paste instead of undoing all of it.
  edit = load_edit(box(kInputNormal, true));
  paste(edit, QStringLiteral("第一行\n😀第二行"));
  EXPECT_EQ(content(), "第一行\r\n第二行");
  type(edit, u"😀!");
  EXPECT_EQ(content(), "第一行\r\n第二行!");

  // A paste that would pass the byte limit is still undone whole.
  EditBoxSettings limited = box(kInputNormal);
  limited.max_length = 4;
  edit = load_edit(limited);
  type(edit, u"ab");
  paste(edit, QStringLiteral("备注"));
  EXPECT_EQ(content(), "ab");
}

TEST_F(EditBoxes, TheComboReadsTheTextItShows) {
  load_edit(box(kInputNormal));
  auto* combo = static_cast<QComboBox*>(unit_widget(kWin, kCombo));
  ASSERT_TRUE(combo->isEditable());
  combo->setFocus();
  type(combo->lineEdit(), u"现金😀");
  EXPECT_EQ(text_of(get_property(kWin, kCombo, 9)), "现金");
  paste(combo->lineEdit(), QStringLiteral("😀QQ"));
  EXPECT_EQ(text_of(get_property(kWin, kCombo, 9)), "现金QQ");
  EXPECT_EQ(combo->currentText(), QStringLiteral("现金QQ"));
}

TEST_F(EditBoxes, TabMovesOnFromAMultiLineBoxAndCtrlTabTypesATab) {
  QWidget* edit = load_edit(box(kInputNormal, true));
  QWidget* other = unit_widget(kWin, kOther);
  type(edit, u"a");
  QTest::keyClick(edit, Qt::Key_Tab);
  EXPECT_TRUE(other->hasFocus());
  EXPECT_EQ(content(), "a");
  QTest::keyClick(other, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_TRUE(edit->hasFocus());
  QTest::keyClick(edit, Qt::Key_Tab, Qt::ShiftModifier);
  EXPECT_FALSE(edit->hasFocus());
  EXPECT_EQ(content(), "a");
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_TRUE(edit->hasFocus());
  EXPECT_EQ(content(), "a\t");
}

// What the widget shows as selected: its start and length.
std::pair<int, int> shown_selection(QWidget* w) {
  if (auto* line = qobject_cast<QLineEdit*>(w))
    return {line->selectionStart(), static_cast<int>(line->selectedText().size())};
  const QTextCursor c = static_cast<QPlainTextEdit*>(w)->textCursor();
  return {c.selectionStart(), c.selectionEnd() - c.selectionStart()};
}

TEST_F(EditBoxes, TheSelectionShowsWhileUnfocusedOnlyWhenAskedTo) {
  for (bool multi : {false, true}) {
    for (bool hide : {true, false}) {
      SCOPED_TRACE(std::string(multi ? "multi-line" : "one line") + (hide ? ", hidden" : ", shown"));
      EditBoxSettings s = box(kInputNormal, multi);
      s.hide_selection = hide;
      s.content = "hello world";
      QWidget* edit = load_edit(s);
      set_property(kWin, kEdit, 24, -1, Value::of_int(6));
      set_property(kWin, kEdit, 25, -1, Value::of_int(5));
      EXPECT_EQ(shown_selection(edit), std::make_pair(6, 5));
      leave();
      EXPECT_EQ(shown_selection(edit).second, hide ? 0 : 5);
      // The box keeps its selection all the same.
      EXPECT_EQ(get_property(kWin, kEdit, 24).int_payload(), 6);
      EXPECT_EQ(get_property(kWin, kEdit, 25).int_payload(), 5);
      EXPECT_EQ(text_of(get_property(kWin, kEdit, 26)), "world");
      edit->setFocus();
      QApplication::processEvents();
      EXPECT_EQ(shown_selection(edit), std::make_pair(6, 5));
    }
  }
  // A selection set while the box lacks the focus shows once it has it.
  EditBoxSettings s = box(kInputNormal);
  s.content = "hello";
  s.sel_start = 1;
  s.sel_length = 3;
  QWidget* edit = load_edit(s);
  leave();
  set_property(kWin, kEdit, 25, -1, Value::of_int(2));
  EXPECT_EQ(shown_selection(edit).second, 0);
  EXPECT_EQ(text_of(get_property(kWin, kEdit, 26)), "el");
  edit->setFocus();
  EXPECT_EQ(shown_selection(edit), std::make_pair(1, 2));
}

}  // namespace
}  // namespace pennacle
