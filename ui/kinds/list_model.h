// The Qt side of the report list view: the store the commands and the view share, the table model
// that shows it, and the table view that takes the mouse and the keyboard as the system list view
// does. Both report to their control through ListOwner, on the user-interface thread.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QPointer>
#include <QTableView>
#include <atomic>
#include <memory>
#include <vector>

#include "ui/kinds/list_drawing.h"
#include "ui/kinds/list_rows.h"
#include "ui/template/unit_events.h"

namespace pennacle {

class ListModel;

// A list control's rows, shared by the commands (any thread) and the view.
struct ListStore {
  ListRows rows;
  std::atomic<bool> update_posted{false};  // one view update is queued
  std::atomic<bool> live{true};            // false once the control's window is going
  QPointer<ListModel> model;               // user-interface thread only
};

// The store of a loaded list view (any thread); fatal "指定窗口或窗口组件不存在或尚未载入" when the
// window is not loaded or the unit is not a list view.
std::shared_ptr<ListStore> list_store_of(int32_t window_id, int32_t unit_id);
// One view update for any number of changes made before it runs (any thread; never waits).
void post_list_update(const std::shared_ptr<ListStore>& store);

// What the model and the view hand to their control.
class ListOwner {
 public:
  // The store's selection, to be shown by the view (after a reset, or the current row written).
  virtual void selection_to_view() = 0;
  virtual void row_checked(int row, bool on) = 0;
  // False when a handler refuses: the edit does not begin, or its text is not taken.
  virtual bool begin_edit(int row) = 0;
  virtual bool end_edit(int row) = 0;
  // A press hit a row (or, with `row` -1, empty space).
  virtual void click_select(int row, bool keep_if_selected) = 0;
  virtual void clicked(ListViewEvent event) = 0;

 protected:
  ~ListOwner() = default;
};

class ListModel : public QAbstractTableModel {
 public:
  ListModel(ListOwner* owner, std::shared_ptr<ListStore> store, QObject* parent)
      : QAbstractTableModel(parent), owner_(owner), store_(std::move(store)) {}

  void set_columns(std::vector<ListColumn> columns, bool check_boxes, bool editable, bool full_row,
                   QColor text_background);
  void detach() { owner_ = nullptr; }
  int shown() const { return shown_; }
  // True while the model moves rows or the selection itself, so the view's signals are not taken
  // for the user's.
  bool syncing() const { return syncing_; }
  void set_syncing(bool on) { syncing_ = on; }

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : shown_; }
  int columnCount(const QModelIndex& parent) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // Catches up with the store: new rows at the end are inserted, anything else resets the model.
  void sync();

 private:
  ListOwner* owner_;
  std::shared_ptr<ListStore> store_;
  std::vector<ListColumn> columns_;
  bool check_boxes_ = false, editable_ = false, full_row_ = false;
  QColor text_background_;
  int shown_ = 0;
  bool syncing_ = false;
};

// The list takes the keyboard as the system list view does: it is one tab stop (Tab and Shift+Tab
// leave it), Up, Down, Home, End, PageUp and PageDown move the selected row, Left and Right scroll
// sideways.
class ListWidget : public QTableView {
 public:
  ListWidget(ListOwner* owner, QWidget* parent);
  void detach() { owner_ = nullptr; }
  void set_drawing(bool always_show_selection, bool full_row);

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void keyPressEvent(QKeyEvent* e) override;
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  void paintEvent(QPaintEvent* e) override;
  // The selection and the focus frame show or go with the focus.
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  ListOwner* owner_;
  ListCellDelegate* cells_;  // owned by the view
  bool full_row_ = true;
  bool after_double_click_ = false;
};

}  // namespace pennacle
