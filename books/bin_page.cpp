#include "books/bin_page.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "books/book_session.h"
#include "ledger/amount_text.h"
#include "ledger/bin_ledger.h"
#include "ledger/categories.h"
#include "ledger/import/bill_csv.h"
#include "ui/text_codec.h"

namespace pennacle {
namespace {

enum Column { kDeletedAt, kTime, kType, kAmount, kChannel, kCategory, kRemark, kColumns };

QTableWidgetItem* cell(const QString& text, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
  auto* item = new QTableWidgetItem(text);
  item->setTextAlignment(align);
  return item;
}

}  // namespace

BinPage::BinPage(BookSession& session, QWidget* parent)
    : QWidget(parent),
      session_(session),
      table_(new QTableWidget(0, kColumns, this)),
      restore_(new QPushButton("还原(&R)", this)),
      state_(new QLabel(this)) {
  setAccessibleName("回收站");
  table_->setAccessibleName("回收站");
  table_->setHorizontalHeaderLabels({"删除时间", "时间", "类型", "金额", "付款方式", "分类", "备注"});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  restore_->setAccessibleName("还原");
  restore_->setEnabled(false);
  state_->setAccessibleName("回收站状态");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(state_, 1);
  buttons->addWidget(restore_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_);
  layout->addLayout(buttons);
  connect(restore_, &QPushButton::clicked, this, &BinPage::restore_current);
  // Enter on a row (and a double click) restores it, as the button does.
  connect(table_, &QTableWidget::activated, this, &BinPage::restore_current);
  connect(table_, &QTableWidget::itemSelectionChanged, this,
          [this] { restore_->setEnabled(!table_->selectedItems().isEmpty()); });
  connect(&session_, &BookSession::loaded, this, &BinPage::refresh);
  state_->setText("正在读取回收站…");
}

void BinPage::refresh() {
  const std::string ledger = session_.ledger();
  session_.store().run<Result<std::vector<BinEntry>>>(
      this, [ledger] { return bin_bills_of(ledger, nullptr); },
      [this](Result<std::vector<BinEntry>> bills) { show_bills(std::move(bills)); });
}

void BinPage::show_bills(Result<std::vector<BinEntry>> bills) {
  if (!bills.ok()) {
    state_->setText("读不出回收站：" + QString::fromStdString(bills.status().message()));
    emit refreshed();
    return;
  }
  const int32_t kept =
      table_->currentRow() >= 0 ? table_->item(table_->currentRow(), 0)->data(Qt::UserRole).toInt() : 0;
  bills_ = std::move(*bills);
  table_->setRowCount(0);
  table_->setRowCount(static_cast<int>(bills_.size()));
  const auto right = Qt::AlignRight | Qt::AlignVCenter;
  for (int r = 0; r < table_->rowCount(); ++r) {
    const BinEntry& e = bills_[static_cast<size_t>(r)];
    const Bill& b = e.bill;
    QTableWidgetItem* first = cell(QString::fromStdString(format_date_time(e.deleted_at)));
    first->setData(Qt::UserRole, b.serial);
    table_->setItem(r, kDeletedAt, first);
    table_->setItem(r, kTime, cell(QString::fromStdString(format_date_time(b.time))));
    table_->setItem(r, kType, cell(to_qstring(b.type)));
    table_->setItem(r, kAmount, cell(QString::fromStdString(exact_amount_text(b.amount)), right));
    table_->setItem(r, kChannel, cell(to_qstring(b.channel)));
    table_->setItem(r, kCategory, cell(to_qstring(e.category.empty() ? uncategorized() : e.category)));
    table_->setItem(r, kRemark, cell(to_qstring(b.remark)));
    if (b.serial == kept) table_->selectRow(r);
  }
  table_->resizeColumnsToContents();
  // An empty bin (or one of short texts) keeps columns wide enough for what a bill puts there.
  const QFontMetrics fm = table_->fontMetrics();
  const char* widest[] = {
      "2026-12-31 23:59:59", "2026-12-31 23:59:59", "支出", "99,999.00", "QQ钱包", "餐饮:午餐"};
  for (int c = 0; c < kRemark; ++c) {
    const int least = fm.horizontalAdvance(QString::fromUtf8(widest[c])) + 3 * fm.averageCharWidth();
    table_->setColumnWidth(c, std::max(table_->columnWidth(c), least));
  }
  if (table_->currentRow() < 0 && table_->rowCount() > 0) table_->selectRow(0);
  state_->setText(bills_.empty() ? "回收站是空的" : QString("回收站里有 %1 笔账单").arg(bills_.size()));
  emit refreshed();
}

void BinPage::restore_current() {
  const int row = table_->currentRow();
  if (row < 0 || row >= table_->rowCount()) return;
  emit restore_asked(table_->item(row, kDeletedAt)->data(Qt::UserRole).toInt());
}

}  // namespace pennacle
