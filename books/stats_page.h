// The 统计 view of the second window: a year's 支出 and 收入 per month as bars, 支出 by category and
// by channel for the year or one month as pies, and the same figures as tables beside them. A click
// on a bar or a slice, or Enter on a table row, asks the 账单 view for those bills.
#pragma once

#include <QWidget>
#include <memory>

#include "books/book.h"
#include "books/book_filter.h"
#include "books/book_stats.h"

class QChart;
class QChartView;
class QComboBox;
class QTableWidget;

namespace pennacle {

class BookSession;

class StatsPage final : public QWidget {
  Q_OBJECT

 public:
  // Starts on the current year and month; keeps the chosen ones across reloads.
  explicit StatsPage(BookSession& session, QWidget* parent = nullptr);

  // The figures shown.
  const BookStats& stats() const { return stats_; }
  int year() const { return year_value_; }
  int month() const { return month_value_; }  // 0: 全年

 protected:
  void changeEvent(QEvent* event) override;

 private:
  enum class Table { Months, Categories, Channels };

  void make_layout();
  void book_loaded(std::shared_ptr<const Book> book);
  void fill_years();
  void show_stats();
  void show_charts();
  void fill_table(QTableWidget* table, const Report& report, Table kind);
  QChart* month_chart();
  QChart* pie_chart(const Report& report, Table kind);
  void theme(QChart* chart) const;
  void table_row_activated(Table kind, int row);
  void ask(const DateRange& period, SideFilter side, Table kind = Table::Months, const std::string& key = {});

  BookSession& session_;
  std::shared_ptr<const Book> book_;
  BookStats stats_;
  int year_value_ = 0;
  int month_value_ = 0;

  QComboBox* year_ = nullptr;
  QComboBox* scope_ = nullptr;
  QChartView* month_chart_ = nullptr;
  QChartView* category_chart_ = nullptr;
  QChartView* channel_chart_ = nullptr;
  QTableWidget* month_table_ = nullptr;
  QTableWidget* category_table_ = nullptr;
  QTableWidget* channel_table_ = nullptr;
};

}  // namespace pennacle
