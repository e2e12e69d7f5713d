#include "books/stats_page.h"

#include <QComboBox>
#include <QCursor>
#include <QDate>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolTip>
#include <QVBoxLayout>
#include <QtCharts/QAbstractAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>
#include <algorithm>

#include "books/book_session.h"
#include "charts/chart_builders.h"
#include "ui/text_codec.h"

namespace pennacle {
namespace {

// The colours of `kdbtool report --html`, readable on a light and on a dark background.
constexpr uint32_t kExpenseRgb = 0xD9534F;
constexpr uint32_t kIncomeRgb = 0x4CAE4C;

// The first column of each table, then the figures.
enum Column { kKey, kExpense, kIncome, kBalance, kCount, kColumns };

// What a table row asks for, kept in its first cell.
constexpr int kKeyRole = Qt::UserRole;
constexpr int kTotalRole = Qt::UserRole + 1;

QChartView* chart_view(const QString& name, QWidget* parent) {
  auto* view = new QChartView(parent);
  view->setAccessibleName(name);
  view->setRenderHint(QPainter::Antialiasing);
  view->setFocusPolicy(Qt::NoFocus);  // the table beside it is the keyboard's way to the same bills
  view->setMinimumSize(240, 200);
  return view;
}

QTableWidget* figure_table(const QString& name, const QString& key_title, QWidget* parent) {
  auto* table = new QTableWidget(0, kColumns, parent);
  table->setAccessibleName(name);
  table->setHorizontalHeaderLabels({key_title, "支出", "收入", "结余", "笔数"});
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setTabKeyNavigation(false);  // Tab leaves the table for the next one
  table->verticalHeader()->hide();
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
  table->horizontalHeader()->setSectionResizeMode(kKey, QHeaderView::Stretch);
  for (int c = kExpense; c < kColumns; ++c) {
    table->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
  }
  return table;
}

QLabel* buddy_label(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  return label;
}

QString money(double d) { return QString::fromStdString(money_text(d)); }

QString month_name(int month) { return QString("%1月").arg(month); }

// "2024 年" or "2024 年 3 月".
QString scope_name(int year, int month) {
  return month == 0 ? QString("%1 年").arg(year) : QString("%1 年 %2 月").arg(year).arg(month);
}

void set_row(QTableWidget* table, int row, const QString& key, const ReportRow& r) {
  const QString cells[kColumns] = {key, money(r.expense), money(r.income), money(r.balance()),
                                   QString::number(r.count)};
  for (int c = 0; c < kColumns; ++c) {
    auto* item = new QTableWidgetItem(cells[c]);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (c != kKey) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table->setItem(row, c, item);
  }
}

}  // namespace

StatsPage::StatsPage(BookSession& session, QWidget* parent) : QWidget(parent), session_(session) {
  setAccessibleName("统计");
  const QDate today = QDate::currentDate();
  year_value_ = today.year();
  month_value_ = today.month();
  make_layout();
  connect(&session_, &BookSession::loaded, this, &StatsPage::book_loaded);
  connect(year_, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (i < 0) return;
    year_value_ = year_->itemData(i).toInt();
    show_stats();
  });
  connect(scope_, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (i < 0) return;
    month_value_ = i;  // item 0 is 全年, item m is month m
    show_stats();
  });
  const std::pair<QTableWidget*, Table> tables[] = {
      {month_table_, Table::Months}, {category_table_, Table::Categories}, {channel_table_, Table::Channels}};
  for (const auto& [table, table_kind] : tables) {
    const Table kind = table_kind;  // a lambda takes a variable, not a structured binding
    connect(table, &QAbstractItemView::activated, this,
            [this, kind](const QModelIndex& index) { table_row_activated(kind, index.row()); });
  }
  book_loaded(session_.book());
}

void StatsPage::make_layout() {
  year_ = new QComboBox(this);
  year_->setAccessibleName("年份");
  scope_ = new QComboBox(this);
  scope_->setAccessibleName("月份");
  scope_->addItem("全年");
  for (int m = 1; m <= 12; ++m) scope_->addItem(month_name(m));
  scope_->setCurrentIndex(month_value_);
  auto* hint = new QLabel("点击柱形或扇区，或在表中按回车，查看这些账单", this);
  hint->setAccessibleName("提示");
  hint->setForegroundRole(QPalette::PlaceholderText);

  month_chart_ = chart_view("每月收支", this);
  category_chart_ = chart_view("支出分类", this);
  channel_chart_ = chart_view("支出渠道", this);
  month_table_ = figure_table("每月收支表", "月份", this);
  category_table_ = figure_table("分类收支表", "分类", this);
  channel_table_ = figure_table("渠道收支表", "付款方式", this);

  auto* top = new QHBoxLayout;
  top->addWidget(buddy_label("年份(&Y)", year_, this));
  top->addWidget(year_);
  top->addSpacing(12);
  top->addWidget(buddy_label("月份(&M)", scope_, this));
  top->addWidget(scope_);
  top->addSpacing(12);
  top->addWidget(hint, 1);

  auto* pies = new QHBoxLayout;
  pies->addWidget(category_chart_);
  pies->addWidget(channel_chart_);
  // The month's figures always show; those by category and by channel share the space below them.
  auto* by_key = new QTabWidget(this);
  by_key->setAccessibleName("支出去向");
  by_key->addTab(category_table_, "按分类(&C)");
  by_key->addTab(channel_table_, "按付款方式(&P)");
  auto* tables = new QVBoxLayout;
  tables->addWidget(buddy_label("每月(&T)", month_table_, this));
  // Twelve months and the year's total fit without scrolling; by category and channel take the rest.
  month_table_->setMinimumHeight(month_table_->horizontalHeader()->sizeHint().height() +
                                 13 * month_table_->verticalHeader()->defaultSectionSize() +
                                 2 * month_table_->frameWidth());
  tables->addWidget(month_table_);
  tables->addWidget(by_key, 1);

  auto* charts = new QVBoxLayout;
  charts->addWidget(month_chart_, 1);
  charts->addLayout(pies, 1);
  auto* body = new QHBoxLayout;
  body->addLayout(charts, 2);
  body->addLayout(tables, 1);
  auto* page = new QVBoxLayout(this);
  page->addLayout(top);
  page->addLayout(body, 1);
  setTabOrder(year_, scope_);
  setTabOrder(scope_, month_table_);
  setTabOrder(month_table_, by_key);
}

void StatsPage::book_loaded(std::shared_ptr<const Book> book) {
  book_ = std::move(book);
  if (!book_) return;
  fill_years();
  show_stats();
}

void StatsPage::fill_years() {
  std::vector<int> years = book_years(book_->rows);
  // The chosen year stays choosable when its last bill is gone, and the current one when it has none yet.
  for (int y : {year_value_, QDate::currentDate().year()}) {
    if (!std::binary_search(years.begin(), years.end(), y))
      years.insert(std::upper_bound(years.begin(), years.end(), y), y);
  }
  const QSignalBlocker quiet(year_);
  year_->clear();
  for (int y : years) year_->addItem(QString("%1 年").arg(y), y);
  year_->setCurrentIndex(year_->findData(year_value_));
}

void StatsPage::show_stats() {
  if (!book_) return;
  stats_ = book_stats(book_->rows, year_value_, month_value_);
  fill_table(month_table_, stats_.by_month, Table::Months);
  fill_table(category_table_, stats_.by_category, Table::Categories);
  fill_table(channel_table_, stats_.by_channel, Table::Channels);
  show_charts();
}

void StatsPage::fill_table(QTableWidget* table, const Report& report, Table kind) {
  const int keep = table->currentRow();
  table->setRowCount(static_cast<int>(report.rows.size()) + 1);
  for (size_t i = 0; i < report.rows.size(); ++i) {
    const ReportRow& r = report.rows[i];
    const int row = static_cast<int>(i);
    set_row(table, row, kind == Table::Months ? month_name(row + 1) : to_qstring(r.key), r);
    table->item(row, kKey)->setData(kKeyRole, QByteArray::fromStdString(r.key));
  }
  const int total = static_cast<int>(report.rows.size());
  set_row(table, total, "合计", report.total);
  table->item(total, kKey)->setData(kTotalRole, true);
  QFont bold = table->font();
  bold.setBold(true);
  for (int c = 0; c < kColumns; ++c) table->item(total, c)->setFont(bold);
  if (keep >= 0) table->setCurrentCell(std::min(keep, total), kKey);
}

void StatsPage::show_charts() {
  const std::pair<QChartView*, QChart*> charts[] = {
      {month_chart_, month_chart()},
      {category_chart_, pie_chart(stats_.by_category, Table::Categories)},
      {channel_chart_, pie_chart(stats_.by_channel, Table::Channels)},
  };
  for (auto [view, chart] : charts) {
    theme(chart);
    // The view takes the new chart and lets go of the old one without deleting it.
    QChart* old = view->chart();
    view->setChart(chart);
    delete old;
  }
  // A theme gives the bars its own colours; they keep the report's.
  if (auto* bars = qobject_cast<QBarSeries*>(month_chart_->chart()->series().value(0))) {
    const QList<QBarSet*> sets = bars->barSets();
    if (sets.size() == 2) {
      sets[0]->setColor(QColor::fromRgb(kExpenseRgb));
      sets[1]->setColor(QColor::fromRgb(kIncomeRgb));
    }
  }
}

QChart* StatsPage::month_chart() {
  BarChartFigures figures;
  figures.title = QString("%1 年每月支出与收入（元）").arg(year_value_).toStdString();
  ChartSeries expense{"支出", {}, kExpenseRgb}, income{"收入", {}, kIncomeRgb};
  for (int m = 1; m <= 12; ++m) {
    figures.categories.push_back(month_name(m).toStdString());
    expense.values.push_back(stats_.by_month.rows[m - 1].expense);
    income.values.push_back(stats_.by_month.rows[m - 1].income);
  }
  figures.series = {expense, income};
  QChart* chart = make_bar_chart(figures);
  auto* bars = qobject_cast<QBarSeries*>(chart->series().value(0));
  if (!bars || bars->barSets().size() != 2) return chart;
  const int year = year_value_;
  const SideFilter sides[] = {SideFilter::Expense, SideFilter::Income};
  for (int s = 0; s < 2; ++s) {
    QBarSet* set = bars->barSets()[s];
    connect(set, &QBarSet::clicked, this, [this, year, side = sides[s]](int index) {
      if (index >= 0 && index < 12) ask(month_range(year, index + 1), side);
    });
    connect(set, &QBarSet::hovered, this, [set](bool on, int index) {
      if (!on || index < 0 || index >= set->count()) return QToolTip::hideText();
      QToolTip::showText(
          QCursor::pos(),
          QString("%1 %2 %3 元").arg(month_name(index + 1), set->label(), money(set->at(index))));
    });
  }
  return chart;
}

QChart* StatsPage::pie_chart(const Report& report, Table kind) {
  PieChartFigures figures;
  const QString what = kind == Table::Categories ? "按分类" : "按付款方式";
  std::vector<std::string> keys;
  for (const ReportRow& row : report.rows) {
    if (!(row.expense > 0)) continue;
    figures.labels.push_back(to_qstring(row.key).toStdString());
    figures.values.push_back(row.expense);
    keys.push_back(row.key);
  }
  const QString title = scope_name(year_value_, month_value_) + "支出 " + what;
  figures.title = (keys.empty() ? title + "：没有支出" : title).toStdString();
  QChart* chart = make_pie_chart(figures);
  auto* pie = qobject_cast<QPieSeries*>(chart->series().value(0));
  // make_pie_chart makes one slice per positive value, in order: slice i is keys[i].
  if (!pie || pie->slices().size() != static_cast<qsizetype>(keys.size())) return chart;
  const DateRange period = month_range(year_value_, month_value_);
  for (size_t i = 0; i < keys.size(); ++i) {
    QPieSlice* slice = pie->slices()[static_cast<qsizetype>(i)];
    connect(slice, &QPieSlice::clicked, this,
            [this, period, kind, key = keys[i]] { ask(period, SideFilter::Expense, kind, key); });
    connect(slice, &QPieSlice::hovered, this, [slice, name = to_qstring(keys[i])](bool on) {
      slice->setExploded(on);
      if (!on) return QToolTip::hideText();
      QToolTip::showText(QCursor::pos(), QString("%1 %2 元（%3%）")
                                             .arg(name, money(slice->value()))
                                             .arg(slice->percentage() * 100, 0, 'f', 1));
    });
    // Labels around a pie this small would be cut short; the legend beside it names every slice.
    slice->setLabelVisible(false);
  }
  pie->setPieSize(0.8);
  chart->legend()->setAlignment(Qt::AlignRight);
  QFont small = chart->legend()->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  chart->legend()->setFont(small);
  return chart;
}

// Charts follow the application's palette: a dark window gets the dark theme, and every chart
// takes the window's own colour behind it.
void StatsPage::theme(QChart* chart) const {
  const QColor window = palette().color(QPalette::Window);
  chart->setTheme(window.lightness() < 128 ? QChart::ChartThemeDark : QChart::ChartThemeLight);
  chart->setBackgroundBrush(window);
  chart->setBackgroundPen(Qt::NoPen);
  chart->setTitleBrush(palette().color(QPalette::WindowText));
  chart->legend()->setLabelColor(palette().color(QPalette::WindowText));
  chart->setMargins(QMargins(4, 4, 4, 4));
}

void StatsPage::table_row_activated(Table kind, int row) {
  const QTableWidget* table = kind == Table::Months       ? month_table_
                              : kind == Table::Categories ? category_table_
                                                          : channel_table_;
  const QTableWidgetItem* item = table->item(row, kKey);
  if (!item) return;
  // A row's 笔数 counts both sides, so its bills are those of both sides.
  if (item->data(kTotalRole).toBool()) {
    ask(month_range(year_value_, kind == Table::Months ? 0 : month_value_), SideFilter::Any);
  } else if (kind == Table::Months) {
    ask(month_range(year_value_, row + 1), SideFilter::Any);
  } else {
    ask(month_range(year_value_, month_value_), SideFilter::Any, kind,
        item->data(kKeyRole).toByteArray().toStdString());
  }
}

void StatsPage::ask(const DateRange& period, SideFilter side, Table kind, const std::string& key) {
  BillFilter filter;
  filter.period = period;
  filter.side = side;
  if (kind == Table::Categories) {
    filter.category = key;
    filter.category_alone = true;  // the row's sums are of this category alone, as the report's are
  }
  if (kind == Table::Channels) filter.channel = key;
  emit session_.bills_asked(filter);
}

void StatsPage::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange && book_) show_charts();
}

}  // namespace pennacle
