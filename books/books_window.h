// The second window, "Pennacle 账本": the ledger's bills to find, fix, recover and understand, in
// four views (账单, 回收站, 统计, 导入). Every change goes through the store on its own thread; the
// window follows the ledger's files, so the ledger window's and kdbtool's changes show as well.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <cstdint>
#include <string>

class QLabel;
class QMessageBox;
class QProgressBar;
class QTabWidget;

namespace pennacle {

class BookSession;
class BillActions;
class BillsPage;
class BinPage;
class ImportPage;
class StatsPage;

class BooksWindow final : public QMainWindow {
  Q_OBJECT

 public:
  // The window on the ledger `ledger_utf8`. It starts loading at once and follows the files.
  explicit BooksWindow(const std::string& ledger_utf8, QWidget* parent = nullptr);
  ~BooksWindow() override;

  BookSession& session() { return *session_; }
  QTabWidget* views() { return tabs_; }
  BillsPage* bills() { return bills_; }
  BinPage* bin() { return bin_; }
  StatsPage* stats() { return stats_; }
  ImportPage* import_view() { return import_; }
  BillActions* actions() { return actions_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void make_menus();
  // A menu item on the bill selected in 账单: `act` on it, or a word on the status line.
  void on_selected_bill(void (BillActions::*act)(int32_t));
  void restore_settings();
  void show_progress(int done, int total);
  void show_problem(const QString& message);

  BookSession* session_;
  QTabWidget* tabs_;
  BillsPage* bills_;
  BinPage* bin_;
  StatsPage* stats_;
  ImportPage* import_;
  BillActions* actions_;
  QProgressBar* progress_;
  QLabel* state_;
  QPointer<QMessageBox> problem_;  // the load failure shown, while it is open
};

}  // namespace pennacle
