// How a report list draws its selection and its focus, as the system list view does: the focus
// frame goes round the whole row (or round the first cell when only that cell selects), and while
// the list lacks the focus the selection shows only when the list asks to always show it. What a
// style sheet says about selected items does not change when the selection shows.
#pragma once

#include <QAbstractItemView>
#include <QStyledItemDelegate>
#include <QTableView>

namespace pennacle {

// Draws each cell without a focus frame of its own and, when the selection is not to show,
// as an unselected cell.
class ListCellDelegate : public QStyledItemDelegate {
 public:
  explicit ListCellDelegate(QAbstractItemView* view);
  void set_always_show_selection(bool on) { always_show_selection_ = on; }
  bool selection_shows() const;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  QAbstractItemView* view_;
  bool always_show_selection_ = false;
};

// Draws the focus frame round the current row of a list that has the focus; call after the view
// has painted its cells. `full_row`: the frame spans every visible column, else the first cell.
void paint_row_focus(QTableView* view, bool full_row);

}  // namespace pennacle
