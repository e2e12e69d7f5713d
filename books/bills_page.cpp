#include "books/bills_page.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDoubleValidator>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "books/bills_model.h"
#include "books/bills_periods.h"
#include "books/book_session.h"
#include "ledger/amount_text.h"
#include "runtime/convert.h"
#include "ui/text_codec.h"

namespace pennacle {
namespace {

QByteArray bytes(std::string_view gbk) { return QByteArray(gbk.data(), static_cast<qsizetype>(gbk.size())); }

// A label whose mnemonic puts the keyboard in `buddy`.
QLabel* label_for(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  return label;
}

// The GBK text a choice of a channel or category combo box stands for; nullopt for 全部.
std::optional<std::string> chosen_text(const QComboBox* box) {
  const QVariant v = box->currentData();
  if (!v.isValid()) return std::nullopt;
  const QByteArray b = v.toByteArray();
  return std::string(b.constData(), static_cast<size_t>(b.size()));
}

// Fills `box` with 全部 and `names` (GBK) and chooses `chosen`, which is added when missing so a
// filter keeps naming what it names.
void fill_names(QComboBox* box, std::vector<std::string> names, const std::optional<std::string>& chosen) {
  if (chosen && std::find(names.begin(), names.end(), *chosen) == names.end()) names.push_back(*chosen);
  const QSignalBlocker quiet(box);
  box->clear();
  box->addItem("全部");
  for (const std::string& n : names) box->addItem(to_qstring(n), bytes(n));
  box->setCurrentIndex(chosen ? std::max(box->findData(bytes(*chosen)), 0) : 0);
}

// An amount box's value: nullopt when empty or not yet a number.
std::optional<double> typed_amount(const QLineEdit* edit) {
  bool ok = false;
  const double v = QLocale::c().toDouble(edit->text().trimmed(), &ok);
  if (!ok || !std::isfinite(v)) return std::nullopt;
  return v;
}

QDate date_of(double t) {
  const DateTimeParts p = date_time_parts(t);
  return QDate(p.year, p.month, p.day);
}

}  // namespace

BillsPage::BillsPage(BookSession& session, QWidget* parent)
    : QWidget(parent), session_(session), book_(session.book()), model_(new BillsModel(this)) {
  setAccessibleName("账单");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(make_filters());
  make_table();
  layout->addWidget(table_, 1);
  footer_ = new QLabel(this);
  footer_->setAccessibleName("合计");
  footer_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(footer_);
  // Tab goes as the eye reads: the top line, the line of filters, then the bills.
  QWidget* order[] = {search_, min_, max_, period_, from_, to_, side_, channel_, category_, table_};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(&session_, &BookSession::loaded, this, &BillsPage::take_book);
  connect(&session_, &BookSession::bills_asked, this, &BillsPage::show_filter);
  take_book(book_);
}

BillsPage::~BillsPage() = default;

QWidget* BillsPage::make_filters() {
  auto* box = new QWidget(this);
  auto* rows = new QVBoxLayout(box);
  rows->setContentsMargins(0, 0, 0, 0);
  search_ = new QLineEdit(box);
  search_->setAccessibleName("搜索");
  search_->setPlaceholderText("备注、对方、商品、付款方式或分类中的文字（Ctrl+F）");
  search_->setClearButtonEnabled(true);
  search_->installEventFilter(this);
  auto* top = new QHBoxLayout;
  top->addWidget(label_for("搜索(&S):", search_, box));
  top->addWidget(search_, 1);
  make_choices(box);
  make_amounts(box);
  // The amounts go beside the search, which has room to give: the line below is full.
  top->addSpacing(8);
  top->addWidget(label_for("金额 最小(&N):", min_, box));
  top->addWidget(min_);
  top->addWidget(label_for("最大(&X):", max_, box));
  top->addWidget(max_);
  rows->addLayout(top);

  auto* line = new QHBoxLayout;
  const auto add = [&](const char* label, QWidget* control, std::initializer_list<QWidget*> more = {}) {
    if (line->count() > 0) line->addSpacing(8);
    line->addWidget(label_for(label, control, box));
    line->addWidget(control);
    for (QWidget* w : more) line->addWidget(w);
  };
  add("期间(&P):", period_, {from_, to_});
  add("类型(&T):", side_);
  add("付款方式(&M):", channel_);
  add("分类(&C):", category_);
  line->addStretch(1);
  rows->addLayout(line);
  connect(search_, &QLineEdit::textChanged, this, &BillsPage::search_typed);
  return box;
}

void BillsPage::make_choices(QWidget* box) {
  period_ = new QComboBox(box);
  period_->setAccessibleName("期间");
  static constexpr const char* kPeriods[] = {"本月", "上月", "今年", "去年", "全部", "范围…"};
  for (int c = 0; c <= static_cast<int>(PeriodChoice::Range); ++c) period_->addItem(kPeriods[c], c);
  period_->setCurrentIndex(static_cast<int>(PeriodChoice::All));
  period_->setMinimumContentsLength(7);  // room for 范围… beside the arrow
  period_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  from_ = new QDateEdit(box);
  to_ = new QDateEdit(box);
  for (QDateEdit* e : {from_, to_}) {
    e->setCalendarPopup(true);
    e->setDisplayFormat("yyyy-MM-dd");
    e->setDate(date_of(now()));
    e->setVisible(false);
    connect(e, &QDateEdit::dateChanged, this, &BillsPage::period_chosen);
  }
  from_->setAccessibleName("开始日期");
  to_->setAccessibleName("结束日期");
  side_ = new QComboBox(box);
  side_->setAccessibleName("类型");
  side_->addItem("全部", static_cast<int>(SideFilter::Any));
  side_->addItem("支出", static_cast<int>(SideFilter::Expense));
  side_->addItem("收入", static_cast<int>(SideFilter::Income));
  channel_ = new QComboBox(box);
  channel_->setAccessibleName("付款方式");
  category_ = new QComboBox(box);
  category_->setAccessibleName("分类");
  connect(period_, &QComboBox::currentIndexChanged, this, &BillsPage::period_chosen);
  connect(side_, &QComboBox::currentIndexChanged, this, &BillsPage::side_chosen);
  connect(channel_, &QComboBox::currentIndexChanged, this, [this] {
    filter_.channel = chosen_text(channel_);
    refilter();
  });
  connect(category_, &QComboBox::currentIndexChanged, this, [this] {
    filter_.category = chosen_text(category_);
    filter_.category_alone = false;
    refilter();
  });
}

// Boxes that take an amount or nothing: empty is no bound.
void BillsPage::make_amounts(QWidget* box) {
  min_ = new QLineEdit(box);
  max_ = new QLineEdit(box);
  for (QLineEdit* e : {min_, max_}) {
    auto* valid = new QDoubleValidator(0, 1e15, 7, e);
    valid->setNotation(QDoubleValidator::StandardNotation);
    valid->setLocale(QLocale::c());
    e->setValidator(valid);
    e->setMaximumWidth(e->fontMetrics().horizontalAdvance("0") * 14);
    e->setPlaceholderText("不限");
    connect(e, &QLineEdit::textChanged, this, &BillsPage::amounts_typed);
  }
  min_->setAccessibleName("最小金额");
  max_->setAccessibleName("最大金额");
}

void BillsPage::make_table() {
  table_ = new QTableView(this);
  table_->setAccessibleName("账单");
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setTabKeyNavigation(false);
  table_->setWordWrap(false);
  table_->setAlternatingRowColors(true);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 8);
  QHeaderView* header = table_->horizontalHeader();
  header->setStretchLastSection(true);
  header->setSortIndicator(BillsModel::kTime, Qt::DescendingOrder);
  table_->setSortingEnabled(true);
  const int em = table_->fontMetrics().horizontalAdvance("0");
  table_->setColumnWidth(BillsModel::kTime, 18 * em);
  table_->setColumnWidth(BillsModel::kType, 8 * em);
  table_->setColumnWidth(BillsModel::kAmount, 14 * em);
  table_->setColumnWidth(BillsModel::kChannel, 14 * em);
  table_->setColumnWidth(BillsModel::kCategory, 16 * em);
  table_->installEventFilter(this);
  connect(table_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    if (std::optional<int32_t> serial = model_->serial_at(index.row())) emit edit_asked(*serial);
  });
}

bool BillsPage::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  const int key = static_cast<QKeyEvent*>(event)->key();
  if (watched == search_) {
    if (key == Qt::Key_Escape && !search_->text().isEmpty()) {
      search_->clear();
      return true;
    }
    if (key == Qt::Key_Down) {
      table_->setFocus();
      if (!table_->currentIndex().isValid() && model_->rowCount() > 0) table_->selectRow(0);
      return true;
    }
  } else if (watched == table_) {
    const std::optional<int32_t> serial = selected_serial();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && serial) {
      emit edit_asked(*serial);
      return true;
    }
    if (key == Qt::Key_Delete && serial) {
      emit delete_asked(*serial);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void BillsPage::focus_search() {
  search_->setFocus(Qt::ShortcutFocusReason);
  search_->selectAll();
}

void BillsPage::set_now(std::optional<double> now) {
  now_ = now;
  period_chosen();
}

double BillsPage::now() const { return now_ ? *now_ : current_date_time(); }

const std::vector<uint32_t>& BillsPage::shown() const { return model_->shown(); }

std::optional<int32_t> BillsPage::selected_serial() const {
  const QModelIndexList rows = table_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return std::nullopt;
  return model_->serial_at(rows.front().row());
}

void BillsPage::take_book(const std::shared_ptr<const Book>& book) {
  if (!book) return;
  const int scroll = table_->verticalScrollBar()->value();
  book_ = book;
  fill_choices();
  // A month or year counted from "now" moves on when the calendar does.
  const auto choice = static_cast<PeriodChoice>(period_->currentData().toInt());
  if (choice != PeriodChoice::Range && choice != PeriodChoice::All)
    filter_.period = period_range(choice, now());
  refilter();
  table_->verticalScrollBar()->setValue(scroll);
}

void BillsPage::fill_choices() {
  const BookRows& rows = book_->rows;
  std::vector<uint8_t> channel(rows.texts().size()), category(rows.texts().size());
  for (const BookRow& r : rows.rows()) channel[r.channel] = category[r.category] = 1;
  std::vector<std::string> channels, categories = book_->category_names;
  std::vector<std::string> more;
  for (size_t id = 0; id < rows.texts().size(); ++id) {
    if (channel[id]) channels.push_back(rows.texts()[id]);
    if (category[id] &&
        std::find(categories.begin(), categories.end(), rows.texts()[id]) == categories.end()) {
      more.push_back(rows.texts()[id]);
    }
  }
  std::sort(channels.begin(), channels.end());
  std::sort(more.begin(), more.end());
  categories.insert(categories.end(), more.begin(), more.end());
  fill_names(channel_, std::move(channels), filter_.channel);
  fill_names(category_, std::move(categories), filter_.category);
}

void BillsPage::period_chosen() {
  const auto choice = static_cast<PeriodChoice>(period_->currentData().toInt());
  const bool range = choice == PeriodChoice::Range;
  // Turning to a range starts it at the days of the period shown until now.
  if (range && from_->isHidden()) show_days(filter_.period);
  from_->setVisible(range);
  to_->setVisible(range);
  if (range) {
    const QDate a = from_->date(), b = std::max(from_->date(), to_->date());
    filter_.period = day_range(a.year(), a.month(), a.day(), b.year(), b.month(), b.day());
  } else {
    filter_.period = period_range(choice, now());
  }
  refilter();
}

void BillsPage::show_days(const DateRange& period) {
  const QSignalBlocker a(from_), b(to_);
  const double from =
      std::isfinite(period.from) ? period.from : period_range(PeriodChoice::ThisMonth, now()).from;
  // The range ends before `to`: its last day is the one holding the moment just before it.
  const double to = std::isfinite(period.to) ? period.to - 1.0 / 86400 : now();
  from_->setDate(date_of(from));
  to_->setDate(date_of(std::max(from, to)));
}

void BillsPage::side_chosen() {
  filter_.side = static_cast<SideFilter>(side_->currentData().toInt());
  refilter();
}

void BillsPage::search_typed() {
  const std::optional<std::string> gbk = to_gbk(search_->text());
  search_unholdable_ = !gbk;
  filter_.search = gbk.value_or(std::string());
  refilter();
}

void BillsPage::amounts_typed() {
  filter_.min_amount = typed_amount(min_);
  filter_.max_amount = typed_amount(max_);
  refilter();
}

void BillsPage::refilter() {
  const std::optional<int32_t> selected = selected_serial();
  const std::vector<uint32_t> passed =
      search_unholdable_ ? std::vector<uint32_t>() : filter_rows(book_->rows, filter_);
  // Summed in record order, as the statistics and kdbtool report add: the sort never moves a bit.
  sums_ = sum_rows(book_->rows, passed);
  model_->set_rows(book_, passed);
  if (selected) select_serial(*selected);
  show_footer();
}

void BillsPage::select_serial(int32_t serial) {
  const std::optional<int> row = model_->row_of(serial);
  if (!row) return;
  table_->selectionModel()->setCurrentIndex(model_->index(*row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void BillsPage::show_footer() {
  QString text = QString("共 %1 笔  支出 %2  收入 %3  结余 %4")
                     .arg(sums_.count)
                     .arg(grouped_sum_text(sums_.expense), grouped_sum_text(sums_.income),
                          grouped_sum_text(sums_.balance()));
  if (search_unholdable_) text += "  （搜索的文字含有账本存不下的字符，没有账单含有它）";
  footer_->setText(text);
  footer_->setAccessibleDescription(text);  // a screen reader reads the sums with the name 合计
}

void BillsPage::show_filter(const BillFilter& filter) {
  filter_ = filter;
  search_unholdable_ = false;
  set_controls(filter);
  fill_choices();
  refilter();
}

void BillsPage::set_controls(const BillFilter& filter) {
  const QSignalBlocker a(search_), b(period_), c(from_), d(to_), e(side_), f(min_), g(max_);
  search_->setText(to_qstring(filter.search));
  const std::optional<PeriodChoice> choice = choice_of(filter.period, now());
  period_->setCurrentIndex(static_cast<int>(choice.value_or(PeriodChoice::Range)));
  from_->setVisible(!choice);
  to_->setVisible(!choice);
  if (!choice) show_days(filter.period);
  side_->setCurrentIndex(std::max(side_->findData(static_cast<int>(filter.side)), 0));
  const auto number = [](const std::optional<double>& v) {
    return v ? QString::fromStdString(shortest_number_text(*v)) : QString();
  };
  min_->setText(number(filter.min_amount));
  max_->setText(number(filter.max_amount));
}

}  // namespace pennacle
