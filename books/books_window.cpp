#include "books/books_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <algorithm>
#include <optional>

#include "books/bill_actions.h"
#include "books/bills_page.h"
#include "books/bin_page.h"
#include "books/book_session.h"
#include "books/import_page.h"
#include "books/stats_page.h"

namespace pennacle {

BooksWindow::BooksWindow(const std::string& ledger_utf8, QWidget* parent)
    : QMainWindow(parent),
      session_(new BookSession(ledger_utf8, this)),
      tabs_(new QTabWidget(this)),
      bills_(new BillsPage(*session_, tabs_)),
      bin_(new BinPage(*session_, tabs_)),
      stats_(new StatsPage(*session_, tabs_)),
      import_(new ImportPage(*session_, tabs_)),
      actions_(new BillActions(*session_, this)),
      progress_(new QProgressBar(this)),
      state_(new QLabel(this)) {
  setWindowTitle("Pennacle 账本");
  setAccessibleName("Pennacle 账本");
  setAcceptDrops(true);
  tabs_->setAccessibleName("视图");
  tabs_->addTab(bills_, "账单(&1)");
  tabs_->addTab(bin_, "回收站(&2)");
  tabs_->addTab(stats_, "统计(&3)");
  tabs_->addTab(import_, "导入(&4)");
  setCentralWidget(tabs_);
  progress_->setAccessibleName("进度");
  progress_->setMaximumWidth(240);
  progress_->hide();
  state_->setAccessibleName("状态");
  statusBar()->addWidget(state_, 1);
  statusBar()->addPermanentWidget(progress_);
  make_menus();
  restore_settings();

  connect(session_, &BookSession::progress, this, &BooksWindow::show_progress);
  connect(session_, &BookSession::problem, this, &BooksWindow::show_problem);
  connect(session_, &BookSession::loaded, this, [this](const std::shared_ptr<const Book>& book) {
    progress_->hide();
    state_->setText(QString("%1 笔账单").arg(book->rows.size()));
  });
  connect(bills_, &BillsPage::edit_asked, actions_, &BillActions::edit);
  connect(bills_, &BillsPage::delete_asked, actions_, &BillActions::remove);
  connect(bin_, &BinPage::restore_asked, actions_, &BillActions::restore_from_bin);
  connect(session_, &BookSession::bills_asked, this, [this] { tabs_->setCurrentWidget(bills_); });
  state_->setText("正在读取账本…");
  session_->follow_files();
  session_->reload();
}

BooksWindow::~BooksWindow() = default;

void BooksWindow::make_menus() {
  QMenu* file = menuBar()->addMenu("文件(&F)");
  QAction* import = file->addAction("导入账单(&I)…", this, [this] {
    tabs_->setCurrentWidget(import_);
    import_->choose_file();
  });
  import->setShortcut(QKeySequence("Ctrl+O"));
  QAction* reload = file->addAction("重新读取(&R)", this, [this] { session_->reload(); });
  reload->setShortcut(QKeySequence::Refresh);
  file->addSeparator();
  QAction* quit = file->addAction("退出(&X)", this, &QWidget::close);
  quit->setShortcut(QKeySequence::Quit);

  QMenu* edit = menuBar()->addMenu("编辑(&E)");
  // The keys live on the bill table (Enter, Delete): shown here, they must not take Delete from a
  // text box.
  QAction* change = edit->addAction("修改账单(&M)…", this, [this] { on_selected_bill(&BillActions::edit); });
  change->setShortcut(QKeySequence(Qt::Key_Return));
  change->setShortcutContext(Qt::WidgetShortcut);
  QAction* remove = edit->addAction("删除账单(&D)", this, [this] { on_selected_bill(&BillActions::remove); });
  remove->setShortcut(QKeySequence::Delete);
  remove->setShortcutContext(Qt::WidgetShortcut);
  edit->addSeparator();
  QAction* undo = session_->undo().createUndoAction(this, "撤销");
  undo->setShortcut(QKeySequence("Ctrl+Z"));
  QAction* redo = session_->undo().createRedoAction(this, "重做");
  redo->setShortcuts({QKeySequence("Ctrl+Shift+Z"), QKeySequence("Ctrl+Y")});
  edit->addAction(undo);
  edit->addAction(redo);
  edit->addSeparator();
  QAction* find = edit->addAction("搜索(&S)", this, [this] {
    tabs_->setCurrentWidget(bills_);
    bills_->focus_search();
  });
  find->setShortcut(QKeySequence::Find);
}

void BooksWindow::on_selected_bill(void (BillActions::*act)(int32_t)) {
  tabs_->setCurrentWidget(bills_);
  if (const std::optional<int32_t> serial = bills_->selected_serial()) {
    (actions_->*act)(*serial);
  } else {
    state_->setText("请先在账单中选择一笔账单。");
  }
}

void BooksWindow::restore_settings() {
  QSettings settings;
  if (!restoreGeometry(settings.value("books/geometry").toByteArray())) resize(1000, 680);
  tabs_->setCurrentIndex(std::clamp(settings.value("books/view", 0).toInt(), 0, tabs_->count() - 1));
}

void BooksWindow::closeEvent(QCloseEvent* event) {
  QSettings settings;
  settings.setValue("books/geometry", saveGeometry());
  settings.setValue("books/view", tabs_->currentIndex());
  event->accept();
}

void BooksWindow::show_progress(int done, int total) {
  progress_->setRange(0, std::max(total, 1));
  progress_->setValue(done);
  progress_->show();
  state_->setText("正在读取账本…");
}

// Not waited for: a modal loop here would run the next failed load inside this one, a box in a
// box for every change of the files. A failure while the box is open takes it over.
void BooksWindow::show_problem(const QString& message) {
  progress_->hide();
  state_->setText(message);
  if (!problem_) {
    problem_ = new QMessageBox(QMessageBox::Warning, "Pennacle 账本", message, QMessageBox::Ok, this);
    problem_->setAttribute(Qt::WA_DeleteOnClose);
    problem_->setAccessibleName("读取失败");
    problem_->open();
  }
  problem_->setText(message);
}

void BooksWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() && event->mimeData()->urls().size() == 1) event->acceptProposedAction();
}

void BooksWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return;
  tabs_->setCurrentWidget(import_);
  import_->preview_file(urls.front().toLocalFile());
  event->acceptProposedAction();
}

}  // namespace pennacle
