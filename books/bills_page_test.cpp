// The 账单 view on a real ledger in a directory of its own, loaded through a real session on the
// store's thread: typed searches, each filter and all of them, the footer, header clicks, a reload
// under a selection, and the keys that ask for an edit or a delete.
#include "books/bills_page.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <limits>

#include "books/bills_model.h"
#include "books/book_session.h"
#include "books/book_stats.h"
#include "books/books_test_support.h"
#include "ledger/bill.h"
#include "ledger/categories.h"
#include "platform/file.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

Bill bill(bool expense, double amount, const char* channel, double time, const char* remark) {
  Bill b;
  b.type = std::string(expense ? expense_type() : income_type());
  b.amount = amount;
  b.channel = gbk(channel);
  b.time = time;
  b.remark = gbk(remark);
  return b;
}

class BillsPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ensure_application(); }
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    path_ = dir_.file("data.kdb");
    ASSERT_EQ(create_database(path_, bill_table_fields()), DbCode::Ok);
  }
  void TearDown() override {
    page_.reset();
    session_.reset();
  }
  // Appends `bills` to the ledger while the store's thread rests; their serials.
  std::vector<int32_t> append(std::vector<Bill> bills) {
    std::vector<int32_t> serials;
    EXPECT_TRUE(open_record_file(path_, false).ok());
    EXPECT_EQ(append_bills(bills, &serials), DbCode::Ok);
    call_command(db_close, {});
    for (size_t i = 0; i < serials.size(); ++i) bills[i].serial = serials[i];
    seeded_.insert(seeded_.end(), bills.begin(), bills.end());
    return serials;
  }
  void categorize(const Bill& b, const char* name) {
    CategoryFile file;
    ASSERT_TRUE(file.open(posix_file_system(), categories_path(path_), true).ok());
    ASSERT_TRUE(file.update({{category_key(b.serial, b), gbk(name), true}}, nullptr).ok());
  }
  void open_page(double now) {
    session_ = std::make_unique<BookSession>(path_);
    page_ = std::make_unique<BillsPage>(*session_);
    page_->set_now(now);
    page_->resize(1000, 600);
    load();
  }
  void load() {
    int loads = 0;
    QObject::connect(session_.get(), &BookSession::loaded, page_.get(), [&loads] { ++loads; });
    session_->reload();
    ASSERT_TRUE(QTest::qWaitFor([&] { return loads > 0; }, 10000));
  }
  // The serials of the rows the table shows, top to bottom, read through the table's own model.
  std::vector<int32_t> rows_shown() {
    QAbstractItemModel* m = page_->table()->model();
    std::vector<int32_t> out;
    const auto* model = static_cast<BillsModel*>(m);
    for (int r = 0; r < m->rowCount(); ++r) out.push_back(model->serial_at(r).value_or(-1));
    return out;
  }
  // The serials of the seeded bills that meet `keep`, in the default order: newest first.
  template <class Keep>
  std::vector<int32_t> expected(Keep keep) {
    std::vector<Bill> b;
    std::copy_if(seeded_.begin(), seeded_.end(), std::back_inserter(b), keep);
    std::stable_sort(b.begin(), b.end(), [](const Bill& x, const Bill& y) {
      return x.time != y.time ? x.time > y.time : x.serial > y.serial;
    });
    std::vector<int32_t> out;
    for (const Bill& x : b) out.push_back(x.serial);
    return out;
  }
  std::vector<int32_t> sorted(std::vector<int32_t> v) {
    std::sort(v.begin(), v.end());
    return v;
  }
  void choose(QComboBox* box, const char* text) {
    const int i = box->findText(QString::fromUtf8(text));
    ASSERT_GE(i, 0) << text;
    box->setCurrentIndex(i);
  }

  TempDir dir_;
  std::string path_;
  std::vector<Bill> seeded_;
  std::unique_ptr<BookSession> session_;
  std::unique_ptr<BillsPage> page_;
};

const double kNow = make_date_time(2026, 1, 15, 10, 0);

// A few hundred bills from 2025-01-01 to 2026-05, on four channels, with remarks that repeat.
std::vector<Bill> many_bills() {
  const char* channels[] = {"支付宝", "微信", "招商银行", "现金"};
  const char* remarks[] = {"Luckin Coffee 拿铁", "打车 DiDi", "團購", "工资", "超市"};
  std::vector<Bill> bills;
  for (int i = 0; i < 300; ++i) {
    bills.push_back(bill(i % 5 != 3, 1 + (i * 37 % 5000) / 10.0, channels[i % 4],
                         make_date_time(2025, 1, 1) + i * 1.7, remarks[i % 5]));
  }
  return bills;
}

class BillsPageWithMany : public BillsPageTest {
 protected:
  void SetUp() override {
    BillsPageTest::SetUp();
    append(many_bills());
  }
};

TEST_F(BillsPageWithMany, ShowsEveryBillNewestFirstWithNamedControls) {
  open_page(kNow);
  EXPECT_EQ(rows_shown(), expected([](const Bill&) { return true; }));
  EXPECT_EQ(page_->table()->accessibleName(), "账单");
  for (const char* name : {"搜索", "期间", "类型", "付款方式", "分类", "最小金额", "最大金额", "合计"}) {
    EXPECT_NE(named<QWidget>(page_.get(), name), nullptr);
  }
  EXPECT_FALSE(named<QLineEdit>(page_.get(), "搜索")->placeholderText().isEmpty());
  // The time as minutes and the amount with two decimals, right-aligned.
  const QAbstractItemModel* m = page_->table()->model();
  const Bill& newest = *std::find_if(seeded_.begin(), seeded_.end(),
                                     [&](const Bill& b) { return b.serial == rows_shown().front(); });
  const DateTimeParts p = date_time_parts(newest.time);
  EXPECT_EQ(m->index(0, BillsModel::kTime).data().toString(),
            QString::asprintf("%04d-%02d-%02d %02d:%02d", p.year, p.month, p.day, p.hour, p.minute));
  EXPECT_TRUE(m->index(0, BillsModel::kAmount).data().toString().contains('.'));
  EXPECT_EQ(
      m->index(0, BillsModel::kAmount).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
      Qt::AlignRight);
}

TEST_F(BillsPageWithMany, SearchRefiltersPerKeystrokeAndEscapeClears) {
  open_page(kNow);
  QLineEdit* search = named<QLineEdit>(page_.get(), "搜索");
  page_->focus_search();
  QTest::keyClicks(search, "COF");
  EXPECT_EQ(rows_shown(), expected([](const Bill& b) { return b.remark == gbk("Luckin Coffee 拿铁"); }));
  QTest::keyClick(search, Qt::Key_Backspace);
  QTest::keyClick(search, Qt::Key_Backspace);
  QTest::keyClick(search, Qt::Key_Backspace);
  QTest::keyClicks(search, "f");  // F is the trail byte of 團: no 團購 bill, only Coffee
  EXPECT_EQ(rows_shown(), expected([](const Bill& b) { return b.remark == gbk("Luckin Coffee 拿铁"); }));
  search->setText("招商");  // the channel
  EXPECT_EQ(rows_shown(), expected([](const Bill& b) { return b.channel == gbk("招商银行"); }));
  QTest::keyClick(search, Qt::Key_Escape);
  EXPECT_TRUE(search->text().isEmpty());
  EXPECT_EQ(rows_shown().size(), seeded_.size());
  // A character no GBK text holds finds nothing, and the footer says why.
  search->setText(QString::fromUtf8("\U0001F600"));
  EXPECT_TRUE(rows_shown().empty());
  EXPECT_TRUE(named<QLabel>(page_.get(), "合计")->text().contains("存不下"));
}

TEST_F(BillsPageWithMany, EachFilterAndAllTogether) {
  categorize(seeded_[0], "餐饮:午餐");
  categorize(seeded_[5], "餐饮");
  categorize(seeded_[10], "餐饮费");
  open_page(kNow);
  choose(named<QComboBox>(page_.get(), "类型"), "收入");
  EXPECT_EQ(rows_shown(), expected([](const Bill& b) { return !b.is_expense(); }));
  choose(named<QComboBox>(page_.get(), "类型"), "全部");
  choose(named<QComboBox>(page_.get(), "付款方式"), "微信");
  EXPECT_EQ(rows_shown(), expected([](const Bill& b) { return b.channel == gbk("微信"); }));
  choose(named<QComboBox>(page_.get(), "付款方式"), "全部");
  choose(named<QComboBox>(page_.get(), "分类"), "餐饮");
  EXPECT_EQ(sorted(rows_shown()), sorted({seeded_[0].serial, seeded_[5].serial}));
  choose(named<QComboBox>(page_.get(), "分类"), "全部");
  named<QLineEdit>(page_.get(), "最小金额")->setText("100");
  named<QLineEdit>(page_.get(), "最大金额")->setText("200.5");
  EXPECT_EQ(rows_shown(), expected([](const Bill& b) { return b.amount >= 100 && b.amount <= 200.5; }));
  // All at once.
  choose(named<QComboBox>(page_.get(), "类型"), "支出");
  choose(named<QComboBox>(page_.get(), "付款方式"), "支付宝");
  named<QLineEdit>(page_.get(), "搜索")->setText("didi");
  const auto all = [](const Bill& b) {
    return b.is_expense() && b.channel == gbk("支付宝") && b.amount >= 100 && b.amount <= 200.5 &&
           b.remark == gbk("打车 DiDi");
  };
  EXPECT_EQ(rows_shown(), expected(all));
  ASSERT_FALSE(rows_shown().empty());  // the seed has such bills: the test tests something
  // An emptied amount box lifts its bound.
  named<QLineEdit>(page_.get(), "最大金额")->clear();
  EXPECT_EQ(rows_shown(), expected([](const Bill& b) {
              return b.is_expense() && b.channel == gbk("支付宝") && b.amount >= 100 &&
                     b.remark == gbk("打车 DiDi");
            }));
}

TEST_F(BillsPageTest, PeriodChoicesAroundAMonthAndYearBoundary) {
  append({bill(true, 1, "现金", make_date_time(2024, 12, 31, 23, 59), "a"),
          bill(true, 2, "现金", make_date_time(2025, 1, 1), "b"),
          bill(true, 3, "现金", make_date_time(2025, 12, 1), "c"),
          bill(true, 4, "现金", make_date_time(2025, 12, 31, 23, 59), "d"),
          bill(true, 5, "现金", make_date_time(2026, 1, 1), "e"),
          bill(true, 6, "现金", make_date_time(2026, 1, 31, 23, 59), "f"),
          bill(true, 7, "现金", make_date_time(2026, 2, 1), "g")});
  open_page(kNow);  // 2026-01-15
  QComboBox* period = named<QComboBox>(page_.get(), "期间");
  const auto within = [&](double from, double to) {
    return expected([=](const Bill& b) { return b.time >= from && b.time < to; });
  };
  choose(period, "本月");
  EXPECT_EQ(rows_shown(), within(make_date_time(2026, 1, 1), make_date_time(2026, 2, 1)));
  EXPECT_EQ(rows_shown().size(), 2u);
  choose(period, "上月");  // January's last month is last year's December
  EXPECT_EQ(rows_shown(), within(make_date_time(2025, 12, 1), make_date_time(2026, 1, 1)));
  EXPECT_EQ(rows_shown().size(), 2u);
  choose(period, "今年");
  EXPECT_EQ(rows_shown(), within(make_date_time(2026, 1, 1), make_date_time(2027, 1, 1)));
  choose(period, "去年");
  EXPECT_EQ(rows_shown(), within(make_date_time(2025, 1, 1), make_date_time(2026, 1, 1)));
  EXPECT_EQ(rows_shown().size(), 3u);
  choose(period, "全部");
  EXPECT_EQ(rows_shown().size(), 7u);
  // A range starts at the days of the period chosen before it.
  choose(period, "上月");
  const std::vector<int32_t> december = rows_shown();
  choose(period, "范围…");
  QDateEdit* from = named<QDateEdit>(page_.get(), "开始日期");
  QDateEdit* to = named<QDateEdit>(page_.get(), "结束日期");
  EXPECT_TRUE(from->isVisibleTo(page_.get()));
  EXPECT_EQ(from->date(), QDate(2025, 12, 1));
  EXPECT_EQ(to->date(), QDate(2025, 12, 31));
  EXPECT_EQ(rows_shown(), december);
  from->setDate(QDate(2025, 12, 31));
  to->setDate(QDate(2026, 1, 31));  // the last day is whole
  EXPECT_EQ(rows_shown(), within(make_date_time(2025, 12, 31), make_date_time(2026, 2, 1)));
  EXPECT_EQ(rows_shown().size(), 3u);
  // Another "now": 本月 follows it.
  choose(period, "本月");
  page_->set_now(make_date_time(2026, 2, 3));
  EXPECT_EQ(rows_shown(), within(make_date_time(2026, 2, 1), make_date_time(2026, 3, 1)));
}

TEST_F(BillsPageTest, FooterSumsTheRowsShownAndCountsANonFiniteAmount) {
  const double t = make_date_time(2026, 1, 10);
  append({bill(true, 1234.5, "微信", t, "房租"), bill(true, 0.25, "微信", t, "糖"),
          bill(false, 200, "支付宝", t, "红包"),
          bill(true, std::numeric_limits<double>::quiet_NaN(), "微信", t, "坏"),
          bill(false, 1000000, "招商银行", t, "奖金"), bill(true, 0.1, "零钱", t, "a"),
          bill(true, 0.2, "零钱", t, "b")});
  open_page(kNow);
  // Bills of one moment: the later one first.
  EXPECT_EQ(rows_shown(), expected([](const Bill&) { return true; }));
  // 0.1 + 0.2 is 0.30000000000000004 in binary: the footer shows the sum a person adds up.
  choose(named<QComboBox>(page_.get(), "付款方式"), "零钱");
  EXPECT_EQ(named<QLabel>(page_.get(), "合计")->text(), "共 2 笔  支出 0.30  收入 0.00  结余 -0.30");
  choose(named<QComboBox>(page_.get(), "付款方式"), "全部");
  named<QLineEdit>(page_.get(), "最小金额")->setText("0.25");
  named<QLineEdit>(page_.get(), "最大金额")->setText("5000");  // the NaN bill meets no range: out, with 奖金
  EXPECT_EQ(named<QLabel>(page_.get(), "合计")->text(),
            "共 3 笔  支出 1,234.75  收入 200.00  结余 -1,034.75");
  named<QLineEdit>(page_.get(), "最小金额")->clear();
  named<QLineEdit>(page_.get(), "最大金额")->clear();
  EXPECT_EQ(page_->sums().count, 7);  // the NaN bill counts, outside the sums
  EXPECT_EQ(named<QLabel>(page_.get(), "合计")->text(),
            "共 7 笔  支出 1,235.05  收入 1,000,200.00  结余 998,964.95");
  EXPECT_EQ(page_->table()->model()->rowCount(), 7);
}

// Binary sums depend on the order they are added in: (0.1 + 0.2) + 0.3 is not 0.3 + 0.2 + 0.1. The
// footer adds in record order, as the statistics of the same bills do, whichever way the table sorts.
TEST_F(BillsPageTest, FooterSumsAgreeWithTheStatisticsUnderEverySort) {
  const double t = make_date_time(2026, 1, 10);
  append({bill(true, 0.1, "微信", t, "a"), bill(true, 0.2, "微信", t + 0.1, "b"),
          bill(true, 0.3, "微信", t + 0.2, "c"), bill(false, 0.7, "微信", t + 0.3, "d"),
          bill(false, 0.1, "微信", t + 0.4, "e"), bill(false, 0.2, "微信", t + 0.5, "f")});
  open_page(kNow);
  const BookStats stats = book_stats(session_->book()->rows, 2026, 0);
  ASSERT_EQ(stats.by_month.total.count, 6);
  QHeaderView* header = page_->table()->horizontalHeader();
  for (int column : {BillsModel::kTime, BillsModel::kAmount, BillsModel::kRemark}) {
    for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
      header->setSortIndicator(column, order);
      named<QLineEdit>(page_.get(), "搜索")->setText("x");  // a refilter under this sort
      named<QLineEdit>(page_.get(), "搜索")->clear();
      SCOPED_TRACE(::testing::Message() << "column " << column << " order " << order);
      EXPECT_EQ(page_->sums().count, 6);
      EXPECT_EQ(page_->sums().expense, stats.by_month.total.expense);
      EXPECT_EQ(page_->sums().income, stats.by_month.total.income);
    }
  }
}

TEST_F(BillsPageWithMany, HeaderClicksSortBothWaysAndBack) {
  open_page(kNow);
  QHeaderView* header = page_->table()->horizontalHeader();
  const auto click = [&](int column) {
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
  };
  const auto amounts = [&] {
    std::vector<double> a;
    for (int32_t s : rows_shown()) {
      a.push_back(
          std::find_if(seeded_.begin(), seeded_.end(), [&](const Bill& b) { return b.serial == s; })->amount);
    }
    return a;
  };
  page_->show();
  click(BillsModel::kAmount);
  std::vector<double> a = amounts();
  EXPECT_TRUE(std::is_sorted(a.begin(), a.end()));
  EXPECT_NE(a.front(), a.back());
  click(BillsModel::kAmount);
  a = amounts();
  EXPECT_TRUE(std::is_sorted(a.rbegin(), a.rend()));
  click(BillsModel::kChannel);
  const QAbstractItemModel* m = page_->table()->model();
  std::string last;
  for (int r = 0; r < m->rowCount(); ++r) {  // channels by their GBK bytes
    const std::string c = gbk(m->index(r, BillsModel::kChannel).data().toString().toStdString());
    EXPECT_LE(last, c);
    last = c;
  }
  click(BillsModel::kTime);  // the first click on another column sorts it ascending
  click(BillsModel::kTime);
  EXPECT_EQ(rows_shown(), expected([](const Bill&) { return true; }));
}

TEST_F(BillsPageWithMany, AReloadKeepsFilterSortSelectionAndScroll) {
  open_page(kNow);
  page_->show();
  choose(named<QComboBox>(page_.get(), "类型"), "支出");
  QTableView* table = page_->table();
  table->selectRow(100);
  const std::optional<int32_t> chosen = page_->selected_serial();
  ASSERT_TRUE(chosen);
  table->verticalScrollBar()->setValue(table->verticalScrollBar()->maximum() / 2);
  const int scroll = table->verticalScrollBar()->value();
  ASSERT_GT(scroll, 0);
  // One newer expense and one income come in from outside, then the ledger is read again.
  const double later = make_date_time(2027, 1, 1);
  append({bill(true, 9, "现金", later, "新"), bill(false, 9, "现金", later, "新")});
  load();
  EXPECT_EQ(page_->selected_serial(), chosen);
  EXPECT_EQ(rows_shown(), expected([](const Bill& b) { return b.is_expense(); }));
  EXPECT_EQ(rows_shown()[101], *chosen);  // one row further down, under the new bill
  EXPECT_EQ(table->verticalScrollBar()->value(), scroll);
  EXPECT_EQ(named<QComboBox>(page_.get(), "类型")->currentText(), "支出");
}

TEST_F(BillsPageWithMany, EnterDoubleClickAndDeleteAskForTheSelectedBill) {
  open_page(kNow);
  page_->show();
  std::vector<int32_t> edits, deletes;
  QObject::connect(page_.get(), &BillsPage::edit_asked, [&](int32_t s) { edits.push_back(s); });
  QObject::connect(page_.get(), &BillsPage::delete_asked, [&](int32_t s) { deletes.push_back(s); });
  QTableView* table = page_->table();
  // From the search box, Down goes to the table's first row.
  page_->focus_search();
  QTest::keyClick(named<QLineEdit>(page_.get(), "搜索"), Qt::Key_Down);
  QTest::keyClick(table, Qt::Key_Down);
  QTest::keyClick(table, Qt::Key_Return);
  QTest::keyClick(table, Qt::Key_Delete);
  const int32_t second = rows_shown()[1];
  EXPECT_EQ(edits, std::vector<int32_t>({second}));
  EXPECT_EQ(deletes, std::vector<int32_t>({second}));
  const QRect cell = table->visualRect(table->model()->index(4, BillsModel::kRemark));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(edits.back(), rows_shown()[4]);
}

TEST_F(BillsPageWithMany, AskedFilterSetsTheControls) {
  categorize(seeded_[40], "餐饮:午餐");  // a March 2025 expense
  open_page(make_date_time(2025, 4, 2));
  BillFilter f;
  f.period = {make_date_time(2025, 3, 1), make_date_time(2025, 4, 1)};  // 上月
  f.side = SideFilter::Expense;
  f.category = gbk("餐饮");
  emit session_->bills_asked(f);
  EXPECT_EQ(page_->filter().period.from, f.period.from);
  EXPECT_EQ(page_->filter().period.to, f.period.to);
  EXPECT_EQ(page_->filter().category, f.category);
  EXPECT_EQ(named<QComboBox>(page_.get(), "期间")->currentText(), "上月");
  EXPECT_EQ(named<QComboBox>(page_.get(), "类型")->currentText(), "支出");
  EXPECT_EQ(named<QComboBox>(page_.get(), "分类")->currentText(), "餐饮");
  EXPECT_EQ(rows_shown(), expected([&](const Bill& b) {
              return b.serial == seeded_[40].serial && f.period.contains(b.time);
            }));
  // A period that is no choice shows as its days.
  f.period = {make_date_time(2025, 2, 3), make_date_time(2025, 2, 10)};
  f.category.reset();
  page_->show_filter(f);
  EXPECT_EQ(named<QComboBox>(page_.get(), "期间")->currentText(), "范围…");
  EXPECT_EQ(named<QDateEdit>(page_.get(), "开始日期")->date(), QDate(2025, 2, 3));
  EXPECT_EQ(named<QDateEdit>(page_.get(), "结束日期")->date(), QDate(2025, 2, 9));
  EXPECT_EQ(rows_shown(),
            expected([&](const Bill& b) { return b.is_expense() && f.period.contains(b.time); }));
}

TEST_F(BillsPageWithMany, EachFilterHasAKeyboardPath) {
  open_page(kNow);
  page_->show();
  QApplication::setActiveWindow(page_.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(page_.get()));
  const std::pair<Qt::Key, const char*> paths[] = {
      {Qt::Key_S, "搜索"}, {Qt::Key_P, "期间"},     {Qt::Key_T, "类型"},     {Qt::Key_M, "付款方式"},
      {Qt::Key_C, "分类"}, {Qt::Key_N, "最小金额"}, {Qt::Key_X, "最大金额"},
  };
  for (const auto& [key, name] : paths) {
    QTest::keyClick(page_.get(), key, Qt::AltModifier);
    ASSERT_NE(QApplication::focusWidget(), nullptr) << name;
    EXPECT_EQ(QApplication::focusWidget()->accessibleName(), QString::fromUtf8(name));
  }
  page_->focus_search();
  EXPECT_EQ(QApplication::focusWidget(), named<QLineEdit>(page_.get(), "搜索"));
  // Tab walks the top line first, then the filters below it, and ends in the table.
  std::vector<QString> walked;
  for (int i = 0; i < 7; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    walked.push_back(QApplication::focusWidget()->accessibleName());
  }
  EXPECT_EQ(walked,
            std::vector<QString>({"最小金额", "最大金额", "期间", "类型", "付款方式", "分类", "账单"}));
}

// A page of thirty bills drawn to a PNG for a person to look at; the test checks only that it drew.
TEST_F(BillsPageTest, DrawsAScreenshotOfThirtyBills) {
  const char* remarks[] = {"美团外卖 黄焖鸡米饭", "滴滴出行 快车", "工资",
                           "盒马鲜生 水果",       "中国移动 话费", "房租"};
  const char* channels[] = {"支付宝", "微信", "招商银行", "支付宝花呗"};
  std::vector<Bill> bills;
  for (int i = 0; i < 30; ++i) {
    bills.push_back(bill(i % 6 != 2, i % 6 == 2 ? 12000 : (850 + i * 1337) / 100.0, channels[i % 4],
                         make_date_time(2026, 1, 1 + i % 28, 8 + i % 12, i * 7 % 60), remarks[i % 6]));
  }
  append(bills);
  categorize(seeded_[0], "餐饮:外卖");
  categorize(seeded_[6], "餐饮:外卖");
  categorize(seeded_[1], "交通:打车");
  categorize(seeded_[2], "工资");
  open_page(kNow);
  page_->show();
  const QImage shot = page_->grab().toImage();
  ASSERT_FALSE(shot.isNull());
  EXPECT_TRUE(shot.save(QString(SCREENSHOT_DIR) + "/bills_page.png"));
  // With a range of days and a search: the line of filters is at its widest.
  choose(named<QComboBox>(page_.get(), "期间"), "范围…");
  named<QDateEdit>(page_.get(), "开始日期")->setDate(QDate(2026, 1, 1));
  named<QLineEdit>(page_.get(), "搜索")->setText("美团");
  named<QLineEdit>(page_.get(), "最小金额")->setText("10");
  EXPECT_FALSE(page_->shown().empty());
  QApplication::processEvents();  // the table's scroll bars follow its rows
  EXPECT_TRUE(page_->grab().save(QString(SCREENSHOT_DIR) + "/bills_page_range.png"));
}

}  // namespace
}  // namespace pennacle
