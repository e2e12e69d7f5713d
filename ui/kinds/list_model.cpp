#include "ui/kinds/list_model.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>
#include <limits>
#include <utility>

#include "ui/text_codec.h"
#include "ui/widget_style.h"

namespace pennacle {

void ListModel::set_columns(std::vector<ListColumn> columns, bool check_boxes, bool editable, bool full_row,
                            QColor text_background) {
  beginResetModel();
  columns_ = std::move(columns);
  check_boxes_ = check_boxes;
  editable_ = editable;
  full_row_ = full_row;
  text_background_ = text_background;
  endResetModel();
}

int ListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::max<int>(1, static_cast<int>(columns_.size()));
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const size_t c = static_cast<size_t>(index.column());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole:
      return to_qstring(store_->rows.cell(index.row(), index.column()));
    case Qt::CheckStateRole: {
      if (!check_boxes_ || c != 0) return {};
      const std::optional<int32_t> state = store_->rows.state_image(static_cast<size_t>(index.row()));
      if (!state) return {};
      return *state == kChecked ? Qt::Checked : Qt::Unchecked;
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(h_alignment(c < columns_.size() ? columns_[c].alignment : 0) |
                                 Qt::AlignVCenter);
    case Qt::BackgroundRole:
      return text_background_;
    default:
      return {};
  }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || size_t(section) >= columns_.size()) return {};
  const ListColumn& column = columns_[size_t(section)];
  if (role == Qt::DisplayRole) return to_qstring(column.title);
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(h_alignment(column.alignment) | Qt::AlignVCenter);
  return {};
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled;
  if (index.column() == 0 || full_row_) f |= Qt::ItemIsSelectable;
  if (index.column() == 0 && editable_) f |= Qt::ItemIsEditable;
  if (index.column() == 0 && check_boxes_) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool ListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != 0 || !owner_) return false;
  const size_t row = size_t(index.row());
  if (role == Qt::CheckStateRole && check_boxes_) {
    const bool on = value.toInt() == Qt::Checked;
    if (!store_->rows.set_checked(row, on)) return false;
    emit dataChanged(index, index);
    owner_->row_checked(index.row(), on);
    return true;
  }
  if (role == Qt::EditRole && editable_) {
    auto text = to_gbk(value.toString());
    if (!text) return false;  // a character the record file could not hold
    if (!owner_->end_edit(index.row())) return false;
    if (!store_->rows.set_main_text(row, std::move(*text))) return false;
    emit dataChanged(index, index);
    return true;
  }
  return false;
}

void ListModel::sync() {
  ListRows::Changes changes = store_->rows.take_changes();
  const int rows = static_cast<int>(std::min<size_t>(changes.rows, std::numeric_limits<int32_t>::max()));
  syncing_ = true;
  if (changes.reshaped || rows < shown_) {
    beginResetModel();
    shown_ = rows;
    endResetModel();
    changes.selection_moved = true;
  } else if (rows > shown_) {
    beginInsertRows(QModelIndex(), shown_, rows - 1);
    shown_ = rows;
    endInsertRows();
  }
  syncing_ = false;
  if (shown_ > 0) emit dataChanged(index(0, 0), index(shown_ - 1, columnCount({}) - 1));
  if (changes.selection_moved && owner_) owner_->selection_to_view();
}

ListWidget::ListWidget(ListOwner* owner, QWidget* parent)
    : QTableView(parent), owner_(owner), cells_(new ListCellDelegate(this)) {
  setTabKeyNavigation(false);
  setItemDelegate(cells_);
}

void ListWidget::set_drawing(bool always_show_selection, bool full_row) {
  cells_->set_always_show_selection(always_show_selection);
  full_row_ = full_row;
  viewport()->update();
}

void ListWidget::mousePressEvent(QMouseEvent* e) {
  if (!owner_) return QTableView::mousePressEvent(e);
  const QModelIndex index = indexAt(e->position().toPoint());
  if (e->button() == Qt::RightButton) {
    // The right button selects like the left one, before the click event is fired.
    setFocus(Qt::MouseFocusReason);
    owner_->click_select(index.isValid() ? index.row() : -1, true);
    return;
  }
  QTableView::mousePressEvent(e);
  if (e->button() == Qt::LeftButton && !index.isValid()) owner_->click_select(-1, false);
}

void ListWidget::mouseReleaseEvent(QMouseEvent* e) {
  QTableView::mouseReleaseEvent(e);
  // After the view has handled the click, so a handler reads the selection it made. The release
  // that ends a double click is not a click of its own.
  if (!owner_ || std::exchange(after_double_click_, false)) return;
  if (e->button() == Qt::LeftButton) owner_->clicked(kListClicked);
  if (e->button() == Qt::RightButton) owner_->clicked(kListRightClicked);
}

void ListWidget::mouseDoubleClickEvent(QMouseEvent* e) {
  // A double click fires no event of its own (the view activates the row); the second press
  // still selects.
  after_double_click_ = true;
  if (e->button() == Qt::RightButton) return;
  QTableView::mouseDoubleClickEvent(e);
}

void ListWidget::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Left || e->key() == Qt::Key_Right) {
    horizontalScrollBar()->triggerAction(e->key() == Qt::Key_Left ? QAbstractSlider::SliderSingleStepSub
                                                                  : QAbstractSlider::SliderSingleStepAdd);
    return e->accept();
  }
  // Home and End move between rows only: the view keeps its sideways position.
  const bool row_end = e->key() == Qt::Key_Home || e->key() == Qt::Key_End;
  const int sideways = horizontalScrollBar()->value();
  QTableView::keyPressEvent(e);
  if (row_end) horizontalScrollBar()->setValue(sideways);
}

QModelIndex ListWidget::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  if (action != MoveHome && action != MoveEnd) return QTableView::moveCursor(action, modifiers);
  // The first or the last row, in the current column: not the row's first or last cell, which
  // would scroll the view sideways to reach it.
  const QModelIndex target = QTableView::moveCursor(action, modifiers | Qt::ControlModifier);
  const QModelIndex current = currentIndex();
  return current.isValid() && target.isValid() ? target.siblingAtColumn(current.column()) : target;
}

void ListWidget::paintEvent(QPaintEvent* e) {
  QTableView::paintEvent(e);
  paint_row_focus(this, full_row_);
}

void ListWidget::focusInEvent(QFocusEvent* e) {
  QTableView::focusInEvent(e);
  viewport()->update();
}

void ListWidget::focusOutEvent(QFocusEvent* e) {
  QTableView::focusOutEvent(e);
  viewport()->update();
}

bool ListWidget::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (trigger == AllEditTriggers || !(editTriggers() & trigger))
    return QTableView::edit(index, trigger, event);
  if (owner_ && index.isValid() && index.column() == 0 && !owner_->begin_edit(index.row())) return false;
  return QTableView::edit(index, trigger, event);
}

}  // namespace pennacle
