// The 导入 view on a real ledger in a directory of its own: a preview writes nothing, 导入 writes
// what the preview showed, and a file that is no export is refused with a message.
#include "books/import_page.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "books/book_session.h"
#include "books/books_test_support.h"
#include "books/books_window.h"
#include "ledger/bill.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

// What a file looks like from outside: its size and modification time, or nothing when absent.
std::string file_state(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "absent";
  return std::to_string(st.st_size) + "@" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec);
}

class ImportPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ensure_application();
    ASSERT_FALSE(dir_.path().empty());
    db_ = dir_.file("data.kdb");
    ASSERT_EQ(create_database(db_, bill_table_fields()), DbCode::Ok);
    session_ = std::make_unique<BookSession>(db_);
    page_ = std::make_unique<ImportPage>(*session_);
    page_->resize(1000, 600);
    page_->show();
    summary_ = named<QLabel>(page_.get(), "导入摘要");
    table_ = named<QTableView>(page_.get(), "待导入账单");
    import_ = named<QPushButton>(page_.get(), "导入");
    ASSERT_TRUE(summary_ && table_ && import_);
  }
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (qobject_cast<QMessageBox*>(w)) w->close();
    }
    page_.reset();
    session_.reset();  // finishes the store's jobs
  }

  // Previews `path` and waits for the store's thread to answer.
  void preview(const std::string& path) {
    page_->preview_file(QString::fromStdString(path));
    ASSERT_TRUE(idle());
  }
  // Waits until the page and the session have no job on the store's thread.
  bool idle() {
    return QTest::qWaitFor([this] { return !page_->busy() && !session_->loading(); }, 20000);
  }
  // The state of every file in the ledger's folder.
  std::map<std::string, std::string> folder() const {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
      out[e.path().filename().string()] = file_state(e.path().string());
    return out;
  }
  // The amounts of the ledger's live bills, read while the store's thread is idle.
  std::vector<std::string> ledger_bills() {
    EXPECT_TRUE(idle());
    std::vector<std::string> out;
    EXPECT_TRUE(open_record_file(db_, true).ok());
    const int32_t count = call_command(db_record_count, {}).int_payload();
    call_command(db_go_first, {});
    for (int32_t k = 0; k < count; ++k) {
      int32_t serial = 0;
      EXPECT_EQ(db_current_serial(&serial), DbCode::Ok);
      Bill b;
      if (serial > 0 && !read_current_bill(&b)) out.push_back(std::to_string(b.amount));
      call_command(db_skip, {});
    }
    call_command(db_close, {});
    return out;
  }
  QString cell(int row, int column) const { return table_->model()->index(row, column).data().toString(); }
  QMessageBox* box() const {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) return b;
    }
    return nullptr;
  }

  TempDir dir_{"pn_import_page_"};
  std::string db_;
  std::unique_ptr<BookSession> session_;
  std::unique_ptr<ImportPage> page_;
  QLabel* summary_ = nullptr;
  QTableView* table_ = nullptr;
  QPushButton* import_ = nullptr;
};

// The preview shows the bills and counts and leaves every file alone; 导入 writes those bills; a
// second preview finds them all there.
TEST_F(ImportPageTest, PreviewWritesNothingUntilImport) {
  const std::string export_file = dir_.write("wechat.csv", wechat_export(wechat_sample_rows()));
  const std::map<std::string, std::string> before = folder();
  preview(export_file);
  EXPECT_EQ(folder(), before) << "a preview touches no file";
  EXPECT_TRUE(ledger_bills().empty());
  EXPECT_TRUE(summary_->text().contains("微信支付")) << summary_->text().toStdString();
  EXPECT_TRUE(summary_->text().contains("将添加 3 笔，已有 0 笔，跳过 2 笔"))
      << summary_->text().toStdString();
  EXPECT_TRUE(summary_->text().contains("不计收支 1 笔")) << summary_->text().toStdString();
  EXPECT_TRUE(summary_->text().contains("交易失败或关闭 1 笔")) << summary_->text().toStdString();
  EXPECT_EQ(named<QListWidget>(page_.get(), "跳过的行")->count(), 2);
  ASSERT_EQ(table_->model()->rowCount(), 3);
  EXPECT_EQ(cell(0, 0), "2024-05-02 12:01:00");
  EXPECT_EQ(cell(0, 1), "支出");
  EXPECT_EQ(cell(0, 2), "18.50");
  EXPECT_EQ(cell(0, 3), "微信");
  EXPECT_EQ(cell(0, 4), "未分类") << "WeChat exports carry no category and there are no rules";
  EXPECT_EQ(cell(2, 1), "收入");
  EXPECT_TRUE(cell(0, 5).contains("示例面馆")) << cell(0, 5).toStdString();
  ASSERT_TRUE(import_->isEnabled());

  QCoreApplication::sendPostedEvents();  // the layout for the new texts
  const QImage shot = page_->grab().toImage();
  EXPECT_TRUE(shot.save(QString(SCREENSHOT_DIR) + "/import_page_preview.png"));

  QTest::mouseClick(import_, Qt::LeftButton);
  EXPECT_TRUE(page_->importing());
  ASSERT_TRUE(idle());
  EXPECT_EQ(box(), nullptr) << (box() ? box()->text().toStdString() : "");
  EXPECT_EQ(named<QLabel>(page_.get(), "导入结果")->text(), "已导入 3 笔");
  EXPECT_FALSE(named<QProgressBar>(page_.get(), "导入进度")->isVisible());
  std::vector<std::string> bills = ledger_bills();
  std::sort(bills.begin(), bills.end());
  EXPECT_EQ(bills,
            (std::vector<std::string>{std::to_string(18.5), std::to_string(4.0), std::to_string(60.0)}));
  EXPECT_FALSE(import_->isEnabled());

  preview(export_file);
  EXPECT_TRUE(summary_->text().contains("将添加 0 笔，已有 3 笔")) << summary_->text().toStdString();
  EXPECT_EQ(table_->model()->rowCount(), 0);
  EXPECT_FALSE(import_->isEnabled()) << "nothing to add";
}

// 取消 drops the preview and writes nothing.
TEST_F(ImportPageTest, CancelWritesNothing) {
  const std::string export_file = dir_.write("wechat.csv", wechat_export(wechat_sample_rows()));
  const std::map<std::string, std::string> before = folder();
  preview(export_file);
  QTest::mouseClick(named<QPushButton>(page_.get(), "取消"), Qt::LeftButton);
  EXPECT_EQ(table_->model()->rowCount(), 0);
  EXPECT_FALSE(import_->isEnabled());
  EXPECT_EQ(folder(), before);
}

// A file that is no export, one with a bad row and an empty one are each refused with a message;
// nothing is written.
TEST_F(ImportPageTest, FilesThatAreNoExportAreRefused) {
  std::vector<std::string> bad = wechat_sample_rows();
  bad.push_back("2024-05-07 10:00:00,商户消费,示例,cut off");
  const struct {
    std::string name, bytes, says;
  } cases[] = {
      {"notes.csv", "日期,内容\n2024-05-01,买菜\n", "不是支付宝或微信支付的账单导出文件"},
      {"bad.csv", wechat_export(bad), "有 1 行无法读取"},
      {"empty.csv", "\xEF\xBB\xBF\n", "不是支付宝或微信支付的账单导出文件"},
      {"missing.csv", "", "无法预览"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = c.name == "missing.csv" ? dir_.file(c.name) : dir_.write(c.name, c.bytes);
    const std::map<std::string, std::string> before = folder();
    preview(file);
    ASSERT_NE(box(), nullptr);
    EXPECT_TRUE(box()->text().contains(QString::fromStdString(c.says))) << box()->text().toStdString();
    EXPECT_EQ(named<QLabel>(page_.get(), "导入结果")->text(), box()->text());
    box()->close();
    EXPECT_EQ(table_->model()->rowCount(), 0);
    EXPECT_FALSE(import_->isEnabled());
    EXPECT_EQ(folder(), before);
    EXPECT_TRUE(ledger_bills().empty());
  }
}

// rules.yaml beside the ledger gives the preview its categories and its ignored rows, as it gives
// kdbtool import's; a rules file that does not read stops the preview with its line.
TEST_F(ImportPageTest, RulesBesideTheLedger) {
  const std::string export_file = dir_.write("wechat.csv", wechat_export(wechat_sample_rows()));
  dir_.write("rules.yaml",
             "wechat:\n  rules:\n    - peer: 示例面馆\n      targetAccount: 餐饮:午餐\n"
             "    - peer: 示例地铁\n      ignore: true\n");
  preview(export_file);
  EXPECT_TRUE(summary_->text().contains("将添加 2 笔")) << summary_->text().toStdString();
  EXPECT_TRUE(summary_->text().contains("规则忽略 1 笔")) << summary_->text().toStdString();
  EXPECT_TRUE(summary_->text().contains("rules.yaml")) << summary_->text().toStdString();
  ASSERT_EQ(table_->model()->rowCount(), 2);
  EXPECT_EQ(cell(0, 4), "餐饮:午餐");
  EXPECT_EQ(cell(1, 4), "未分类");

  const std::map<std::string, std::string> before = folder();
  dir_.write("rules.yaml", "wechat:\n  rules:\n    - payee: 示例\n");
  preview(export_file);
  ASSERT_NE(box(), nullptr);
  EXPECT_TRUE(box()->text().contains("line 3")) << box()->text().toStdString();
  EXPECT_EQ(table_->model()->rowCount(), 0);
  EXPECT_FALSE(import_->isEnabled());
  std::map<std::string, std::string> after = folder();
  after.erase("rules.yaml");
  std::map<std::string, std::string> want = before;
  want.erase("rules.yaml");
  EXPECT_EQ(after, want);
}

// An import of many groups shows its progress bar while the window goes on, and ends with every
// bill stored.
TEST_F(ImportPageTest, ManyBillsImportWithProgress) {
  std::vector<std::string> rows;
  for (int i = 0; i < 2500; ++i) {
    char row[160];
    std::snprintf(row, sizeof row,
                  "2024-06-%02d %02d:%02d:00,商户消费,示例商户%d,商品,支出,¥%d.%02d,零钱,支付成功,42%08d,/,/",
                  1 + i / 1440, i / 60 % 24, i % 60, i, 1 + i % 50, i % 100, i);
    rows.push_back(row);
  }
  preview(dir_.write("many.csv", wechat_export(rows)));
  ASSERT_EQ(table_->model()->rowCount(), 2500);
  QProgressBar* progress = named<QProgressBar>(page_.get(), "导入进度");
  QTest::keyClick(import_, Qt::Key_Space);
  ASSERT_TRUE(page_->importing()) << "the import runs on the store's thread, not in the click";
  EXPECT_TRUE(progress->isVisible());
  EXPECT_EQ(progress->maximum(), 2500);
  EXPECT_FALSE(named<QPushButton>(page_.get(), "取消")->isEnabled());
  ASSERT_TRUE(idle());
  EXPECT_EQ(named<QLabel>(page_.get(), "导入结果")->text(), "已导入 2500 笔");
  EXPECT_EQ(ledger_bills().size(), 2500u);
}

// An export dropped on the window is previewed in the 导入 view, and nothing is written.
TEST_F(ImportPageTest, DropOnTheWindowPreviews) {
  const std::string export_file = dir_.write("wechat.csv", wechat_export(wechat_sample_rows()));
  BooksWindow window(db_);
  window.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.session().loading(); }, 20000));
  const std::map<std::string, std::string> before = folder();
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(export_file))});
  // As a drag from a file manager arrives: it enters the window, then drops.
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &enter);
  EXPECT_TRUE(enter.isAccepted()) << "the window takes one file";
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &drop);
  EXPECT_TRUE(drop.isAccepted());
  EXPECT_EQ(window.views()->currentWidget(), window.import_view());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.import_view()->busy(); }, 20000));
  EXPECT_EQ(named<QTableView>(window.import_view(), "待导入账单")->model()->rowCount(), 3);
  EXPECT_EQ(folder(), before);
}

}  // namespace
}  // namespace pennacle
