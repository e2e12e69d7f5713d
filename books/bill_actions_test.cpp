#include "books/bill_actions.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QUndoStack>

#include "books/bill_dialog.h"
#include "books/books_test_support.h"
#include "ledger/bin_ledger.h"
#include "platform/file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class BillActionsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ensure_application(); }
  void SetUp() override {
    ledger_ = dir_.file("data.kdb");
    make_test_ledger(ledger_, {{true, 12.5, "微信", 45000.5, "午饭", ""},
                               {false, 3000, "银行卡", 45001.5, "工资", ""},
                               {true, 8, "支付宝", 45002.5, "地铁", ""}});
    session_ = std::make_unique<BookSession>(ledger_);
    actions_ = std::make_unique<BillActions>(*session_, &parent_);
    reload();
  }
  void TearDown() override {
    actions_.reset();
    session_.reset();
  }
  // Waits for every change and the loads after it.
  void settle() {
    ASSERT_TRUE(wait_until([&] { return actions_->pending() == 0 && !session_->loading(); }));
  }
  void reload() {
    session_->reload();
    settle();
  }
  QUndoStack& stack() { return session_->undo(); }
  // Opens the dialog of `serial`, lets `fill` change it, and presses Enter.
  void edit(int32_t serial, const std::function<void(BillDialog&)>& fill) {
    actions_->edit(serial);
    BillDialog* d = actions_->dialog();
    ASSERT_NE(d, nullptr);
    fill(*d);
    QTest::keyClick(d->amount_box(), Qt::Key_Return);
    settle();
  }
  CategoryState category(int32_t serial) {
    const std::string l = ledger_;
    return on_store<CategoryState>(*session_, [l, serial] {
      Result<CategoryState> r = ledger_category(l, serial);
      return r.ok() ? *r : CategoryState{true, "unreadable", false};
    });
  }
  std::vector<BinEntry> bin() {
    const std::string l = ledger_;
    return on_store<std::vector<BinEntry>>(*session_, [l] {
      Result<std::vector<BinEntry>> r = bin_bills_of(l, nullptr);
      EXPECT_TRUE(r.ok()) << r.status().message();
      return r.ok() ? *r : std::vector<BinEntry>{};
    });
  }
  // The serial of the live bill whose remark is `remark` (UTF-8) in the book as last loaded.
  int32_t serial_of(const char* remark) {
    const BookRows& rows = session_->book()->rows;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows.remark(rows[i]) == gbk(remark)) return rows[i].serial;
    }
    return 0;
  }

  TempDir dir_;
  std::string ledger_;
  QWidget parent_;
  std::unique_ptr<BookSession> session_;
  std::unique_ptr<BillActions> actions_;
};

TEST_F(BillActionsTest, AnEditIsOneCommandThatUndoesAndRedoesInTheFile) {
  edit(1, [](BillDialog& d) {
    d.amount_box()->setText("20.5");
    d.remark_box()->setText("晚饭");
  });
  ASSERT_EQ(stack().count(), 1);
  EXPECT_EQ(stack().undoText(), "修改账单");
  EXPECT_EQ(stored_bill(*session_, 1).amount, 20.5);
  EXPECT_EQ(stored_bill(*session_, 1).remark, gbk("晚饭"));
  EXPECT_EQ(session_->book()->rows[*session_->book()->rows.find(1)].amount, 20.5);  // reloaded
  stack().undo();
  settle();
  Bill b = stored_bill(*session_, 1);
  EXPECT_EQ(b.amount, 12.5);
  EXPECT_EQ(b.remark, gbk("午饭"));
  EXPECT_EQ(b.channel, gbk("微信"));
  stack().redo();
  settle();
  b = stored_bill(*session_, 1);
  EXPECT_EQ(b.amount, 20.5);
  EXPECT_EQ(b.remark, gbk("晚饭"));
  // Cancel, or OK with nothing changed, pushes nothing.
  actions_->edit(1);
  QTest::keyClick(actions_->dialog()->amount_box(), Qt::Key_Escape);
  edit(1, [](BillDialog&) {});
  EXPECT_EQ(stack().count(), 1);
}

TEST_F(BillActionsTest, ACategoryChangeUndoesToTheEntryOrToNoEntryAtAll) {
  edit(1, [](BillDialog& d) { d.category_box()->setCurrentText("餐饮:午餐"); });
  EXPECT_EQ(category(1), (CategoryState{true, gbk("餐饮:午餐"), true}));
  stack().undo();
  settle();
  EXPECT_EQ(category(1), CategoryState{});
  stack().redo();
  settle();
  EXPECT_EQ(category(1), (CategoryState{true, gbk("餐饮:午餐"), true}));
  // A category the rules gave comes back as the rules' (not by hand), with a field change beside it.
  const std::string l = ledger_;
  ASSERT_TRUE(on_store<Status>(*session_, [l] {
                return set_ledger_category(l, 2, {true, gbk("工资"), false}).status();
              }).ok());
  reload();
  edit(2, [](BillDialog& d) {
    d.category_box()->setCurrentText("理财");
    d.amount_box()->setText("3100");
  });
  EXPECT_EQ(category(2), (CategoryState{true, gbk("理财"), true}));
  EXPECT_EQ(stored_bill(*session_, 2).amount, 3100);
  stack().undo();
  settle();
  EXPECT_EQ(category(2), (CategoryState{true, gbk("工资"), false}));
  EXPECT_EQ(stored_bill(*session_, 2).amount, 3000);
}

TEST_F(BillActionsTest, ADeleteUndoesUnderANewSerialAndLaterCommandsFollowTheBill) {
  edit(2, [](BillDialog& d) { d.category_box()->setCurrentText("工资"); });
  actions_->remove(2);
  settle();
  EXPECT_EQ(stored_bill(*session_, 2).serial, 0);
  ASSERT_EQ(bin().size(), 1u);
  EXPECT_EQ(session_->book()->rows.size(), 2u);
  stack().undo();  // the delete: back under a new serial, with its category
  settle();
  const int32_t back = serial_of("工资");
  EXPECT_GT(back, 3);
  EXPECT_TRUE(bin().empty());
  EXPECT_EQ(category(back), (CategoryState{true, gbk("工资"), true}));
  stack().undo();  // the category edit, made on serial 2, finds the bill under its new serial
  settle();
  EXPECT_EQ(category(back), CategoryState{});
  stack().redo();
  stack().redo();  // queued behind the first: the delete of the bill as it is now
  settle();
  EXPECT_EQ(stored_bill(*session_, back).serial, 0);
  ASSERT_EQ(bin().size(), 1u);
  EXPECT_EQ(bin().front().category, gbk("工资"));
  EXPECT_EQ(stack().index(), 2);
}

TEST_F(BillActionsTest, ARestoreFromTheBinUndoesIntoTheBinAgain) {
  const std::string l = ledger_;
  ASSERT_TRUE(on_store<Status>(*session_, [l] { return delete_ledger_bill(l, 3, 45100).status(); }).ok());
  reload();
  ASSERT_EQ(bin().size(), 1u);
  actions_->restore_from_bin(3);
  settle();
  const int32_t back = serial_of("地铁");
  EXPECT_GT(back, 3);
  EXPECT_TRUE(bin().empty());
  EXPECT_EQ(stack().undoText(), "还原账单");
  stack().undo();
  settle();
  EXPECT_EQ(serial_of("地铁"), 0);
  ASSERT_EQ(bin().size(), 1u);
  EXPECT_EQ(bin().front().bill.serial, back);
  stack().redo();
  settle();
  EXPECT_GT(serial_of("地铁"), back);
  // A bill the bin does not hold: a message, and nothing pushed.
  QSignalSpy failed(actions_.get(), &BillActions::failed);
  actions_->restore_from_bin(77);
  settle();
  ASSERT_EQ(failed.count(), 1);
  EXPECT_TRUE(failed.front().front().toString().startsWith("还原账单失败："));
  ASSERT_NE(actions_->message(), nullptr);
  EXPECT_EQ(stack().count(), 1);
}

// Another program holds bill 1's record past the store's wait time.
class HeldRecord {
 public:
  HeldRecord(BookSession& session, const std::string& ledger) {
    const std::string l = ledger;
    const int64_t at = on_store<int64_t>(session, [l] {
      DatabaseInfo info;
      int64_t where = -1;
      if (open_record_file(l, true).ok() && db_current_info(&info)) where = info.data_start;
      call_command(db_close, {});
      return where;
    });
    EXPECT_GE(at, 0);
    EXPECT_EQ(posix_file_system().open(ledger, FileAccess::ReadWrite, FileShare::DenyNone, &file_),
              FileCause::None);
    EXPECT_EQ(file_->lock(static_cast<uint64_t>(at), 1), FileCause::None);
  }
  ~HeldRecord() { file_->close(); }

 private:
  std::unique_ptr<File> file_;
};

TEST_F(BillActionsTest, AFailureWhileAnotherProgramHoldsTheBillIsShownAndNotRecordedAsDone) {
  QSignalSpy failed(actions_.get(), &BillActions::failed);
  {
    HeldRecord held(*session_, ledger_);
    edit(1, [](BillDialog& d) { d.amount_box()->setText("99"); });
  }
  ASSERT_EQ(failed.count(), 1);
  EXPECT_TRUE(failed.back().front().toString().startsWith("修改账单失败："))
      << failed.back().front().toString().toStdString();
  EXPECT_EQ(stack().count(), 0);
  EXPECT_EQ(stored_bill(*session_, 1).amount, 12.5);

  edit(1, [](BillDialog& d) { d.amount_box()->setText("99"); });
  ASSERT_EQ(stack().count(), 1);
  {
    HeldRecord held(*session_, ledger_);
    stack().undo();
    settle();
  }
  // The undo failed: the edit is still in the file, and still the thing to undo.
  ASSERT_EQ(failed.count(), 2);
  EXPECT_TRUE(failed.back().front().toString().startsWith("撤销“修改账单”失败"));
  EXPECT_EQ(stored_bill(*session_, 1).amount, 99);
  EXPECT_EQ(stack().index(), 1);
  EXPECT_TRUE(stack().canUndo());
  stack().undo();
  settle();
  EXPECT_EQ(stored_bill(*session_, 1).amount, 12.5);
  {
    HeldRecord held(*session_, ledger_);
    stack().redo();
    settle();
  }
  // The redo failed: the edit is not in the file, and still the thing to redo.
  ASSERT_EQ(failed.count(), 3);
  EXPECT_EQ(stored_bill(*session_, 1).amount, 12.5);
  EXPECT_EQ(stack().index(), 0);
  EXPECT_TRUE(stack().canRedo());
  stack().redo();
  settle();
  EXPECT_EQ(stored_bill(*session_, 1).amount, 99);
}

}  // namespace
}  // namespace pennacle
