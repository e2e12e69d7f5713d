#include "books/bill_dialog.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <set>

#include "ledger/amount_text.h"
#include "ledger/categories.h"
#include "runtime/convert.h"
#include "ui/text_codec.h"

namespace pennacle {
namespace {

// The entry's one refusal for an empty type or channel or an amount not above 1e-7.
constexpr const char* kEmptyData = "数据不能为空!";

QComboBox* editable_combo(const QString& name, QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->setAccessibleName(name);
  box->lineEdit()->setAccessibleName(name);
  return box;
}

}  // namespace

QDateTime to_qdatetime(double value) {
  const DateTimeParts p = date_time_parts(value);
  return QDateTime(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second));
}

double from_qdatetime(const QDateTime& shown) {
  const QDate d = shown.date();
  const QTime t = shown.time();
  return make_date_time(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

BillDialog::BillDialog(const Book& book, size_t row, QWidget* parent)
    : QDialog(parent),
      bill_(book.rows.bill(row)),
      table_(book.table),
      type_(editable_combo("类型", this)),
      amount_(new QLineEdit(this)),
      channel_(editable_combo("付款方式", this)),
      time_(new QDateTimeEdit(this)),
      remark_(new QLineEdit(this)),
      category_box_(editable_combo("分类", this)) {
  setWindowTitle(QString("修改账单 %1").arg(bill_.serial));
  setAccessibleName("修改账单");
  setMinimumWidth(380);
  const BookRow& r = book.rows[row];
  const std::string_view category = book.rows.text(r.category);
  if (category != uncategorized()) category_before_ = {true, std::string(category), r.category_by_hand()};
  fill(book);
  auto* form = new QFormLayout;
  form->addRow("类型(&T)", type_);
  form->addRow("金额(&A)", amount_);
  form->addRow("付款方式(&M)", channel_);
  form->addRow("时间(&D)", time_);
  form->addRow("备注(&R)", remark_);
  form->addRow("分类(&C)", category_box_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText("确定");
  buttons->button(QDialogButtonBox::Ok)->setAccessibleName("确定");
  buttons->button(QDialogButtonBox::Cancel)->setText("取消");
  buttons->button(QDialogButtonBox::Cancel)->setAccessibleName("取消");
  connect(buttons, &QDialogButtonBox::accepted, this, &BillDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &BillDialog::reject);
  form->addRow(buttons);
  setLayout(form);
  amount_->setFocus();
}

void BillDialog::fill(const Book& book) {
  type_->addItems({to_qstring(expense_type()), to_qstring(income_type())});
  type_->setCurrentText(to_qstring(bill_.type));
  // The entry's amount box takes digits, the minus sign and the point; to_number reads the rest.
  amount_->setValidator(new QRegularExpressionValidator(QRegularExpression("[-0-9.]*"), amount_));
  amount_->setText(QString::fromStdString(exact_amount_text(bill_.amount)));
  amount_->setAccessibleName("金额");
  // The entry's channels first, then every other one the book holds.
  std::set<std::string> seen;
  for (const std::string& c : entry_channels()) {
    if (seen.insert(c).second) channel_->addItem(to_qstring(c));
  }
  std::set<TextId> ids;
  for (const BookRow& r : book.rows.rows()) ids.insert(r.channel);
  for (TextId id : ids) {
    if (seen.insert(std::string(book.rows.text(id))).second)
      channel_->addItem(to_qstring(book.rows.text(id)));
  }
  channel_->setCurrentText(to_qstring(bill_.channel));
  time_->setDisplayFormat("yyyy-MM-dd HH:mm:ss");
  time_->setDateTimeRange(QDateTime(QDate(100, 1, 1), QTime(0, 0)),
                          QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59)));
  time_->setCalendarPopup(true);
  shown_time_ = to_qdatetime(bill_.time);
  time_->setDateTime(shown_time_);
  time_->setAccessibleName("时间");
  remark_->setText(to_qstring(bill_.remark));
  remark_->setAccessibleName("备注");
  category_box_->addItem(to_qstring(uncategorized()));
  for (const std::string& n : book.category_names) category_box_->addItem(to_qstring(n));
  category_box_->setCurrentText(category_before_.has_entry ? to_qstring(category_before_.name)
                                                           : to_qstring(uncategorized()));
}

bool BillDialog::refuse(const QString& text, QWidget* field) {
  if (refusal_) refusal_->deleteLater();
  refusal_ = new QMessageBox(QMessageBox::Critical, windowTitle(), text, QMessageBox::Ok, this);
  refusal_->setAttribute(Qt::WA_DeleteOnClose);
  refusal_->setAccessibleName("提示");
  refusal_->open();
  field->setFocus();
  return false;
}

std::optional<std::string> BillDialog::gbk_of(const QString& text, const char* name, QWidget* field) {
  std::optional<std::string> gbk = to_gbk(text);
  if (!gbk) refuse(QString("%1里有 GBK 无法保存的字符，请改写。").arg(name), field);
  return gbk;
}

bool BillDialog::over_limit(std::string* gbk, BillField f, const char* name, QWidget* field) {
  const size_t limit = bill_text_limit(table_, f);
  if (!cut_bill_text(limit, gbk)) return false;
  if (auto* line = qobject_cast<QLineEdit*>(field)) line->setText(to_qstring(*gbk));
  if (auto* box = qobject_cast<QComboBox*>(field)) box->setCurrentText(to_qstring(*gbk));
  refuse(QString("%1最多 %2 字节，已截短；请看一下再按确定。").arg(name).arg(limit), field);
  return true;
}

bool BillDialog::read_category(const CategoryState& before) {
  const QString shown = category_box_->currentText().trimmed();
  CategoryState now;
  if (shown != to_qstring(uncategorized())) {
    std::optional<std::string> name = gbk_of(shown, "分类", category_box_);
    if (!name) return false;
    if (std::string why = category_name_problem(*name); !why.empty())
      return refuse(QString("分类“%1”不能用：%2").arg(shown, QString::fromStdString(why)), category_box_);
    now = {true, *name, true};
  }
  // The same name as before keeps who set it; another one is set by hand.
  if (now.has_entry == before.has_entry && now.name == before.name) return true;
  category_ = now;
  return true;
}

void BillDialog::accept() {
  std::optional<std::string> type = gbk_of(type_->currentText(), "类型", type_);
  if (!type) return;
  std::optional<std::string> channel = gbk_of(channel_->currentText(), "付款方式", channel_);
  if (!channel) return;
  std::optional<std::string> remark = gbk_of(remark_->text(), "备注", remark_);
  if (!remark) return;
  Bill b = bill_;
  b.type = *type;
  b.channel = *channel;
  b.remark = *remark;
  b.amount = text_to_double(amount_->text().toStdString());
  if (!bill_valid(b))
    return void(refuse(kEmptyData, b.type.empty()      ? static_cast<QWidget*>(type_)
                                   : b.channel.empty() ? static_cast<QWidget*>(channel_)
                                                       : amount_));
  if (over_limit(&b.type, BillField::Type, "类型", type_) ||
      over_limit(&b.channel, BillField::Channel, "付款方式", channel_) ||
      over_limit(&b.remark, BillField::Remark, "备注", remark_))
    return;
  category_.reset();
  if (!read_category(category_before_)) return;
  change_ = {};
  if (b.type != bill_.type) change_.type = b.type;
  if (b.channel != bill_.channel) change_.channel = b.channel;
  if (b.remark != bill_.remark) change_.remark = b.remark;
  if (stored_amount(table_, b.amount) != bill_.amount) change_.amount = b.amount;
  // An untouched time keeps its seconds and any fraction the file holds.
  if (time_->dateTime() != shown_time_) change_.time = from_qdatetime(time_->dateTime());
  QDialog::accept();
}

}  // namespace pennacle
