// The dialog that fixes one bill: 类型, 金额, 付款方式, 时间, 备注 and 分类, under the rules of the
// ledger window's entry. A refusal shows the entry's words and keeps the dialog open; what it
// accepts is only what differs from the bill.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <optional>
#include <string>

#include "books/book.h"
#include "ledger/bill_changes.h"
#include "ledger/bill_edit.h"

class QComboBox;
class QDateTimeEdit;
class QLineEdit;

namespace pennacle {

class BillDialog final : public QDialog {
  Q_OBJECT

 public:
  // The bill of `row` in `book`; the book is read only while the dialog is made.
  BillDialog(const Book& book, size_t row, QWidget* parent = nullptr);

  int32_t serial() const { return bill_.serial; }
  // After accept: the parts that changed (empty when none did), and the category when it changed.
  const BillChange& change() const { return change_; }
  const std::optional<CategoryState>& category() const { return category_; }
  // The last refusal shown, for tests; nullptr when none is open.
  QMessageBox* refusal() const { return refusal_; }

  QComboBox* type_box() const { return type_; }
  QLineEdit* amount_box() const { return amount_; }
  QComboBox* channel_box() const { return channel_; }
  QDateTimeEdit* time_box() const { return time_; }
  QLineEdit* remark_box() const { return remark_; }
  QComboBox* category_box() const { return category_box_; }

  void accept() override;

 private:
  void fill(const Book& book);
  bool refuse(const QString& text, QWidget* field);
  // The GBK text of `field`'s `text`, or a refusal when GBK cannot hold it.
  std::optional<std::string> gbk_of(const QString& text, const char* name, QWidget* field);
  // Cuts a text over its field's bytes in the box, as the store would, and says so.
  bool over_limit(std::string* gbk, BillField f, const char* name, QWidget* field);
  bool read_category(const CategoryState& before);

  Bill bill_;
  CategoryState category_before_;
  BillTable table_;
  QDateTime shown_time_;
  BillChange change_;
  std::optional<CategoryState> category_;
  QComboBox* type_;
  QLineEdit* amount_;
  QComboBox* channel_;
  QDateTimeEdit* time_;
  QLineEdit* remark_;
  QComboBox* category_box_;
  QPointer<QMessageBox> refusal_;
};

// A date-time value as Qt shows it, and back (whole seconds, local time as the ledger keeps it).
QDateTime to_qdatetime(double value);
double from_qdatetime(const QDateTime& shown);

}  // namespace pennacle
