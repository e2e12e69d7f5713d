// The bills the 账单 view shows, as a table: one Book and the indexes of its rows shown, in the
// order shown. Cells are made when the view asks for them, so a bill costs the view only its index
// (and one more in the cached order of the whole book).
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "books/book.h"

namespace pennacle {

// An amount as the view writes it: exact_amount_text with its whole part grouped by thousands
// ("1,234.50", "-1,034.50"); "nan" and "inf" as they are.
QString grouped_amount_text(double amount);
// A sum of amounts as the footer writes it: grouped as above, with the binary noise of adding
// decimals (5092.549999999998) rounded off at 1e-7, the smallest amount a bill holds.
QString grouped_sum_text(double sum);
// A date-time value as "YYYY-MM-DD HH:MM".
QString minute_text(double time);

class BillsModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column : int { kTime, kType, kAmount, kChannel, kCategory, kRemark, kColumnCount };

  explicit BillsModel(QObject* parent = nullptr);

  // A new book and the rows of it that a filter lets through (row order, as filter_rows gives
  // them). The sort holds.
  void set_rows(std::shared_ptr<const Book> book, const std::vector<uint32_t>& passed);
  const Book& book() const { return *book_; }
  const std::shared_ptr<const Book>& book_ptr() const { return book_; }
  // Row indexes of the book, in the order shown.
  const std::vector<uint32_t>& shown() const { return shown_; }
  // The serial of the bill on view row `row`, or nullopt outside the rows.
  std::optional<int32_t> serial_at(int row) const;
  // The view row of the bill `serial`, when it is shown.
  std::optional<int> row_of(int32_t serial) const;
  int sort_column() const { return column_; }
  Qt::SortOrder sort_order() const { return order_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // Sorts the shown rows on `column`; equal keys by serial in the same direction.
  void sort(int column, Qt::SortOrder order) override;

 private:
  void make_order();
  // shown_ becomes the rows of order_all_ that `passed` (any order) holds.
  void pick(const std::vector<uint32_t>& passed);
  QString cell_text(const BookRow& r, int column) const;

  std::shared_ptr<const Book> book_;
  int column_ = kTime;
  Qt::SortOrder order_ = Qt::DescendingOrder;
  // Every row of the book in the sort's order: a refilter picks from it without sorting again.
  std::vector<uint32_t> order_all_;
  std::vector<uint32_t> shown_;
};

}  // namespace pennacle
