#include "ui/kinds/list_drawing.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace pennacle {

ListCellDelegate::ListCellDelegate(QAbstractItemView* view) : QStyledItemDelegate(view), view_(view) {}

bool ListCellDelegate::selection_shows() const { return always_show_selection_ || view_->hasFocus(); }

void ListCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  QStyleOptionViewItem cell = option;
  cell.state &= ~QStyle::State_HasFocus;  // the row's frame is drawn by paint_row_focus
  if (!selection_shows()) cell.state &= ~QStyle::State_Selected;
  QStyledItemDelegate::paint(painter, cell, index);
}

void paint_row_focus(QTableView* view, bool full_row) {
  const QModelIndex current = view->currentIndex();
  if (!view->hasFocus() || !current.isValid()) return;
  const QHeaderView* header = view->horizontalHeader();
  int left = -1, right = -1;
  for (int visual = 0; visual < header->count(); ++visual) {
    const int column = header->logicalIndex(visual);
    if (header->isSectionHidden(column) || header->sectionSize(column) == 0) continue;
    if (!full_row && column != 0) continue;
    const int x = view->columnViewportPosition(column);
    if (left < 0) left = x;
    right = x + view->columnWidth(column);
  }
  if (left < 0) return;
  const QRect row(left, view->rowViewportPosition(current.row()), right - left,
                  view->rowHeight(current.row()));
  QPainter painter(view->viewport());
  QStyleOptionFocusRect frame;
  frame.initFrom(view);
  frame.rect = row.adjusted(0, 0, -1, -1);
  frame.state |= QStyle::State_KeyboardFocusChange | QStyle::State_HasFocus;
  frame.backgroundColor = view->palette().color(QPalette::Base);
  view->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, view);
}

}  // namespace pennacle
