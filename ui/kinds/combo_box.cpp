#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QResizeEvent>
#include <QStyledItemDelegate>

#include "ui/kinds/basic_kinds.h"
#include "ui/kinds/settings_control.h"
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

class ComboBoxControl final : public SettingsControl<ComboBoxSettings> {
 public:
  ComboBoxControl(const CreateParams& p, ComboBoxSettings s) : SettingsControl(p, std::move(s)) {
    QWidget* outer = nullptr;
    w_ = make_combo(settings_.type, p.parent, &outer);
    outer_ = outer;
    w_->setInsertPolicy(QComboBox::NoInsert);
    w_->setFocusPolicy(Qt::StrongFocus);
    delegate_ = new ItemHeight(w_, settings_.extra_height);
    w_->setItemDelegate(delegate_);
    apply(Apply::Widget);
    fill_items();
    select(settings_.current);
    if (settings_.type != 2 && w_->lineEdit()) {
      w_->setEditText(to_qstring(settings_.content));
      w_->lineEdit()->setSelection(settings_.sel_start, settings_.sel_length);
    }
  }
  QWidget* widget() const override { return outer_; }

 private:
  // The text, its selection, the current item and the item list live in the combo.
  bool read_live(Property p, PropertyData* out) override {
    switch (p) {
      case ComboBoxSettings::kContent:
        out->bytes = to_gbk(w_->currentText()).value_or(std::string());
        return true;
      case ComboBoxSettings::kSelStart:
        out->number = edit() ? edit()->selectionStart() : 0;
        return true;
      case ComboBoxSettings::kSelLength:
        out->number = edit() ? edit()->selectedText().size() : 0;
        return true;
      case ComboBoxSettings::kSelectedText:
        out->bytes = edit() ? to_gbk(edit()->selectedText()).value_or(std::string()) : std::string();
        return true;
      case ComboBoxSettings::kCurrent:
        out->number = w_->currentIndex();
        return true;
      case ComboBoxSettings::kItems:
        out->bytes = encode_items(items());
        return true;
      case ComboBoxSettings::kItemValues:
        out->bytes = encode_item_values(item_values());
        return true;
      default:
        return false;
    }
  }

  bool write_live(Property p, const PropertyData& in) override {
    const auto n = static_cast<int32_t>(in.number);
    switch (p) {
      case ComboBoxSettings::kType:
        // The simple form keeps the open list it was made with; the others switch between them.
        settings_.type = n > 2 ? 1 : (settings_.type == 0 ? 0 : std::max(n, 1));
        apply_type();
        return true;
      case ComboBoxSettings::kContent:
        if (w_->isEditable()) w_->setEditText(to_qstring(in.bytes));
        return true;
      case ComboBoxSettings::kSelStart:
      case ComboBoxSettings::kSelLength:
        select_text(p, n);
        return true;
      case ComboBoxSettings::kSelectedText:
        if (edit()) edit()->insert(to_qstring(in.bytes));
        return true;
      case ComboBoxSettings::kSorted:
        settings_.sorted = n != 0;
        if (settings_.sorted) w_->model()->sort(0);
        return true;
      case ComboBoxSettings::kCurrent:
        select(n);
        return true;
      case ComboBoxSettings::kItems:
        settings_.items = decode_items(in.bytes).value_or(std::vector<std::string>());
        settings_.values.clear();
        fill_items();
        return true;
      case ComboBoxSettings::kItemValues:
        set_item_values(in.bytes);
        return true;
      default:
        return false;
    }
  }

  void apply(Apply) override {
    apply_type();
    delegate_->set_extra(settings_.extra_height);
    apply_look();
  }

 private:
  QLineEdit* edit() const { return w_ ? w_->lineEdit() : nullptr; }

  std::vector<std::string> items() const {
    std::vector<std::string> out;
    for (int i = 0; i < w_->count(); ++i) out.push_back(to_gbk(w_->itemText(i)).value_or(std::string()));
    return out;
  }

  std::vector<int32_t> item_values() const {
    std::vector<int32_t> values;
    for (int i = 0; i < w_->count(); ++i) values.push_back(w_->itemData(i).toInt());
    return values;
  }

  // Values for the first items, as many as both have.
  void set_item_values(std::string_view bytes) {
    auto values = decode_item_values(bytes);
    for (int i = 0; values && i < w_->count() && i < static_cast<int>(values->size()); ++i)
      w_->setItemData(i, (*values)[static_cast<size_t>(i)]);
  }

  // Selection start or length in the text field, the other part kept; negatives taken as 0.
  void select_text(Property p, int32_t n) {
    if (!edit()) return;
    const int start = p == ComboBoxSettings::kSelStart ? n : edit()->selectionStart();
    const int length =
        p == ComboBoxSettings::kSelLength ? n : static_cast<int>(edit()->selectedText().size());
    edit()->setSelection(std::max(start, 0), std::max(length, 0));
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
    const ComboBoxSettings& s = settings_;
    for (size_t i = 0; i < s.items.size(); ++i)
      w_->addItem(to_qstring(s.items[i]), i < s.values.size() ? QVariant(s.values[i]) : QVariant(0));
    if (s.sorted) w_->model()->sort(0);
    w_->setCurrentIndex(-1);
    if (w_->isEditable()) w_->setEditText(text);
  }

  void apply_type() {
    // Types 0 and 1 have a text field; the simple form keeps the open list it was made with.
    const bool editable = settings_.type != 2;
    if (w_->isEditable() != editable) w_->setEditable(editable);
    if (!edit()) return;
    edit()->setMaxLength(settings_.max_length > 0 ? settings_.max_length : 32767);
    // What is typed or pasted keeps only the characters GBK can hold, so the text read back is
    // the text shown.
    if (!gbk_) gbk_ = new GbkValidator(w_);
    w_->setValidator(gbk_);
  }

  void apply_look() {
    apply_font(w_, settings_.font);
    QPalette pal = w_->palette();
    pal.setColor(QPalette::Text, qcolor(settings_.text_colour));
    pal.setColor(QPalette::Base, qcolor(settings_.background));
    w_->setPalette(pal);
  }

  void detach_widget() override {
    w_ = nullptr;
    outer_ = nullptr;
  }

  QPointer<QComboBox> w_;
  QPointer<QWidget> outer_;  // the combo, or the simple form around it
  ItemHeight* delegate_;
  QPointer<GbkValidator> gbk_;  // owned by the combo
};

}  // namespace

KindDescriptor combo_box_kind() {
  return settings_kind<ComboBoxSettings>(kKindComboBox, "ComboBox", create_from_settings<ComboBoxControl>);
}

}  // namespace pennacle
