#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QResizeEvent>
#include <QStyledItemDelegate>

#include "ui/kinds/basic_kinds.h"
#include "ui/kinds/text_filter.h"
#include "ui/template/kind_settings.h"
#include "ui/text_codec.h"
#include "ui/widget_style.h"

namespace pennacle {
namespace {

// List rows a few pixels taller than the style's.
class ItemHeight : public QStyledItemDelegate {
 public:
  ItemHeight(QObject* parent, int extra) : QStyledItemDelegate(parent), extra_(extra) {}
  void set_extra(int extra) { extra_ = extra; }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    return QSize(s.width(), std::max(1, s.height() + extra_));
  }

 private:
  int extra_;
};

// The simple combo box: a text field over a list that is always open, both on the combo's model.
class SimpleCombo : public QWidget {
 public:
  explicit SimpleCombo(QWidget* parent)
      : QWidget(parent), combo_(new QComboBox(this)), list_(new QListView(this)) {
    combo_->setEditable(true);
    set_kind_style_sheet(combo_, QStringLiteral("QComboBox::drop-down { width: 0px; border: none; }"));
    list_->setModel(combo_->model());
    list_->setFocusPolicy(Qt::NoFocus);
    setFocusProxy(combo_);
    connect(list_, &QListView::clicked, combo_,
            [this](const QModelIndex& i) { combo_->setCurrentIndex(i.row()); });
    connect(combo_, &QComboBox::currentIndexChanged, list_,
            [this](int row) { list_->setCurrentIndex(combo_->model()->index(row, 0)); });
  }
  QComboBox* combo() const { return combo_; }

 protected:
  void resizeEvent(QResizeEvent* e) override {
    QWidget::resizeEvent(e);
    const int h = std::min(combo_->sizeHint().height(), height());
    combo_->setGeometry(0, 0, width(), h);
    list_->setGeometry(0, h, width(), height() - h);
  }

 private:
  QComboBox* combo_;
  QListView* list_;
};

QComboBox* make_combo(int32_t type, QWidget* parent, QWidget** outer) {
  if (type == 0) {
    auto* simple = new SimpleCombo(parent);
    *outer = simple;
    return simple->combo();
  }
  auto* combo = new QComboBox(parent);
  *outer = combo;
  return combo;
}

class ComboBoxControl : public Control {
 public:
  ComboBoxControl(const CreateParams& p, ComboBoxSettings s)
      : Control(p.window_id, p.unit.id), s_(std::move(s)) {
    QWidget* outer = nullptr;
    w_ = make_combo(s_.type, p.parent, &outer);
    outer_ = outer;
    w_->setInsertPolicy(QComboBox::NoInsert);
    w_->setFocusPolicy(Qt::StrongFocus);
    delegate_ = new ItemHeight(w_, s_.extra_height);
    w_->setItemDelegate(delegate_);
    apply_type();
    apply_look();
    fill_items();
    select(s_.current);
    if (s_.type != 2 && w_->lineEdit()) {
      w_->setEditText(to_qstring(s_.content));
      w_->lineEdit()->setSelection(s_.sel_start, s_.sel_length);
    }
  }
  QWidget* widget() const override { return outer_; }

  bool get(int index, PropertyData* out) override {
    switch (index) {
      case 0:
        out->number = s_.type;
        return true;
      case 1:
        out->bytes = to_gbk(w_->currentText()).value_or(std::string());
        return true;
      case 2:
        out->number = s_.max_length;
        return true;
      case 3:
        out->number = edit() ? edit()->selectionStart() : 0;
        return true;
      case 4:
        out->number = edit() ? edit()->selectedText().size() : 0;
        return true;
      case 5:
        out->bytes = edit() ? to_gbk(edit()->selectedText()).value_or(std::string()) : std::string();
        return true;
      case 6:
        out->number = s_.sorted;
        return true;
      case 7:
        out->number = s_.extra_height;
        return true;
      case 8:
        out->number = s_.text_colour;
        return true;
      case 9:
        out->number = s_.background;
        return true;
      case 10:
        out->bytes = s_.font;
        return true;
      case 11:
        out->number = w_->currentIndex();
        return true;
      case 12:
        out->bytes = encode_items(items());
        return true;
      case 13: {
        std::vector<int32_t> values;
        for (int i = 0; i < w_->count(); ++i) values.push_back(w_->itemData(i).toInt());
        out->bytes = encode_item_values(values);
        return true;
      }
      default:
        return false;
    }
  }

  bool set(int index, const PropertyData& in) override {
    const auto n = static_cast<int32_t>(in.number);
    switch (index) {
      case 0:
        s_.type = n > 2 ? 1 : (s_.type == 0 ? 0 : std::max(n, 1));
        apply_type();
        return true;
      case 1:
        if (w_->isEditable()) w_->setEditText(to_qstring(in.bytes));
        return true;
      case 2:
        s_.max_length = n;
        apply_type();
        return true;
      case 3:
      case 4:
        if (edit()) {
          int start = index == 3 ? n : edit()->selectionStart();
          int length = index == 4 ? n : static_cast<int>(edit()->selectedText().size());
          edit()->setSelection(std::max(start, 0), std::max(length, 0));
        }
        return true;
      case 5:
        if (edit()) edit()->insert(to_qstring(in.bytes));
        return true;
      case 6:
        s_.sorted = n != 0;
        if (s_.sorted) w_->model()->sort(0);
        return true;
      case 7:
        s_.extra_height = n;
        delegate_->set_extra(n);
        return true;
      case 8:
        s_.text_colour = static_cast<uint32_t>(n);
        break;
      case 9:
        s_.background = static_cast<uint32_t>(n);
        break;
      case 10:
        s_.font = in.bytes;
        break;
      case 11:
        select(n);
        return true;
      case 12: {
        auto items = decode_items(in.bytes);
        s_.items = items ? *items : std::vector<std::string>();
        s_.values.clear();
        fill_items();
        return true;
      }
      case 13: {
        auto values = decode_item_values(in.bytes);
        for (int i = 0; values && i < w_->count() && i < static_cast<int>(values->size()); ++i)
          w_->setItemData(i, (*values)[static_cast<size_t>(i)]);
        return true;
      }
      default:
        return false;
    }
    apply_look();
    return true;
  }

 private:
  QLineEdit* edit() const { return w_ ? w_->lineEdit() : nullptr; }

  std::vector<std::string> items() const {
    std::vector<std::string> out;
    for (int i = 0; i < w_->count(); ++i) out.push_back(to_gbk(w_->itemText(i)).value_or(std::string()));
    return out;
  }

  // The selection clamped to -1..count-1; no event fires.
  void select(int32_t index) {
    const QSignalBlocker block(w_);
    index = std::clamp(index, -1, w_->count() - 1);
    w_->setCurrentIndex(index);
    if (index < 0 && w_->isEditable()) w_->setEditText(QString());
  }

  void fill_items() {
    const QSignalBlocker block(w_);
    QString text = w_->isEditable() ? w_->currentText() : QString();
    w_->clear();
    for (size_t i = 0; i < s_.items.size(); ++i)
      w_->addItem(to_qstring(s_.items[i]), i < s_.values.size() ? QVariant(s_.values[i]) : QVariant(0));
    if (s_.sorted) w_->model()->sort(0);
    w_->setCurrentIndex(-1);
    if (w_->isEditable()) w_->setEditText(text);
  }

  void apply_type() {
    // Types 0 and 1 have a text field; the simple form keeps the open list it was made with.
    const bool editable = s_.type != 2;
    if (w_->isEditable() != editable) w_->setEditable(editable);
    if (!edit()) return;
    edit()->setMaxLength(s_.max_length > 0 ? s_.max_length : 32767);
    // What is typed or pasted keeps only the characters GBK can hold, so the text read back is
    // the text shown.
    if (!gbk_) gbk_ = new GbkValidator(w_);
    w_->setValidator(gbk_);
  }

  void apply_look() {
    apply_font(w_, s_.font);
    QPalette pal = w_->palette();
    pal.setColor(QPalette::Text, qcolor(s_.text_colour));
    pal.setColor(QPalette::Base, qcolor(s_.background));
    w_->setPalette(pal);
  }

  void detach_widget() override {
    w_ = nullptr;
    outer_ = nullptr;
  }

  ComboBoxSettings s_;
  QPointer<QComboBox> w_;
  QPointer<QWidget> outer_;  // the combo, or the simple form around it
  ItemHeight* delegate_;
  QPointer<GbkValidator> gbk_;  // owned by the combo
};

std::unique_ptr<Control> create_combo_box(const CreateParams& p) {
  auto s = ComboBoxSettings::decode(p.unit.settings);
  if (!s) return nullptr;
  return std::make_unique<ComboBoxControl>(p, std::move(*s));
}

}  // namespace

KindDescriptor combo_box_kind() {
  using P = PropType;
  return {kKindComboBox,
          "ComboBox",
          true,
          false,
          {P::Choice, P::Text, P::Integer, P::Integer, P::Integer, P::Text, P::Logical, P::Integer, P::Colour,
           P::Colour, P::Font, P::Integer, P::Block, P::Block},
          create_combo_box};
}

}  // namespace pennacle
