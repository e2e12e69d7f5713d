// The 导入 view of the second window: an Alipay or WeChat Pay export, previewed as the import would
// book it (the bills to add with their categories, how many the ledger holds already, the rows
// skipped and why), and imported only when the person presses 导入. The file is read, planned and
// imported on the store's thread; the window stays responsive and shows the import's progress.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>
#include <string>

#include "ledger/import/import_preview.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableView;

namespace pennacle {

class BookSession;
class PreviewModel;

class ImportPage final : public QWidget {
  Q_OBJECT

 public:
  explicit ImportPage(BookSession& session, QWidget* parent = nullptr);
  ~ImportPage() override;

  // Asks for an export file and previews it.
  void choose_file();
  // Shows what importing the export at `path` would do; nothing is written until confirmed.
  void preview_file(const QString& path);
  // Imports the export previewed last (the 导入 button).
  void import_previewed();
  // Drops the preview; nothing is written (the 取消 button).
  void cancel();

  // True while a preview or an import runs on the store's thread.
  bool busy() const { return busy_; }
  bool importing() const { return importing_; }

 private:
  // What a preview keeps for the import it may lead to: the same bytes and the same rules.
  struct Previewed {
    std::string path;  // UTF-8
    std::shared_ptr<const std::string> bytes;
    std::shared_ptr<const CategoryRules> rules;  // null: the export's own categories
    std::shared_ptr<const ImportPreview> preview;
  };
  struct PreviewOutcome;
  struct ImportOutcome;

  // Runs on the store's thread: reads the export and the rules beside the ledger, and plans.
  static PreviewOutcome read_and_plan(const std::string& ledger, const std::string& file);
  void make_layout();
  void preview_done(int generation, const PreviewOutcome& outcome);
  void import_done(const ImportOutcome& outcome);
  void show_preview(const Previewed& previewed);
  void show_progress(size_t stored, size_t total);
  // Shows `message` (a failure) in the result line and in a box the person closes.
  void show_failure(const QString& message, const QString& details = QString());
  void set_busy(bool busy);

  BookSession& session_;
  QPushButton* choose_;
  QLabel* summary_;
  PreviewModel* model_;
  QTableView* table_;
  QListWidget* skipped_;
  QProgressBar* progress_;
  QLabel* result_;
  QPushButton* import_;
  QPushButton* cancel_;
  std::unique_ptr<Previewed> previewed_;
  int generation_ = 0;      // a later preview supersedes one still running
  bool busy_ = false;       // a preview or an import runs
  bool importing_ = false;  // an import runs: nothing else may start
};

}  // namespace pennacle
