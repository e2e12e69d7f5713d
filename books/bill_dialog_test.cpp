#include "books/bill_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

#include "books/books_test_support.h"
#include "runtime/convert.h"
#include "ui/text_codec.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class BillDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ensure_application(); }
  void SetUp() override {
    const std::string ledger = dir_.file("data.kdb");
    make_test_ledger(ledger, {
                                 {true, 12.5, "微信", 45000.25 + 1.0 / 86400 * 7, "午饭", ""},
                                 {false, 30, "现金", 45001.5, "", ""},
                             });
    Result<std::shared_ptr<const Book>> book = load_book(ledger, nullptr);
    ASSERT_TRUE(book.ok()) << book.status().message();
    book_ = *book;
    dialog_ = std::make_unique<BillDialog>(*book_, 0);
    dialog_->show();
  }
  // Presses Enter in the amount box; true when the dialog took the bill.
  bool enter() {
    QTest::keyClick(dialog_->amount_box(), Qt::Key_Return);
    return dialog_->result() == QDialog::Accepted;
  }
  QString refusal() const { return dialog_->refusal() ? dialog_->refusal()->text() : QString(); }

  TempDir dir_;
  std::shared_ptr<const Book> book_;
  std::unique_ptr<BillDialog> dialog_;
};

TEST_F(BillDialogTest, RefusesWhatTheEntryRefusesWithItsWordsAndStaysOpen) {
  for (const char* amount : {"0", "0.0000001", "-5", ".", ""}) {
    dialog_->amount_box()->setText(amount);
    EXPECT_FALSE(enter()) << amount;
    EXPECT_EQ(refusal(), "数据不能为空!") << amount;
    EXPECT_TRUE(dialog_->isVisible());
  }
  dialog_->amount_box()->setText("3");
  dialog_->channel_box()->setCurrentText("");
  EXPECT_FALSE(enter());
  EXPECT_EQ(refusal(), "数据不能为空!");
  dialog_->channel_box()->setCurrentText("微信");
  dialog_->type_box()->setCurrentText("");
  EXPECT_FALSE(enter());
  EXPECT_EQ(refusal(), "数据不能为空!");
  // The entry's amount box takes digits, the minus sign and the point only.
  dialog_->amount_box()->clear();
  QTest::keyClicks(dialog_->amount_box(), "1a2,5");
  EXPECT_EQ(dialog_->amount_box()->text(), "125");
}

TEST_F(BillDialogTest, TextGbkCannotHoldAndBadCategoriesAreRefusedClearly) {
  dialog_->remark_box()->setText("午饭 😀");
  EXPECT_FALSE(enter());
  EXPECT_TRUE(refusal().contains("备注")) << refusal().toStdString();
  EXPECT_TRUE(refusal().contains("GBK"));
  dialog_->remark_box()->setText("午饭");
  dialog_->category_box()->setCurrentText("餐饮::午餐");
  EXPECT_FALSE(enter());
  EXPECT_TRUE(refusal().startsWith("分类“餐饮::午餐”不能用")) << refusal().toStdString();
  dialog_->category_box()->setCurrentText("餐饮:午餐");
  EXPECT_TRUE(enter());
  ASSERT_TRUE(dialog_->category());
  EXPECT_EQ(*dialog_->category(), (CategoryState{true, gbk("餐饮:午餐"), true}));
  EXPECT_TRUE(dialog_->change().empty());
}

TEST_F(BillDialogTest, ARemarkOverTheLimitIsCutShownAndTakenOnTheNextOk) {
  const size_t limit = book_->table.remark_limit;
  dialog_->remark_box()->setText(QString(static_cast<int>(limit) / 2 + 3, QChar(u'饭')));
  EXPECT_FALSE(enter());
  EXPECT_TRUE(refusal().contains(QString::number(limit))) << refusal().toStdString();
  const QString cut = dialog_->remark_box()->text();
  EXPECT_EQ(to_gbk(cut)->size(), limit / 2 * 2);
  EXPECT_TRUE(enter());
  EXPECT_EQ(dialog_->change().remark, to_gbk(cut));
}

TEST_F(BillDialogTest, OnlyWhatChangedIsTakenAndAnUntouchedTimeKeepsItsValue) {
  dialog_->amount_box()->setText("1-2");  // to_number reads 1, as the entry does
  dialog_->type_box()->setCurrentText("收入");
  dialog_->channel_box()->setCurrentText("现金");  // a channel the book holds is offered
  EXPECT_GE(dialog_->channel_box()->findText("现金"), 6);
  EXPECT_TRUE(enter());
  const BillChange& c = dialog_->change();
  EXPECT_EQ(c.amount, 1.0);
  EXPECT_EQ(c.type, gbk("收入"));
  EXPECT_EQ(c.channel, gbk("现金"));
  EXPECT_FALSE(c.time);
  EXPECT_FALSE(c.remark);
  EXPECT_FALSE(dialog_->category());

  BillDialog again(*book_, 0);
  again.time_box()->setDateTime(again.time_box()->dateTime().addSecs(60));
  again.accept();
  ASSERT_TRUE(again.change().time);
  EXPECT_EQ(date_time_parts(*again.change().time).second, date_time_parts(book_->rows[0].time).second);
  EXPECT_EQ(date_time_parts(*again.change().time).minute,
            (date_time_parts(book_->rows[0].time).minute + 1) % 60);
}

TEST_F(BillDialogTest, EveryFieldIsNamedAndEscapeCancels) {
  for (QWidget* w :
       std::initializer_list<QWidget*>{dialog_->type_box(), dialog_->amount_box(), dialog_->channel_box(),
                                       dialog_->time_box(), dialog_->remark_box(), dialog_->category_box()})
    EXPECT_FALSE(w->accessibleName().isEmpty());
  EXPECT_EQ(dialog_->category_box()->currentText(), "未分类");
  dialog_->grab().save(QString(SCREENSHOT_DIR) + "/bill_dialog.png");
  QTest::keyClick(dialog_->remark_box(), Qt::Key_Escape);
  EXPECT_EQ(dialog_->result(), QDialog::Rejected);
  EXPECT_FALSE(dialog_->isVisible());
}

}  // namespace
}  // namespace pennacle
