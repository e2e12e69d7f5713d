#include "books/stats_page.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChartView>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>

#include "books/book_session.h"
#include "books/books_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

QString cell(QTableWidget* table, int row, int column) {
  const QTableWidgetItem* item = table->item(row, column);
  return item ? item->text() : QString();
}

QString money(double d) { return QString::fromStdString(money_text(d)); }

// A filter as the test reads it; BillFilter's own == needs a DateRange that compares.
std::string described(const BillFilter& f) {
  char period[64];
  std::snprintf(period, sizeof period, "%.17g..%.17g", f.period.from, f.period.to);
  return std::string(period) + " side=" + std::to_string(static_cast<int>(f.side)) +
         " channel=" + f.channel.value_or("(any)") + " category=" + f.category.value_or("(any)") +
         " min=" + (f.min_amount ? "set" : "") + " max=" + (f.max_amount ? "set" : "") +
         " search=" + f.search;
}

class StatsPageTest : public StoreTest {
 protected:
  static void SetUpTestSuite() { ensure_application(); }

  void SetUp() override {
    StoreTest::SetUp();
    path_ = ledger("data.kdb", bill_table_fields());
    fill_stats_ledger(path_, stats_bills());
    session_ = std::make_unique<BookSession>(path_);
    page_ = std::make_unique<StatsPage>(*session_);
    page_->resize(1000, 560);  // the room the window of 1000 x 680 leaves its views
    connect_counters();
    reload();
  }

  void TearDown() override {
    page_.reset();
    session_.reset();  // its store thread ends before the fixture closes what is left open
    StoreTest::TearDown();
  }

  void connect_counters() {
    QObject::connect(session_.get(), &BookSession::loaded, page_.get(), [this] { ++loads_; });
    QObject::connect(session_.get(), &BookSession::bills_asked, page_.get(),
                     [this](const BillFilter& f) { asked_.push_back(f); });
  }

  void reload() {
    const int before = loads_;
    session_->reload();
    ASSERT_TRUE(QTest::qWaitFor([&] { return loads_ > before; }, 20000));
  }

  void choose(int year, int month) {
    QComboBox* years = named<QComboBox>(page_.get(), "年份");
    QComboBox* months = named<QComboBox>(page_.get(), "月份");
    ASSERT_TRUE(years && months);
    const int y = years->findData(year);
    ASSERT_GE(y, 0) << year;
    years->setCurrentIndex(y);
    months->setCurrentIndex(month);
  }

  // What the page should show, from the rows the session loaded.
  BookStats expected(int year, int month) const { return book_stats(session_->book()->rows, year, month); }

  BillFilter filter(const DateRange& period, SideFilter side) const {
    BillFilter f;
    f.period = period;
    f.side = side;
    return f;
  }

  std::string path_;
  std::unique_ptr<BookSession> session_;
  std::unique_ptr<StatsPage> page_;
  int loads_ = 0;
  std::vector<BillFilter> asked_;
};

TEST_F(StatsPageTest, StartsOnTheCurrentYearAndMonthAndOffersTheYearsOfTheBills) {
  const QDate today = QDate::currentDate();
  EXPECT_EQ(page_->year(), today.year());
  EXPECT_EQ(page_->month(), today.month());
  QComboBox* years = named<QComboBox>(page_.get(), "年份");
  ASSERT_TRUE(years);
  EXPECT_GE(years->findData(2023), 0);
  EXPECT_GE(years->findData(2024), 0);
  EXPECT_GE(years->findData(today.year()), 0);
  EXPECT_EQ(years->currentData().toInt(), today.year());
  EXPECT_EQ(named<QComboBox>(page_.get(), "月份")->currentIndex(), today.month());
}

TEST_F(StatsPageTest, TablesAndBarsShowTheChosenYear) {
  for (int year : {2024, 2023}) {
    choose(year, 0);
    const BookStats want = expected(year, 0);
    QTableWidget* months = named<QTableWidget>(page_.get(), "每月收支表");
    ASSERT_TRUE(months);
    ASSERT_EQ(months->rowCount(), 13);
    for (int m = 0; m < 12; ++m) {
      const ReportRow& r = want.by_month.rows[m];
      EXPECT_EQ(cell(months, m, 0), QString("%1月").arg(m + 1));
      EXPECT_EQ(cell(months, m, 1), money(r.expense)) << year << " " << m;
      EXPECT_EQ(cell(months, m, 2), money(r.income));
      EXPECT_EQ(cell(months, m, 3), money(r.balance()));
      EXPECT_EQ(cell(months, m, 4), QString::number(r.count));
    }
    EXPECT_EQ(cell(months, 12, 0), "合计");
    EXPECT_EQ(cell(months, 12, 4), QString::number(want.by_month.total.count));
    QChartView* bars = named<QChartView>(page_.get(), "每月收支");
    ASSERT_TRUE(bars);
    EXPECT_TRUE(bars->chart()->title().startsWith(QString::number(year)));
    auto* series = qobject_cast<QBarSeries*>(bars->chart()->series().value(0));
    ASSERT_TRUE(series);
    ASSERT_EQ(series->barSets().size(), 2);
    for (int m = 0; m < 12; ++m) {
      EXPECT_EQ(series->barSets()[0]->at(m), want.by_month.rows[m].expense);
      EXPECT_EQ(series->barSets()[1]->at(m), want.by_month.rows[m].income);
    }
  }
}

TEST_F(StatsPageTest, ABarAsksForItsMonthAndSide) {
  choose(2024, 0);
  auto* series =
      qobject_cast<QBarSeries*>(named<QChartView>(page_.get(), "每月收支")->chart()->series().value(0));
  ASSERT_TRUE(series);
  emit series->barSets()[0]->clicked(2);
  emit series->barSets()[1]->clicked(11);
  ASSERT_EQ(asked_.size(), 2u);
  EXPECT_EQ(described(asked_[0]), described(filter(month_range(2024, 3), SideFilter::Expense)));
  EXPECT_EQ(described(asked_[1]), described(filter(month_range(2024, 12), SideFilter::Income)));
}

TEST_F(StatsPageTest, ASliceAsksForItsCategoryOrChannelInTheScope) {
  for (int month : {3, 0}) {
    choose(2023, month);
    asked_.clear();
    const BookStats want = expected(2023, month);
    const std::pair<const char*, const Report*> pies[] = {{"支出分类", &want.by_category},
                                                          {"支出渠道", &want.by_channel}};
    for (auto [name, report] : pies) {
      auto* pie = qobject_cast<QPieSeries*>(named<QChartView>(page_.get(), name)->chart()->series().value(0));
      ASSERT_TRUE(pie) << name;
      std::vector<const ReportRow*> spent;
      for (const ReportRow& r : report->rows) {
        if (r.expense > 0) spent.push_back(&r);
      }
      ASSERT_EQ(pie->slices().size(), static_cast<qsizetype>(spent.size())) << name;
      ASSERT_GE(spent.size(), 2u) << name;
      EXPECT_EQ(pie->slices()[1]->value(), spent[1]->expense);
      emit pie->slices()[1]->hovered(true);
      EXPECT_TRUE(pie->slices()[1]->isExploded()) << name;
      emit pie->slices()[1]->hovered(false);
      EXPECT_FALSE(pie->slices()[1]->isExploded()) << name;
      emit pie->slices()[1]->clicked();
      ASSERT_FALSE(asked_.empty());
      BillFilter want_filter = filter(month_range(2023, month), SideFilter::Expense);
      (name == std::string("支出分类") ? want_filter.category : want_filter.channel) = spent[1]->key;
      EXPECT_EQ(described(asked_.back()), described(want_filter)) << name << " " << month;
    }
  }
}

TEST_F(StatsPageTest, EnterOnATableRowAsksForItsBills) {
  page_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(page_.get()));
  choose(2024, 5);
  QComboBox* months_box = named<QComboBox>(page_.get(), "月份");
  months_box->setFocus();
  QTest::keyClick(months_box, Qt::Key_Tab);  // the keyboard's way from the choice to the figures
  QTableWidget* months = named<QTableWidget>(page_.get(), "每月收支表");
  ASSERT_EQ(QApplication::focusWidget(), months);
  months->setCurrentCell(4, 0);
  QTest::keyClick(months, Qt::Key_Return);
  months->setCurrentCell(12, 0);
  QTest::keyClick(months, Qt::Key_Enter);
  QTableWidget* categories = named<QTableWidget>(page_.get(), "分类收支表");
  categories->setFocus();
  categories->setCurrentCell(0, 0);
  QTest::keyClick(categories, Qt::Key_Return);
  named<QTabWidget>(page_.get(), "支出去向")->setCurrentIndex(1);
  QTableWidget* channels = named<QTableWidget>(page_.get(), "渠道收支表");
  ASSERT_TRUE(channels->isVisible());
  channels->setCurrentCell(channels->rowCount() - 1, 0);
  QTest::keyClick(channels, Qt::Key_Return);

  ASSERT_EQ(asked_.size(), 4u);
  EXPECT_EQ(described(asked_[0]), described(filter(month_range(2024, 5), SideFilter::Any)));
  EXPECT_EQ(described(asked_[1]), described(filter(year_range(2024), SideFilter::Any)));
  BillFilter category = filter(month_range(2024, 5), SideFilter::Any);
  category.category = expected(2024, 5).by_category.rows.at(0).key;
  EXPECT_EQ(described(asked_[2]), described(category));
  EXPECT_EQ(described(asked_[3]),
            described(filter(month_range(2024, 5), SideFilter::Any)));  // 合计 of the chosen month
}

TEST_F(StatsPageTest, AReloadKeepsTheChosenYearAndMonthAndShowsTheNewBill) {
  choose(2023, 7);
  const int before = expected(2023, 7).by_category.total.count;
  Bill added{0, std::string(expense_type()), 0.2, gbk("现金"), make_date_time(2023, 7, 20, 10), "new"};
  bool done = false;
  session_->store().run<DbCode>(
      page_.get(),
      [path = path_, added] {
        if (!open_record_file(path, false).ok()) return DbCode::NotFound;
        std::vector<int32_t> serials;
        const DbCode rc = append_bills({added}, &serials);
        call_command(db_close, {});
        return rc;
      },
      [&](DbCode rc) {
        EXPECT_EQ(rc, DbCode::Ok);
        done = true;
      });
  ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 20000));
  reload();
  EXPECT_EQ(page_->year(), 2023);
  EXPECT_EQ(page_->month(), 7);
  EXPECT_EQ(named<QComboBox>(page_.get(), "年份")->currentData().toInt(), 2023);
  EXPECT_EQ(named<QComboBox>(page_.get(), "月份")->currentIndex(), 7);
  EXPECT_EQ(page_->stats().by_category.total.count, before + 1);
  QTableWidget* months = named<QTableWidget>(page_.get(), "每月收支表");
  EXPECT_EQ(cell(months, 6, 4), QString::number(expected(2023, 0).by_month.rows[6].count));
}

TEST_F(StatsPageTest, ChartsFollowThePaletteLightOrDark) {
  choose(2024, 3);
  page_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(page_.get()));
  const QPalette light = page_->palette();
  const QPalette dark = dark_palette();
  const std::pair<const char*, QPalette> looks[] = {{"stats_page.png", light}, {"stats_page_dark.png", dark}};
  for (const auto& [file, palette] : looks) {
    page_->setPalette(palette);
    QApplication::processEvents();
    const bool is_dark = palette.color(QPalette::Window).lightness() < 128;
    for (const char* name : {"每月收支", "支出分类", "支出渠道"}) {
      QChart* chart = named<QChartView>(page_.get(), name)->chart();
      EXPECT_EQ(chart->theme(), is_dark ? QChart::ChartThemeDark : QChart::ChartThemeLight) << name;
      EXPECT_EQ(chart->backgroundBrush().color(), palette.color(QPalette::Window)) << name;
    }
    const QString shot = QString(SCREENSHOT_DIR) + "/" + file;
    EXPECT_TRUE(page_->grab().save(shot)) << shot.toStdString();
  }
}

}  // namespace
}  // namespace pennacle
