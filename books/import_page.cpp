#include "books/import_page.h"

#include <QAbstractTableModel>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <utility>

#include "books/book_session.h"
#include "ledger/amount_text.h"
#include "ledger/categories.h"
#include "ledger/import/bill_csv.h"
#include "ledger/import/bill_import.h"
#include "ui/text_codec.h"

namespace pennacle {

// The bills a preview would add, read straight from the preview: 100,000 of them cost no item
// objects, and texts are made only for the rows on screen.
class PreviewModel final : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  void set(std::shared_ptr<const ImportPreview> preview) {
    beginResetModel();
    preview_ = std::move(preview);
    endResetModel();
  }
  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() || !preview_ ? 0 : static_cast<int>(preview_->add.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : kColumns;
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    static const char* const kNames[kColumns] = {"时间", "类型", "金额", "付款方式", "分类", "备注"};
    if (role != Qt::DisplayRole || section < 0 || section >= kColumns) return {};
    return orientation == Qt::Horizontal ? QVariant(QString(kNames[section])) : QVariant(section + 1);
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!preview_ || !index.isValid() || index.row() >= rowCount()) return {};
    if (role == Qt::TextAlignmentRole && index.column() == 2)
      return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    const PreviewBill& p = preview_->add[static_cast<size_t>(index.row())];
    const Bill& b = p.bill.bill;
    switch (index.column()) {
      case 0:
        return QString::fromStdString(format_date_time(b.time));
      case 1:
        return to_qstring(b.type);
      case 2:
        return QString::fromStdString(exact_amount_text(b.amount));
      case 3:
        return to_qstring(b.channel);
      case 4:
        return to_qstring(p.category.empty() ? uncategorized() : std::string_view(p.category));
      case 5:
        return to_qstring(b.remark);
      default:
        return {};
    }
  }

 private:
  static constexpr int kColumns = 6;
  std::shared_ptr<const ImportPreview> preview_;
};

namespace {

constexpr int kUnknownStatusesListed = 5;

QString source_text(ExportSource source) { return source == ExportSource::Alipay ? "支付宝" : "微信支付"; }

// "第 17 行" in CSV text, "工作表“账单”第 17 行" in a workbook.
QString place_text(const ImportPreview& p, int line) {
  if (p.sheet.empty()) return QString("第 %1 行").arg(line);
  return QString("工作表“%1”第 %2 行").arg(QString::fromStdString(p.sheet)).arg(line);
}

// Each reason rows were skipped for, in words, with its count; reasons without rows are left out.
// With `why`, each says what the reason means.
QStringList skip_reasons(const ImportPreview& p, bool why) {
  const struct {
    int count;
    const char* name;
    const char* meaning;
  } reasons[] = {
      {p.neutral, "不计收支", "充值、提现、理财、还款等，钱在自己的账户间移动"},
      {p.failed_or_closed, "交易失败或关闭", "钱没有动"},
      {p.pending, "尚未完成", "还未付款或仍在处理，完成后再导入"},
      {static_cast<int>(p.unknown_statuses.size()), "交易状态不明", "见下面所列的行"},
      {p.orphan_refunds, "退款未见原付款", "原付款导入时一并记入"},
      {p.ignored, "规则忽略", "rules.yaml 中标为 ignore"},
  };
  QStringList out;
  for (const auto& r : reasons) {
    if (r.count <= 0) continue;
    out << (why ? QString("%1 %2 笔：%3").arg(r.name).arg(r.count).arg(r.meaning)
                : QString("%1 %2 笔").arg(r.name).arg(r.count));
  }
  return out;
}

QString summary_text(const std::string& path, const ImportPreview& p) {
  QString text = QString("%1账单：%2\n将添加 %3 笔，已有 %4 笔，跳过 %5 笔")
                     .arg(source_text(p.source), QFileInfo(QString::fromStdString(path)).fileName())
                     .arg(p.add.size())
                     .arg(p.already)
                     .arg(p.skipped());
  const QStringList reasons = skip_reasons(p, false);
  if (!reasons.isEmpty()) text += "：" + reasons.join("，");
  text += p.rules ? "\n分类按账本旁的规则文件 rules.yaml" : "\n分类按导出文件自带的交易分类";
  return text;
}

}  // namespace

struct ImportPage::PreviewOutcome {
  Result<Previewed> previewed = Status::invalid("not read yet");
  std::vector<std::string> bad_rows;  // UTF-8, "FILE: line 17: reason"
};

struct ImportPage::ImportOutcome {
  Result<BillImportRun> run = Status::invalid("not run yet");
};

ImportPage::PreviewOutcome ImportPage::read_and_plan(const std::string& ledger, const std::string& file) {
  PreviewOutcome out;
  Result<std::string> bytes = read_export_input(file, kMaxExportBytes);
  if (!bytes.ok()) {
    out.previewed = bytes.status();
  } else if (blank_export(*bytes)) {
    out.previewed = Status::not_found(file + ": the file is empty");
  } else if (Result<std::optional<CategoryRules>> rules = rules_beside_ledger(ledger); !rules.ok()) {
    out.previewed = rules.status();
  } else {
    Previewed p{file, std::make_shared<const std::string>(std::move(*bytes)), nullptr, nullptr};
    if (*rules) p.rules = std::make_shared<const CategoryRules>(std::move(**rules));
    BillImportOptions options;
    options.dry_run = true;
    options.rules = p.rules.get();
    Result<BillImportRun> run = run_bill_import(ledger, file, *p.bytes, options, &out.bad_rows);
    if (run.ok()) {
      p.preview = std::make_shared<const ImportPreview>(std::move(run->preview));
      out.previewed = std::move(p);
    } else {
      out.previewed = run.status();
    }
  }
  return out;
}

ImportPage::ImportPage(BookSession& session, QWidget* parent)
    : QWidget(parent),
      session_(session),
      choose_(new QPushButton("选择导出文件(&O)…", this)),
      summary_(new QLabel(this)),
      model_(new PreviewModel(this)),
      table_(new QTableView(this)),
      skipped_(new QListWidget(this)),
      progress_(new QProgressBar(this)),
      result_(new QLabel(this)),
      import_(new QPushButton("导入(&I)", this)),
      cancel_(new QPushButton("取消(&C)", this)) {
  setAccessibleName("导入");
  make_layout();
  connect(choose_, &QPushButton::clicked, this, &ImportPage::choose_file);
  connect(import_, &QPushButton::clicked, this, &ImportPage::import_previewed);
  connect(cancel_, &QPushButton::clicked, this, &ImportPage::cancel);
  set_busy(false);
}

ImportPage::~ImportPage() = default;

void ImportPage::make_layout() {
  choose_->setAccessibleName("选择导出文件");
  summary_->setAccessibleName("导入摘要");
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  summary_->setText(
      "选择或拖入支付宝、微信支付的账单导出文件（CSV 或 XLSX），先看导入会做什么，确认后才写入账本。");
  table_->setModel(model_);
  table_->setAccessibleName("待导入账单");
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 8);
  table_->setColumnWidth(0, table_->fontMetrics().horizontalAdvance("2023-03-01 12:30:45") + 16);
  skipped_->setAccessibleName("跳过的行");
  skipped_->setWordWrap(true);
  progress_->setAccessibleName("导入进度");
  progress_->hide();
  result_->setAccessibleName("导入结果");
  result_->setWordWrap(true);
  result_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  import_->setAccessibleName("导入");
  cancel_->setAccessibleName("取消");

  auto* top = new QHBoxLayout;
  top->addWidget(choose_);
  top->addStretch(1);
  auto* skipped_box = new QWidget(this);
  auto* skipped_layout = new QVBoxLayout(skipped_box);
  skipped_layout->setContentsMargins(0, 0, 0, 0);
  auto* skipped_title = new QLabel("跳过的行(&S)", skipped_box);
  skipped_title->setBuddy(skipped_);
  skipped_layout->addWidget(skipped_title);
  skipped_layout->addWidget(skipped_);
  auto* split = new QSplitter(this);
  split->addWidget(table_);
  split->addWidget(skipped_box);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(result_, 1);
  bottom->addWidget(progress_, 1);
  bottom->addWidget(import_);
  bottom->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(summary_);
  layout->addWidget(split, 1);
  layout->addLayout(bottom);
}

void ImportPage::choose_file() {
  if (importing_) return show_failure("正在导入，请等它完成后再选择文件。");
  const QString path = QFileDialog::getOpenFileName(this, "选择支付宝或微信支付的账单导出文件", QString(),
                                                    "账单导出文件 (*.csv *.xlsx);;所有文件 (*)");
  if (!path.isEmpty()) preview_file(path);
}

void ImportPage::set_busy(bool busy) {
  busy_ = busy;
  import_->setEnabled(!busy && previewed_ && !previewed_->preview->add.empty());
  cancel_->setEnabled(!busy && previewed_);
  choose_->setEnabled(!importing_);
}

void ImportPage::show_failure(const QString& message, const QString& details) {
  result_->setText(message);
  auto* box = new QMessageBox(QMessageBox::Warning, "导入", message, QMessageBox::Ok, this);
  box->setAccessibleName("导入失败");
  if (!details.isEmpty()) box->setDetailedText(details);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // Window-modal and not waited for: a failure on the store's thread never stops the window.
  box->open();
}

// Reads, checks and plans the export on the store's thread: the file, the rules beside the ledger,
// the ledger itself (read-only). Nothing is written.
void ImportPage::preview_file(const QString& path) {
  if (importing_) return show_failure("正在导入，请等它完成后再预览另一个文件。");
  const int generation = ++generation_;
  previewed_.reset();
  model_->set(nullptr);
  skipped_->clear();
  summary_->setText(QString("正在读取 %1 …").arg(QFileInfo(path).fileName()));
  result_->clear();
  set_busy(true);
  const std::string ledger = session_.ledger();
  const std::string file = path.toStdString();
  session_.store().run<PreviewOutcome>(
      this, [ledger, file] { return read_and_plan(ledger, file); },
      [this, generation](const PreviewOutcome& outcome) { preview_done(generation, outcome); });
}

void ImportPage::preview_done(int generation, const PreviewOutcome& outcome) {
  if (generation != generation_) return;  // a later preview was asked for
  set_busy(false);
  if (outcome.previewed.ok()) return show_preview(*outcome.previewed);
  const Status& s = outcome.previewed.status();
  summary_->setText("没有可预览的导出文件。");
  QString details = QString::fromStdString(s.message());
  for (size_t i = 0; i < outcome.bad_rows.size(); ++i) {
    details += (i ? "\n" : "\n\n") + QString::fromStdString(outcome.bad_rows[i]);
  }
  if (s.code() == StatusCode::NotFound) {
    show_failure("这个文件不是支付宝或微信支付的账单导出文件，没有导入任何账单。", details);
  } else if (!outcome.bad_rows.empty()) {
    show_failure(QString("导出文件中有 %1 行无法读取，没有导入任何账单：\n%2")
                     .arg(outcome.bad_rows.size())
                     .arg(QString::fromStdString(outcome.bad_rows.front())),
                 details);
  } else {
    show_failure("无法预览这个文件，没有导入任何账单：\n" + QString::fromStdString(s.message()));
  }
}

void ImportPage::show_preview(const Previewed& previewed) {
  previewed_ = std::make_unique<Previewed>(previewed);
  const ImportPreview& p = *previewed.preview;
  model_->set(previewed.preview);
  summary_->setText(summary_text(previewed.path, p));
  skipped_->clear();
  skipped_->addItems(skip_reasons(p, true));
  const std::string_view column = p.source == ExportSource::Alipay ? "交易状态" : "当前状态";
  for (size_t i = 0; i < p.unknown_statuses.size() && i < kUnknownStatusesListed; ++i) {
    const RowNote& n = p.unknown_statuses[i];
    skipped_->addItem(QString("%1：%2“%3”不明，跳过")
                          .arg(place_text(p, n.line), QString::fromUtf8(column.data(), column.size()),
                               QString::fromStdString(n.text)));
  }
  for (const RowNote& n : p.notices) {
    skipped_->addItem(QString("%1：%2").arg(place_text(p, n.line), QString::fromStdString(n.text)));
  }
  result_->setText(p.add.empty() ? "没有要添加的账单。" : "确认无误后按“导入”写入账本。");
  set_busy(false);
}

void ImportPage::import_previewed() {
  if (busy_ || !previewed_ || previewed_->preview->add.empty()) return;
  importing_ = true;
  set_busy(true);
  progress_->setRange(0, static_cast<int>(previewed_->preview->add.size()));
  progress_->setValue(0);
  progress_->show();
  result_->setText("正在导入…");
  const std::string ledger = session_.ledger();
  const Previewed job = *previewed_;
  QPointer<ImportPage> self(this);
  session_.store().run<ImportOutcome>(
      this,
      [ledger, job, self] {
        BillImportOptions options;
        options.rules = job.rules.get();
        options.progress = [self](size_t stored, size_t total) {
          BookStore::post_to_ui([self, stored, total] {
            if (self) self->show_progress(stored, total);
          });
        };
        std::vector<std::string> bad_rows;  // the preview read the same bytes without one
        return ImportOutcome{run_bill_import(ledger, job.path, *job.bytes, options, &bad_rows)};
      },
      [this](const ImportOutcome& outcome) { import_done(outcome); });
}

void ImportPage::show_progress(size_t stored, size_t total) {
  if (!importing_) return;
  progress_->setRange(0, static_cast<int>(total));
  progress_->setValue(static_cast<int>(stored));
  result_->setText(QString("正在导入：已写入 %1 / %2 笔").arg(stored).arg(total));
}

void ImportPage::import_done(const ImportOutcome& outcome) {
  importing_ = false;
  progress_->hide();
  previewed_.reset();
  model_->set(nullptr);
  skipped_->clear();
  set_busy(false);
  session_.reload();
  if (!outcome.run.ok()) {
    summary_->setText("导入没有完成。");
    return show_failure("导入失败，没有写入账单：\n" +
                        QString::fromStdString(outcome.run.status().message()));
  }
  const BillImportRun& run = *outcome.run;
  if (!run.problem.ok()) {
    summary_->setText(QString("已添加 %1 笔后停止。").arg(run.added));
    return show_failure(QString("导入在添加 %1 笔后停止：\n%2")
                            .arg(run.added)
                            .arg(QString::fromStdString(run.problem.message())));
  }
  summary_->setText(QString("已导入 %1 笔账单，已有 %2 笔。").arg(run.added).arg(run.preview.already));
  result_->setText(QString("已导入 %1 笔").arg(run.added));
}

void ImportPage::cancel() {
  if (importing_) return;
  ++generation_;  // a preview still running is dropped when it comes back
  previewed_.reset();
  model_->set(nullptr);
  skipped_->clear();
  summary_->setText("已取消，没有导入任何账单。");
  result_->clear();
  set_busy(false);
}

}  // namespace pennacle
