// The 账单 view of the second window: a search box and filters over the ledger's bills, the bills
// they let through in one table, and the count and sums of those bills in a footer. Every change of
// a control refilters at once; a reload keeps the filter, the sort, the selected bill and the
// scroll position.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "books/book.h"
#include "books/book_filter.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTableView;

namespace pennacle {

class BillsModel;
class BookSession;

class BillsPage final : public QWidget {
  Q_OBJECT

 public:
  explicit BillsPage(BookSession& session, QWidget* parent = nullptr);
  ~BillsPage() override;

  // Puts the keyboard in the search box (Ctrl+F).
  void focus_search();
  // Sets the controls to `filter` and shows its bills (a statistics view asks for "支出 of
  // 2026-03"). A period that is none of the choices shows as a range of days.
  void show_filter(const BillFilter& filter);
  const BillFilter& filter() const { return filter_; }

  std::optional<int32_t> selected_serial() const;
  QTableView* table() { return table_; }
  // Row indexes of the book, in the order shown.
  const std::vector<uint32_t>& shown() const;
  BillSums sums() const { return sums_; }
  // The moment the periods are counted from; the clock's now when not set (tests fix it).
  void set_now(std::optional<double> now);

 signals:
  void edit_asked(int32_t serial);
  void delete_asked(int32_t serial);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* make_filters();
  void make_choices(QWidget* box);
  void make_amounts(QWidget* box);
  void make_table();
  void take_book(const std::shared_ptr<const Book>& book);
  void fill_choices();
  void period_chosen();
  // Sets the range's day boxes to the days of `period`, quietly.
  void show_days(const DateRange& period);
  void side_chosen();
  void search_typed();
  void amounts_typed();
  void refilter();
  void show_footer();
  void select_serial(int32_t serial);
  void set_controls(const BillFilter& filter);
  double now() const;

  BookSession& session_;
  std::shared_ptr<const Book> book_;
  BillFilter filter_;
  bool search_unholdable_ = false;  // the search text holds a character no bill can hold
  BillSums sums_;
  std::optional<double> now_;

  BillsModel* model_;
  QLineEdit* search_;
  QComboBox* period_;
  QDateEdit* from_;
  QDateEdit* to_;
  QComboBox* side_;
  QComboBox* channel_;
  QComboBox* category_;
  QLineEdit* min_;
  QLineEdit* max_;
  QTableView* table_;
  QLabel* footer_;
};

}  // namespace pennacle
