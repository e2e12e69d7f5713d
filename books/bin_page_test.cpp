#include "books/bin_page.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include "books/bill_actions.h"
#include "books/books_test_support.h"
#include "ledger/bin_ledger.h"
#include "runtime/convert.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class BinPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ensure_application(); }
  void SetUp() override {
    ledger_ = dir_.file("data.kdb");
    make_test_ledger(ledger_, {{true, 12.5, "微信", make_date_time(2023, 3, 15, 12, 30, 5), "午饭", ""},
                               {false, 3000, "银行卡", 45001.5, "工资", ""},
                               {true, 8, "支付宝", 45002.5, "地铁", ""}});
    session_ = std::make_unique<BookSession>(ledger_);
    page_ = std::make_unique<BinPage>(*session_);
    actions_ = std::make_unique<BillActions>(*session_, page_.get());
    QObject::connect(page_.get(), &BinPage::restore_asked, actions_.get(), &BillActions::restore_from_bin);
    page_->resize(820, 300);
    page_->show();
  }
  void TearDown() override {
    actions_.reset();
    page_.reset();
    session_.reset();
  }
  // Deletes the bills (on the store's thread) at the given deletion times, then loads.
  void delete_bills(const std::vector<std::pair<int32_t, double>>& bills) {
    const std::string l = ledger_;
    for (const auto& bill : bills) {
      const int32_t serial = bill.first;
      const double at = bill.second;
      ASSERT_TRUE(on_store<Status>(*session_, [l, serial, at] {
                    return delete_ledger_bill(l, serial, at).status();
                  }).ok());
    }
    load();
  }
  void load() {
    QSignalSpy shown(page_.get(), &BinPage::refreshed);
    session_->reload();
    ASSERT_TRUE(
        wait_until([&] { return shown.count() > 0 && actions_->pending() == 0 && !session_->loading(); }));
  }
  QString cell(int row, int column) const { return page_->table()->item(row, column)->text(); }

  TempDir dir_;
  std::string ledger_;
  std::unique_ptr<BookSession> session_;
  std::unique_ptr<BinPage> page_;
  std::unique_ptr<BillActions> actions_;
};

TEST_F(BinPageTest, ListsTheBinNewestDeletionFirstWithEveryColumn) {
  load();
  EXPECT_EQ(page_->table()->rowCount(), 0);
  EXPECT_FALSE(page_->restore_button()->isEnabled());
  delete_bills({{1, make_date_time(2023, 9, 1, 8, 0, 0)}, {3, make_date_time(2023, 9, 28, 12, 0, 0)}});
  ASSERT_EQ(page_->table()->rowCount(), 2);
  EXPECT_EQ(page_->table()->accessibleName(), "回收站");
  EXPECT_EQ(cell(0, 0), "2023-09-28 12:00:00");  // deleted last
  EXPECT_EQ(cell(0, 6), "地铁");
  EXPECT_EQ(cell(1, 0), "2023-09-01 08:00:00");
  EXPECT_EQ(cell(1, 1), "2023-03-15 12:30:05");  // bill 1's own time
  EXPECT_EQ(cell(1, 2), "支出");
  EXPECT_EQ(cell(1, 3), "12.50");
  EXPECT_EQ(cell(1, 4), "微信");
  EXPECT_EQ(cell(1, 5), "未分类");
  EXPECT_TRUE(page_->restore_button()->isEnabled());
  page_->grab().save(QString(SCREENSHOT_DIR) + "/bin_page.png");
}

TEST_F(BinPageTest, EnterOnARowAndTheButtonRestoreItUndoably) {
  delete_bills({{1, 45100.5}, {3, 45200.5}});
  page_->table()->setFocus();
  page_->table()->selectRow(1);
  QTest::keyClick(page_->table(), Qt::Key_Return);  // 午饭
  ASSERT_TRUE(wait_until([&] { return actions_->pending() == 0 && !session_->loading(); }));
  load();
  ASSERT_EQ(page_->table()->rowCount(), 1);
  EXPECT_EQ(cell(0, 6), "地铁");
  EXPECT_EQ(session_->book()->rows.size(), 2u);
  QTest::mouseClick(page_->restore_button(), Qt::LeftButton);
  ASSERT_TRUE(wait_until([&] { return actions_->pending() == 0 && !session_->loading(); }));
  load();
  EXPECT_EQ(page_->table()->rowCount(), 0);
  EXPECT_EQ(session_->book()->rows.size(), 3u);
  session_->undo().undo();  // 地铁 goes back into the bin
  ASSERT_TRUE(wait_until([&] { return actions_->pending() == 0 && !session_->loading(); }));
  load();
  ASSERT_EQ(page_->table()->rowCount(), 1);
  EXPECT_EQ(cell(0, 6), "地铁");
}

}  // namespace
}  // namespace pennacle
