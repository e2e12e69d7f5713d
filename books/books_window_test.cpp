// The second window whole: what it remembers, the progress of a long load, following another
// program's change, and a look at every view in a light and a dark palette (at the scale the test
// runs with: CTest runs it at 1 and at 1.5).
#include "books/books_window.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QProcess>
#include <QProgressBar>
#include <QSettings>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>
#include <set>

#include "books/bill_actions.h"
#include "books/bills_page.h"
#include "books/book_session.h"
#include "books/books_test_support.h"
#include "books/import_page.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class BooksWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ensure_application();
    // The window's settings go to this test's own folder, never the user's.
    static TempDir settings("books-settings-");
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(settings.path()));
    QApplication::setOrganizationName("PennacleTest");
    QApplication::setApplicationName("books_window_test");
  }
  void SetUp() override { QSettings().clear(); }

  // A ledger of `n` bills over the last months, a few of them in a category.
  void make_ledger(int n) {
    std::vector<TestBill> bills;
    const double now = current_date_time();
    const char* channels[] = {"微信", "支付宝", "银行卡"};
    const char* remarks[] = {"美团 · 外卖", "滴滴出行 · 打车", "京东 · 日用品", "工资"};
    const char* categories[] = {"餐饮", "交通", "购物", "工资"};
    for (int i = 0; i < n; ++i) {
      bills.push_back(
          {i % 4 != 3, 10.5 + i % 97, channels[i % 3], now - i * 0.7, remarks[i % 4], categories[i % 4]});
    }
    make_test_ledger(path_, bills);
  }
  std::unique_ptr<BooksWindow> open_window(size_t bills) {
    auto w = std::make_unique<BooksWindow>(path_);
    w->show();
    EXPECT_TRUE(wait_until([&] { return w->bills()->shown().size() == bills; }))
        << w->bills()->shown().size();
    return w;
  }

  TempDir dir_;
  std::string path_ = dir_.path() + "/data.kdb";
};

TEST_F(BooksWindowTest, RemembersItsSizeAndTheLastView) {
  make_ledger(3);
  {
    auto w = open_window(3);
    w->resize(900, 610);
    w->views()->setCurrentIndex(2);
    w->close();
  }
  auto again = open_window(3);
  EXPECT_EQ(again->views()->currentIndex(), 2);
  EXPECT_EQ(again->size(), QSize(900, 610));
  // A view index the window no longer has falls back to one it has.
  QSettings().setValue("books/view", 42);
  BooksWindow third(path_);
  EXPECT_GE(third.views()->currentIndex(), 0);
  EXPECT_LT(third.views()->currentIndex(), third.views()->count());
}

TEST_F(BooksWindowTest, ALongLoadShowsItsProgressAndTheWindowKeepsAnswering) {
  make_ledger(40000);
  BooksWindow w(path_);
  w.show();
  QProgressBar* bar = nullptr;
  for (QProgressBar* b : w.findChildren<QProgressBar*>())
    if (b->accessibleName() == "进度") bar = b;
  ASSERT_NE(bar, nullptr);
  bool shown = false;
  int answered = 0;
  // The event loop runs while the store's thread loads: a timer keeps firing, the bar moves.
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    ++answered;
    shown = shown || (bar->isVisible() && bar->value() > 0 && bar->value() < bar->maximum());
  });
  tick.start(1);
  ASSERT_TRUE(wait_until([&] { return w.bills()->shown().size() == 40000; }, 60000));
  EXPECT_TRUE(shown);
  EXPECT_GT(answered, 2);
  EXPECT_FALSE(bar->isVisible());
}

// Every change of the files reloads; while the ledger cannot be read each reload fails. The window
// says so in one box it does not wait on, and no progress stays behind from the last load.
TEST_F(BooksWindowTest, AFailedLoadShowsOneBoxAndKeepsTheWindowAnswering) {
  make_ledger(20);
  std::unique_ptr<BooksWindow> w = open_window(20);
  const auto boxes = [&] {
    int open = 0;
    for (QMessageBox* b : w->findChildren<QMessageBox*>()) open += b->isVisible() ? 1 : 0;
    return open;
  };
  // A box waited on would hold this test inside it: close it after a while so the test ends.
  QTimer guard;
  QObject::connect(&guard, &QTimer::timeout, [&] {
    for (QMessageBox* b : w->findChildren<QMessageBox*>()) b->done(QMessageBox::Ok);
  });
  guard.start(8000);
  ASSERT_EQ(std::remove(path_.c_str()), 0);
  ASSERT_TRUE(wait_until([&] { return boxes() == 1; }));
  for (int i = 0; i < 2; ++i) {
    w->session().reload();
    ASSERT_TRUE(wait_until([&] { return !w->session().loading(); }));
  }
  EXPECT_EQ(boxes(), 1);
  QProgressBar* bar = named<QProgressBar>(w.get(), "进度");
  ASSERT_NE(bar, nullptr);
  EXPECT_FALSE(bar->isVisible());
  QLabel* state = named<QLabel>(w.get(), "状态");
  ASSERT_NE(state, nullptr);
  EXPECT_TRUE(state->text().contains(QString::fromStdString(path_))) << state->text().toStdString();
  EXPECT_EQ(w->bills()->shown().size(), 20u);  // the last load stays on view
}

#ifdef KDBTOOL_BINARY
TEST_F(BooksWindowTest, ABillKdbtoolAddsShowsWithoutBeingAskedFor) {
  make_ledger(5);
  auto w = open_window(5);
  const QString csv = QString::fromStdString(dir_.path() + "/one.csv");
  write_file(csv.toStdString(), "类型,金额,付款方式,时间,备注\n收入,88.00,银行卡,2026-11-30 09:00:00,奖金\n");
  QProcess kdbtool;
  kdbtool.start(KDBTOOL_BINARY, {"import", QString::fromStdString(path_), csv});
  ASSERT_TRUE(kdbtool.waitForFinished(30000));
  ASSERT_EQ(kdbtool.exitCode(), 0) << kdbtool.readAllStandardError().toStdString();
  EXPECT_TRUE(wait_until([&] { return w->bills()->shown().size() == 6; }));
}
#endif

// The 编辑 menu's items act on the bill selected in 账单, as Enter and Delete on the table do.
TEST_F(BooksWindowTest, TheEditMenuDeletesTheSelectedBillAndUndoesIt) {
  make_ledger(4);
  auto w = open_window(4);
  const auto item = [&](const QString& text) -> QAction* {
    for (QAction* a : w->findChildren<QAction*>())
      if (a->text().startsWith(text)) return a;
    ADD_FAILURE() << "no menu item " << text.toStdString();
    return nullptr;
  };
  QAction* remove = item("删除账单");
  ASSERT_NE(remove, nullptr);
  remove->trigger();  // nothing selected: nothing deleted, and the status line says why
  QTest::qWait(100);
  EXPECT_EQ(w->bills()->shown().size(), 4u);
  w->bills()->table()->selectRow(0);
  const std::optional<int32_t> first = w->bills()->selected_serial();
  ASSERT_TRUE(first.has_value());
  remove->trigger();
  ASSERT_TRUE(wait_until([&] { return w->bills()->shown().size() == 3; }));
  EXPECT_FALSE(w->session().book()->rows.find(*first).has_value());
  w->session().undo().undo();
  EXPECT_TRUE(wait_until([&] { return w->bills()->shown().size() == 4; }));
}

void use_dark_palette(bool dark) {
  static const QPalette kLight = QApplication::palette();
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  if (!dark) {
    QApplication::setPalette(kLight);
    return;
  }
  QApplication::setPalette(dark_palette());
}

// Every view drawn in both palettes, for a person to look at; each picture must be the window's whole
// size at the screen's scale and not one flat colour.
TEST_F(BooksWindowTest, EveryViewDrawsInALightAndADarkPalette) {
  make_ledger(60);
  auto w = open_window(60);
  w->resize(1100, 720);
  // Something in every view: two bills in the bin, an export waiting in the import's preview.
  for (int i = 0; i < 2; ++i) {
    w->actions()->remove(w->session().book()->rows[static_cast<size_t>(i)].serial);
    ASSERT_TRUE(wait_until([&] { return w->bills()->shown().size() == static_cast<size_t>(59 - i); }));
  }
  const std::string export_path = dir_.path() + "/wechat.csv";
  write_file(export_path, wechat_export(wechat_sample_rows()));
  w->import_view()->preview_file(QString::fromStdString(export_path));
  QTableView* preview = named<QTableView>(w.get(), "待导入账单");
  ASSERT_NE(preview, nullptr);
  ASSERT_TRUE(wait_until([&] { return preview->model() && preview->model()->rowCount() > 0; }));
  QTableWidget* bin = named<QTableWidget>(w.get(), "回收站");
  ASSERT_NE(bin, nullptr);
  ASSERT_TRUE(wait_until([&] { return bin->rowCount() == 2; }));
  const qreal scale = w->devicePixelRatioF();
  const QString suffix = scale > 1.01 ? QString("_%1x").arg(scale) : QString();
  for (const bool dark : {false, true}) {
    use_dark_palette(dark);
    for (int v = 0; v < w->views()->count(); ++v) {
      w->views()->setCurrentIndex(v);
      QTest::qWait(50);
      const QImage shot = w->grab().toImage();
      EXPECT_EQ(shot.width(), qRound(1100 * scale));
      std::set<QRgb> colours;
      for (int y = 0; y < shot.height(); y += 7) {
        for (int x = 0; x < shot.width(); x += 7) colours.insert(shot.pixel(x, y));
      }
      EXPECT_GT(colours.size(), 20u) << "view " << v;
      const QString name = QString("books_view%1%2%3.png").arg(v).arg(dark ? "_dark" : "").arg(suffix);
      const QString tmp = QDir(SCREENSHOT_DIR).filePath(name + ".tmp.png");
      ASSERT_TRUE(shot.save(tmp));
      QFile::remove(QDir(SCREENSHOT_DIR).filePath(name));
      QFile::rename(tmp, QDir(SCREENSHOT_DIR).filePath(name));
    }
  }
  use_dark_palette(false);
}

}  // namespace
}  // namespace pennacle
