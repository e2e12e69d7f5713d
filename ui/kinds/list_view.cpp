#include "ui/kinds/list_view.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTableView>
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "runtime/convert.h"
#include "runtime/fatal.h"
#include "ui/kinds/list_drawing.h"
#include "ui/template/list_view_settings.h"
#include "ui/text_codec.h"
#include "ui/widget_style.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

constexpr const char* kNoControl = "指定窗口或窗口组件不存在或尚未载入";

// Property indices (number - 8).
enum Prop {
  kBorder = 0,
  kTextColour = 1,
  kTextBackground = 2,
  kBackground = 3,
  kFont = 4,
  kView = 5,
  kIconAlignment = 6,
  kAutoArrange = 7,
  kWrapLabels = 8,
  kColumns = 9,
  kHideHeader = 10,
  kHeaderImages = 11,
  kClickableHeader = 12,
  kFullRow = 13,
  kGridLines = 14,
  kHeaderDrag = 15,
  kRowImages = 16,
  kStateImages = 17,
  kHotTracking = 18,
  kHandCursor = 19,
  kUnderlineCold = 20,
  kUnderlineHot = 21,
  kLabelEditing = 22,
  kSorting = 23,
  kCheckBoxes = 24,
  kFlatScrollBars = 25,
  kSingleSelection = 26,
  kCurrentRow = 27,
  kAlwaysShowSelection = 28,
  kInitialRows = 29,
};

// The state-image number of a checked check box; 1 is unchecked.
constexpr int32_t kChecked = 2;

struct Row {
  std::vector<std::string> cells;  // from column 0; missing cells are empty
  int32_t image = -1;
  int32_t state_image = 0;
  int32_t indent = 0;
  int32_t value = 0;
  bool selected = false;
  bool focused = false;
};

class ListModel;

// Shared between the commands (any thread) and the view (user-interface thread).
struct RowStore {
  std::mutex mu;
  std::vector<Row> rows;         // GUARDED_BY(mu)
  size_t columns = 0;            // GUARDED_BY(mu); column 0 exists even without a column table
  int32_t sorting = 0;           // GUARDED_BY(mu)
  bool reshaped = false;         // GUARDED_BY(mu): rows went or came before the end since the last update
  bool selection_moved = false;  // GUARDED_BY(mu): the view must take the selection from the store
  std::atomic<bool> update_posted{false};
  std::atomic<bool> live{true};  // false once the control's window is going
  QPointer<ListModel> model;     // user-interface thread only

  bool column_exists(int32_t column) const { return column == 0 || (column > 0 && size_t(column) < columns); }
};

// Case-blind order of two GBK texts, as a sorted list places its rows: ASCII letters fold, every
// other byte compares by value.
bool sorts_before(std::string_view a, std::string_view b) {
  auto fold = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [&](char x, char y) { return fold(x) < fold(y); });
}

QFrame::Shape frame_shape(int32_t border) {
  switch (border) {
    case 0:
      return QFrame::NoFrame;
    case 4:
      return QFrame::WinPanel;
    case 5:
      return QFrame::Box;
    default:
      return QFrame::Panel;
  }
}

class ListViewControl;
void ensure_update_pump();

class ListModel : public QAbstractTableModel {
 public:
  ListModel(ListViewControl* owner, std::shared_ptr<RowStore> store, QObject* parent)
      : QAbstractTableModel(parent), owner_(owner), store_(std::move(store)) {}

  void set_columns(std::vector<ListColumn> columns, bool check_boxes, bool editable, bool full_row,
                   QColor text_background) {
    beginResetModel();
    columns_ = std::move(columns);
    check_boxes_ = check_boxes;
    editable_ = editable;
    full_row_ = full_row;
    text_background_ = text_background;
    endResetModel();
  }
  void detach() { owner_ = nullptr; }
  int shown() const { return shown_; }

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : shown_; }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : std::max<int>(1, static_cast<int>(columns_.size()));
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid()) return {};
    const size_t r = static_cast<size_t>(index.row()), c = static_cast<size_t>(index.column());
    switch (role) {
      case Qt::DisplayRole:
      case Qt::EditRole:
      case Qt::ToolTipRole: {
        std::lock_guard lock(store_->mu);
        if (r >= store_->rows.size() || c >= store_->rows[r].cells.size()) return QString();
        return to_qstring(store_->rows[r].cells[c]);
      }
      case Qt::CheckStateRole: {
        if (!check_boxes_ || c != 0) return {};
        std::lock_guard lock(store_->mu);
        if (r >= store_->rows.size()) return {};
        return store_->rows[r].state_image == kChecked ? Qt::Checked : Qt::Unchecked;
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

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || section < 0 || size_t(section) >= columns_.size()) return {};
    if (role == Qt::DisplayRole) return to_qstring(columns_[size_t(section)].title);
    if (role == Qt::TextAlignmentRole)
      return QVariant::fromValue(h_alignment(columns_[size_t(section)].alignment) | Qt::AlignVCenter);
    return {};
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled;
    if (index.column() == 0 || full_row_) f |= Qt::ItemIsSelectable;
    if (index.column() == 0 && editable_) f |= Qt::ItemIsEditable;
    if (index.column() == 0 && check_boxes_) f |= Qt::ItemIsUserCheckable;
    return f;
  }

  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // Catches up with the store: new rows at the end are inserted, anything else resets the model.
  void sync();

 private:
  ListViewControl* owner_;
  std::shared_ptr<RowStore> store_;
  std::vector<ListColumn> columns_;
  bool check_boxes_ = false, editable_ = false, full_row_ = false;
  QColor text_background_;
  int shown_ = 0;
};

// The list takes the keyboard as the system list view does: it is one tab stop (Tab and Shift+Tab
// leave it), Up, Down, Home, End, PageUp and PageDown move the selected row, Left and Right scroll
// sideways.
class ListWidget : public QTableView {
 public:
  ListWidget(ListViewControl* owner, QWidget* parent)
      : QTableView(parent), owner_(owner), cells_(new ListCellDelegate(this)) {
    setTabKeyNavigation(false);
    setItemDelegate(cells_);
  }
  void detach() { owner_ = nullptr; }
  void set_drawing(bool always_show_selection, bool full_row) {
    cells_->set_always_show_selection(always_show_selection);
    full_row_ = full_row;
    viewport()->update();
  }

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void keyPressEvent(QKeyEvent* e) override;
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  void paintEvent(QPaintEvent* e) override;
  // The selection and the focus frame show or go with the focus.
  void focusInEvent(QFocusEvent* e) override {
    QTableView::focusInEvent(e);
    viewport()->update();
  }
  void focusOutEvent(QFocusEvent* e) override {
    QTableView::focusOutEvent(e);
    viewport()->update();
  }

 private:
  ListViewControl* owner_;
  ListCellDelegate* cells_;  // owned by the view
  bool full_row_ = true;
  bool after_double_click_ = false;
};

class ListViewControl : public Control {
 public:
  ListViewControl(const CreateParams& p, ListViewSettings s)
      : Control(p.window_id, p.unit.id), s_(std::move(s)), store_(std::make_shared<RowStore>()) {
    ensure_update_pump();
    view_ = new ListWidget(this, p.parent);
    model_ = new ListModel(this, store_, view_);
    view_->setModel(model_);
    store_->model = model_;
    view_->verticalHeader()->hide();
    view_->setWordWrap(false);
    view_->setCornerButtonEnabled(false);
    view_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view_->setContextMenuPolicy(Qt::PreventContextMenu);
    view_->setFocusPolicy(Qt::StrongFocus);
    view_->horizontalHeader()->setStretchLastSection(false);
    view_->horizontalHeader()->setHighlightSections(false);
    view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view_->horizontalHeader()->setMinimumSectionSize(0);

    QObject::connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, context(),
                     [this] { selection_from_view(); });
    QObject::connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, context(),
                     [this](const QModelIndex& current, const QModelIndex&) { current_from_view(current); });
    QObject::connect(view_, &QAbstractItemView::activated, context(), [this] {
      if (!syncing_) fire(1);
    });
    QObject::connect(view_, &QAbstractItemView::clicked, context(), [this] {
      // One-click activation comes with hot tracking.
      if (s_.hot_tracking) fire(1);
    });
    QObject::connect(view_, &QAbstractItemView::entered, context(), [this](const QModelIndex& index) {
      if (s_.hot_tracking && index.isValid()) fire(3, {index.row()});
    });
    QObject::connect(view_->horizontalHeader(), &QHeaderView::sectionClicked, context(), [this](int section) {
      if (s_.clickable_header) fire(2, {section});
    });

    apply();
    {
      std::lock_guard lock(store_->mu);
      for (const ListRow& r : s_.initial_rows) {
        Row row;
        row.cells = r.cells;
        row.image = std::max(r.image, -1);
        row.state_image = std::clamp(r.state_image, 0, 15);
        row.indent = std::max(r.indent, 0);
        row.value = r.value;
        store_->rows.push_back(std::move(row));
      }
    }
    set_current_row(s_.current_row);
    model_->sync();
  }

  QWidget* widget() const override { return view_; }
  const std::shared_ptr<RowStore>& store() const { return store_; }
  bool syncing() const { return syncing_; }

  bool get(int index, PropertyData* out) override {
    switch (index) {
      case kBorder:
        out->number = s_.border;
        return true;
      case kTextColour:
        out->number = s_.text_colour;
        return true;
      case kTextBackground:
        out->number = s_.text_background;
        return true;
      case kBackground:
        out->number = s_.background;
        return true;
      case kFont:
        out->bytes = s_.font;
        return true;
      case kView:
        out->number = s_.view;
        return true;
      case kIconAlignment:
        out->number = s_.icon_alignment;
        return true;
      case kAutoArrange:
        out->number = s_.auto_arrange;
        return true;
      case kWrapLabels:
        out->number = s_.wrap_labels;
        return true;
      case kColumns:
        out->bytes = encode_columns(s_.columns);
        return true;
      case kHideHeader:
        out->number = s_.hide_header;
        return true;
      case kHeaderImages:
        out->bytes = s_.header_images;
        return true;
      case kClickableHeader:
        out->number = s_.clickable_header;
        return true;
      case kFullRow:
        out->number = s_.full_row_select;
        return true;
      case kGridLines:
        out->number = s_.grid_lines;
        return true;
      case kHeaderDrag:
        out->number = s_.header_drag_drop;
        return true;
      case kRowImages:
        out->bytes = s_.row_images;
        return true;
      case kStateImages:
        out->bytes = s_.state_images;
        return true;
      case kHotTracking:
        out->number = s_.hot_tracking;
        return true;
      case kHandCursor:
        out->number = s_.hand_cursor;
        return true;
      case kUnderlineCold:
        out->number = s_.underline_cold;
        return true;
      case kUnderlineHot:
        out->number = s_.underline_hot;
        return true;
      case kLabelEditing:
        out->number = s_.label_editing;
        return true;
      case kSorting:
        out->number = s_.sorting;
        return true;
      case kCheckBoxes:
        out->number = s_.check_boxes;
        return true;
      case kFlatScrollBars:
        out->number = s_.flat_scroll_bars;
        return true;
      case kSingleSelection:
        out->number = s_.single_selection;
        return true;
      case kCurrentRow:
        out->number = first_selected_row();
        return true;
      case kAlwaysShowSelection:
        out->number = s_.always_show_selection;
        return true;
      case kInitialRows:
        out->bytes = current_rows();
        return true;
      default:
        return false;
    }
  }

  bool set(int index, const PropertyData& in) override {
    const auto n = static_cast<int32_t>(in.number);
    const bool b = in.number != 0;
    switch (index) {
      case kBorder:
        s_.border = n > 5 ? 1 : n;
        break;
      case kTextColour:
        s_.text_colour = static_cast<uint32_t>(n);
        break;
      case kTextBackground:
        s_.text_background = static_cast<uint32_t>(n);
        break;
      case kBackground:
        s_.background = static_cast<uint32_t>(n);
        break;
      case kFont:
        s_.font = in.bytes;
        break;
      case kView:
        s_.view = n > 3 ? 0 : n;
        break;
      case kIconAlignment:
        s_.icon_alignment = n;
        break;
      case kAutoArrange:
        s_.auto_arrange = b;
        break;
      case kWrapLabels:
        s_.wrap_labels = b;
        break;
      case kColumns: {
        auto columns = decode_columns(in.bytes);
        s_.columns = columns ? std::move(*columns) : std::vector<ListColumn>();
        break;
      }
      case kHideHeader:
        s_.hide_header = b;
        break;
      case kHeaderImages:
        s_.header_images = in.bytes;
        break;
      case kClickableHeader:
        s_.clickable_header = b;
        break;
      case kFullRow:
        s_.full_row_select = b;
        break;
      case kGridLines:
        s_.grid_lines = b;
        break;
      case kHeaderDrag:
        s_.header_drag_drop = b;
        break;
      case kRowImages:
        s_.row_images = in.bytes;
        break;
      case kStateImages:
        s_.state_images = in.bytes;
        break;
      case kHotTracking:
        s_.hot_tracking = b;
        break;
      case kHandCursor:
        s_.hand_cursor = b;
        break;
      case kUnderlineCold:
        s_.underline_cold = b;
        break;
      case kUnderlineHot:
        s_.underline_hot = b;
        break;
      case kLabelEditing:
        s_.label_editing = b;
        break;
      case kSorting:
        s_.sorting = n > 2 ? 0 : n;
        break;
      case kCheckBoxes:
        s_.check_boxes = b;
        break;
      case kFlatScrollBars:
        s_.flat_scroll_bars = b;
        break;
      case kSingleSelection:
        s_.single_selection = b;
        break;
      case kCurrentRow:
        set_current_row(n);
        model_->sync();
        return true;
      case kAlwaysShowSelection:
        s_.always_show_selection = b;
        break;
      case kInitialRows: {
        // Replaces the rows, as loading the block at creation would.
        auto rows = decode_rows(in.bytes);
        std::lock_guard lock(store_->mu);
        store_->rows.clear();
        if (rows)
          for (ListRow& r : *rows) {
            Row row;
            row.cells = std::move(r.cells);
            row.image = std::max(r.image, -1);
            row.state_image = std::clamp(r.state_image, 0, 15);
            row.indent = std::max(r.indent, 0);
            row.value = r.value;
            store_->rows.push_back(std::move(row));
          }
        store_->reshaped = true;
        break;
      }
      default:
        return false;
    }
    apply();
    model_->sync();
    return true;
  }

  // The view's selection, written into the store (user-interface thread).
  void selection_from_view() {
    if (syncing_ || !view_) return;
    std::vector<int> rows;
    for (const QModelIndex& i : view_->selectionModel()->selectedIndexes()) rows.push_back(i.row());
    std::lock_guard lock(store_->mu);
    for (Row& r : store_->rows) r.selected = false;
    for (int r : rows)
      if (size_t(r) < store_->rows.size()) store_->rows[size_t(r)].selected = true;
  }

  void current_from_view(const QModelIndex& current) {
    if (syncing_) return;
    bool gained = false;
    {
      std::lock_guard lock(store_->mu);
      for (size_t i = 0; i < store_->rows.size(); ++i) {
        const bool now = current.isValid() && int(i) == current.row();
        if (now && !store_->rows[i].focused) gained = true;
        store_->rows[i].focused = now;
      }
    }
    if (gained) fire(0);
  }

  // The store's selection, shown by the view (after a reset, or property 35 written).
  void selection_to_view() {
    if (!view_) return;
    std::vector<int> selected;
    int focused = -1;
    {
      std::lock_guard lock(store_->mu);
      const size_t n = std::min(store_->rows.size(), size_t(model_->shown()));
      for (size_t i = 0; i < n; ++i) {
        if (store_->rows[i].selected) selected.push_back(int(i));
        if (store_->rows[i].focused) focused = int(i);
      }
    }
    syncing_ = true;
    QItemSelectionModel* sm = view_->selectionModel();
    QItemSelection sel;
    for (int r : selected) sel.select(model_->index(r, 0), model_->index(r, model_->columnCount({}) - 1));
    sm->select(sel, QItemSelectionModel::ClearAndSelect);
    sm->setCurrentIndex(focused >= 0 ? model_->index(focused, 0) : QModelIndex(),
                        QItemSelectionModel::NoUpdate);
    syncing_ = false;
  }

  // A click hit a row (or, with `row` -1, empty space): the row becomes the only selected and the
  // focused one, as the native list does on a press of either button.
  void click_select(int row, bool keep_if_selected) {
    if (!view_) return;
    QItemSelectionModel* sm = view_->selectionModel();
    if (row < 0) {
      sm->clearSelection();
      return;
    }
    const QModelIndex index = model_->index(row, 0);
    if (keep_if_selected && sm->isRowSelected(row, {})) {
      sm->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
      return;
    }
    sm->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }

  void fire_click(int event) { fire(event); }

  // Event 6: a false result cancels the edit.
  bool begin_edit(int row) {
    EventResult r = fire_event(window_id(), unit_id(), 6, {row});
    const bool refused = r.has_result && r.result.is(Kind::Logical) && r.result.lo == 0;
    release_value(r.result);
    return !refused;
  }
  // Event 7: a false result rejects the new text.
  bool end_edit(int row) {
    EventResult r = fire_event(window_id(), unit_id(), 7, {row});
    const bool refused = r.has_result && r.result.is(Kind::Logical) && r.result.lo == 0;
    release_value(r.result);
    return !refused;
  }
  void checked(int row, bool on) { fire(8, {row, on ? 1 : 0}); }
  bool syncing_ = false;

 private:
  int32_t first_selected_row() const {
    std::lock_guard lock(store_->mu);
    for (size_t i = 0; i < store_->rows.size(); ++i)
      if (store_->rows[i].selected) return static_cast<int32_t>(i);
    return -1;
  }

  std::string current_rows() const {
    std::vector<ListRow> out;
    std::lock_guard lock(store_->mu);
    for (const Row& r : store_->rows) out.push_back({r.cells, r.image, r.state_image, r.indent, r.value});
    return encode_rows(out);
  }

  // Selects one row in the store (-1 or out of range: none) and has the view follow.
  void set_current_row(int32_t row) {
    std::lock_guard lock(store_->mu);
    for (Row& r : store_->rows) r.selected = r.focused = false;
    if (row >= 0 && size_t(row) < store_->rows.size())
      store_->rows[size_t(row)].selected = store_->rows[size_t(row)].focused = true;
    store_->selection_moved = true;
  }

  void apply() {
    if (!view_) return;
    {
      std::lock_guard lock(store_->mu);
      store_->columns = s_.view == kListViewReport ? s_.columns.size() : 1;
      store_->sorting = s_.sorting;
    }
    const bool report = s_.view == kListViewReport;
    std::vector<ListColumn> columns = s_.columns;
    // The icon and list views show the rows' main texts only.
    if (!report) columns = {ListColumn{false, -1, 0, std::max(view_->width(), 1), ""}};
    model_->set_columns(columns, s_.check_boxes, s_.label_editing, s_.full_row_select || !report,
                        qcolor(s_.text_background));
    apply_font(view_, s_.font);
    QHeaderView* header = view_->horizontalHeader();
    header->setFont(view_->font());
    header->setVisible(report && !s_.hide_header);
    header->setSectionsClickable(s_.clickable_header);
    header->setSectionsMovable(s_.header_drag_drop);
    for (size_t i = 0; i < columns.size(); ++i) {
      const int w = std::max(columns[i].width, 0);
      header->setSectionHidden(int(i), w == 0);
      if (w > 0) header->resizeSection(int(i), w);
    }
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
    view_->verticalHeader()->setMinimumSectionSize(1);
    view_->setShowGrid(report && s_.grid_lines);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(s_.single_selection ? QAbstractItemView::SingleSelection
                                                : QAbstractItemView::ExtendedSelection);
    view_->setEditTriggers(s_.label_editing
                               ? QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed
                               : QAbstractItemView::NoEditTriggers);
    view_->setMouseTracking(s_.hot_tracking);
    view_->viewport()->setCursor(s_.hot_tracking && s_.hand_cursor ? Qt::PointingHandCursor
                                                                   : Qt::ArrowCursor);
    QPalette pal = view_->palette();
    pal.setColor(QPalette::Text, qcolor(s_.text_colour));
    pal.setColor(QPalette::Base, qcolor(s_.background));
    view_->setPalette(pal);
    view_->set_drawing(s_.always_show_selection, report && s_.full_row_select);
    view_->setFrameShape(frame_shape(s_.border));
    view_->setFrameShadow(s_.border == 2 ? QFrame::Raised : s_.border == 5 ? QFrame::Plain : QFrame::Sunken);
    view_->setLineWidth(s_.border == 3 ? 1 : 2);
    if (s_.border == 5) view_->setLineWidth(1);
  }

  void detach_widget() override {
    store_->live = false;
    if (view_) view_->detach();
    if (model_) model_->detach();
    store_->model = nullptr;
    view_ = nullptr;
  }

  ListViewSettings s_;
  std::shared_ptr<RowStore> store_;
  QPointer<ListWidget> view_;
  QPointer<ListModel> model_;
};

bool ListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != 0 || !owner_) return false;
  const size_t r = size_t(index.row());
  if (role == Qt::CheckStateRole && check_boxes_) {
    bool on = false;
    {
      std::lock_guard lock(store_->mu);
      if (r >= store_->rows.size()) return false;
      on = value.toInt() == Qt::Checked;
      store_->rows[r].state_image = on ? kChecked : 1;
    }
    emit dataChanged(index, index);
    owner_->checked(index.row(), on);
    return true;
  }
  if (role == Qt::EditRole && editable_) {
    auto text = to_gbk(value.toString());
    if (!text) return false;  // a character the record file could not hold
    if (!owner_->end_edit(index.row())) return false;
    {
      std::lock_guard lock(store_->mu);
      if (r >= store_->rows.size()) return false;
      if (store_->rows[r].cells.empty()) store_->rows[r].cells.resize(1);
      store_->rows[r].cells[0] = std::move(*text);
    }
    emit dataChanged(index, index);
    return true;
  }
  return false;
}

void ListModel::sync() {
  size_t n = 0;
  bool reshaped = false, selection_moved = false;
  {
    std::lock_guard lock(store_->mu);
    n = store_->rows.size();
    reshaped = store_->reshaped;
    selection_moved = store_->selection_moved;
    store_->reshaped = store_->selection_moved = false;
  }
  const int rows = static_cast<int>(std::min<size_t>(n, INT32_MAX));
  if (owner_) owner_->syncing_ = true;
  if (reshaped || rows < shown_) {
    beginResetModel();
    shown_ = rows;
    endResetModel();
    selection_moved = true;
  } else if (rows > shown_) {
    beginInsertRows(QModelIndex(), shown_, rows - 1);
    shown_ = rows;
    endInsertRows();
  }
  if (owner_) owner_->syncing_ = false;
  if (shown_ > 0) emit dataChanged(index(0, 0), index(shown_ - 1, columnCount({}) - 1));
  if (selection_moved && owner_) owner_->selection_to_view();
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
  if (e->button() == Qt::LeftButton) owner_->fire_click(4);
  if (e->button() == Qt::RightButton) owner_->fire_click(5);
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
  QTableView::keyPressEvent(e);
}

QModelIndex ListWidget::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  // Home and End go to the first and the last row, not along the row.
  if (action == MoveHome || action == MoveEnd) modifiers |= Qt::ControlModifier;
  return QTableView::moveCursor(action, modifiers);
}

void ListWidget::paintEvent(QPaintEvent* e) {
  QTableView::paintEvent(e);
  paint_row_focus(this, full_row_);
}

bool ListWidget::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (trigger == AllEditTriggers || !(editTriggers() & trigger))
    return QTableView::edit(index, trigger, event);
  if (owner_ && index.isValid() && index.column() == 0 && !owner_->begin_edit(index.row())) return false;
  return QTableView::edit(index, trigger, event);
}

std::unique_ptr<Control> create_list_view(const CreateParams& p) {
  auto s = ListViewSettings::decode(p.unit.settings);
  if (!s) return nullptr;
  return std::make_unique<ListViewControl>(p, std::move(*s));
}

// The list a thread named last. A worker filling the list names the same control hundreds of
// thousands of times; while that control lives, the registry need not be asked again.
struct LastList {
  int32_t window_id = 0;
  int32_t unit_id = 0;
  std::weak_ptr<RowStore> store;
};
thread_local LastList t_last;

std::shared_ptr<RowStore> store_of(int32_t window_id, int32_t unit_id) {
  if (t_last.window_id == window_id && t_last.unit_id == unit_id) {
    std::shared_ptr<RowStore> s = t_last.store.lock();
    if (s && s->live) return s;
  }
  std::shared_ptr<Control> c = find_control(window_id, unit_id);
  auto* list = dynamic_cast<ListViewControl*>(c.get());
  if (!list) report_fatal_message(kNoControl);
  t_last = {window_id, unit_id, list->store()};
  return list->store();
}

std::shared_ptr<RowStore> store_of(const Value& ref) {
  // A list view's own reference names it directly; any other form goes through the runtime.
  if (ref.kind == kKindListView) return store_of(static_cast<int32_t>(ref.lo), static_cast<int32_t>(ref.hi));
  int32_t w = 0, u = 0;
  if (!read_unit_reference(ref, &w, &u)) report_fatal_message(kNoControl);
  return store_of(w, u);
}

// Hands list updates to the user-interface thread. A store with changes is queued once, under
// `mu_`; one posted event wakes the pump, which takes the whole queue under the same mutex. The
// two threads meet at that mutex, so whatever a worker did before queuing is visible to the update.
class UpdatePump : public QObject {
 public:
  // Made by the first list control, on the user-interface thread, and kept for the whole run.
  static void ensure() {
    if (!pump_.load()) pump_.store(new UpdatePump);
  }
  static UpdatePump* get() { return pump_.load(); }

  void queue(std::shared_ptr<RowStore> store) {
    std::lock_guard lock(mu_);
    const bool wake = queue_.empty();
    queue_.push_back(std::move(store));
    if (wake) QCoreApplication::postEvent(this, new QEvent(kUpdateEvent));
  }

 protected:
  bool event(QEvent* e) override {
    std::vector<std::shared_ptr<RowStore>> stores;
    {
      std::lock_guard lock(mu_);
      stores.swap(queue_);
    }
    if (e->type() != kUpdateEvent) return QObject::event(e);
    for (const auto& s : stores) {
      s->update_posted = false;
      if (s->model) s->model->sync();
    }
    return true;
  }

 private:
  static constexpr QEvent::Type kUpdateEvent = static_cast<QEvent::Type>(QEvent::User + 0x4C56);
  static inline std::atomic<UpdatePump*> pump_{nullptr};
  std::mutex mu_;
  std::vector<std::shared_ptr<RowStore>> queue_;  // GUARDED_BY(mu_)
};

void ensure_update_pump() { UpdatePump::ensure(); }

// One update for any number of changes made before it runs.
void post_update(const std::shared_ptr<RowStore>& store) {
  if (store->update_posted.exchange(true)) return;
  if (UpdatePump* pump = UpdatePump::get()) pump->queue(store);
}

int32_t int_arg(const Value& v, int32_t fallback) { return v.omitted() ? fallback : value_to_int(v); }
std::string_view text_arg(const Value& v) { return v.is(Kind::Text) ? v.text() : std::string_view(); }

int32_t insert_row(RowStore& s, const ListInsertArgs& a) {
  Row row;
  row.cells.emplace_back(a.text.substr(0, a.text.find('\0')));
  row.image = a.image < -1 ? -1 : a.image;
  if (a.has_state_image) row.state_image = std::max(a.state_image + 1, 0) & 0xF;
  row.indent = std::max(a.indent, 0);
  row.value = a.value;
  std::lock_guard lock(s.mu);
  // Room for every column at once: the ledger fills all six cells of each new row.
  row.cells.reserve(std::max<size_t>(s.columns, 1));
  size_t at = s.rows.size();
  if (s.sorting != 0) {
    const std::string& key = row.cells[0];
    auto first = [](const Row& r) {
      return r.cells.empty() ? std::string_view() : std::string_view(r.cells[0]);
    };
    at = 0;
    while (at < s.rows.size() &&
           (s.sorting == 1 ? !sorts_before(key, first(s.rows[at])) : !sorts_before(first(s.rows[at]), key)))
      ++at;
  } else if (a.position >= 0 && size_t(a.position) < s.rows.size()) {
    at = size_t(a.position);
  }
  if (at > size_t(INT32_MAX - 1)) return -1;
  if (at < s.rows.size()) s.reshaped = true;
  s.rows.insert(s.rows.begin() + static_cast<ptrdiff_t>(at), std::move(row));
  return static_cast<int32_t>(at);
}

void set_cell(const std::shared_ptr<RowStore>& store, int32_t row, int32_t column, std::string_view text) {
  {
    std::lock_guard lock(store->mu);
    if (row < 0 || size_t(row) >= store->rows.size() || !store->column_exists(column)) return;
    std::vector<std::string>& cells = store->rows[size_t(row)].cells;
    if (cells.size() <= size_t(column)) cells.resize(std::max(size_t(column) + 1, store->columns));
    cells[size_t(column)].assign(text.substr(0, text.find('\0')));
  }
  post_update(store);
}

}  // namespace

int32_t list_insert_row(int32_t window_id, int32_t unit_id, const ListInsertArgs& args) {
  std::shared_ptr<RowStore> store = store_of(window_id, unit_id);
  const int32_t row = insert_row(*store, args);
  post_update(store);
  return row;
}

void list_set_cell_text(int32_t window_id, int32_t unit_id, int32_t row, int32_t column,
                        std::string_view text) {
  set_cell(store_of(window_id, unit_id), row, column, text);
}

std::string list_get_cell_text(int32_t window_id, int32_t unit_id, int32_t row, int32_t column) {
  std::shared_ptr<RowStore> store = store_of(window_id, unit_id);
  std::lock_guard lock(store->mu);
  if (row < 0 || size_t(row) >= store->rows.size() || !store->column_exists(column)) return {};
  const std::vector<std::string>& cells = store->rows[size_t(row)].cells;
  return size_t(column) < cells.size() ? cells[size_t(column)] : std::string();
}

void list_clear(int32_t window_id, int32_t unit_id) {
  std::shared_ptr<RowStore> store = store_of(window_id, unit_id);
  {
    std::lock_guard lock(store->mu);
    if (store->rows.empty()) return;
    store->rows.clear();
    store->reshaped = true;
  }
  post_update(store);
}

int32_t list_row_count(int32_t window_id, int32_t unit_id) {
  std::shared_ptr<RowStore> store = store_of(window_id, unit_id);
  std::lock_guard lock(store->mu);
  return static_cast<int32_t>(std::min<size_t>(store->rows.size(), INT32_MAX));
}

ListRowState list_row_state(int32_t window_id, int32_t unit_id, int32_t row) {
  std::shared_ptr<RowStore> store = store_of(window_id, unit_id);
  std::lock_guard lock(store->mu);
  if (row < 0 || size_t(row) >= store->rows.size()) return {};
  const Row& r = store->rows[size_t(row)];
  return {true, r.image, r.state_image, r.indent, r.value, r.selected, r.focused};
}

int32_t list_shown_rows(int32_t window_id, int32_t unit_id) {
  std::shared_ptr<RowStore> store = store_of(window_id, unit_id);
  return store->model ? store->model->shown() : 0;
}

void list_insert_row(int argc, const Value* args, Value* result) {
  std::shared_ptr<RowStore> store = store_of(arg(argc, args, 0));
  ListInsertArgs a;
  a.position = int_arg(arg(argc, args, 1), -1);
  a.text = text_arg(arg(argc, args, 2));
  a.image = int_arg(arg(argc, args, 3), -1);
  a.has_state_image = !arg(argc, args, 4).omitted();
  a.state_image = int_arg(arg(argc, args, 4), 0);
  a.indent = int_arg(arg(argc, args, 5), 0);
  a.value = int_arg(arg(argc, args, 6), 0);
  const int32_t row = insert_row(*store, a);
  post_update(store);
  *result = Value::of_int(row);
}

void list_set_cell_text(int argc, const Value* args, Value* /*result*/) {
  set_cell(store_of(arg(argc, args, 0)), int_arg(arg(argc, args, 1), 0), int_arg(arg(argc, args, 2), 0),
           text_arg(arg(argc, args, 3)));
}

void list_get_cell_text(int argc, const Value* args, Value* result) {
  int32_t w = 0, u = 0;
  if (!read_unit_reference(arg(argc, args, 0), &w, &u)) report_fatal_message(kNoControl);
  const std::string text =
      list_get_cell_text(w, u, int_arg(arg(argc, args, 1), 0), int_arg(arg(argc, args, 2), 0));
  *result = Value::of_text_block(new_text_block(text));
}

void list_clear(int argc, const Value* args, Value* /*result*/) {
  int32_t w = 0, u = 0;
  if (!read_unit_reference(arg(argc, args, 0), &w, &u)) report_fatal_message(kNoControl);
  list_clear(w, u);
}

KindDescriptor list_view_kind() {
  using P = PropType;
  return {
      kKindListView,
      "ListView",
      true,
      false,
      {P::Choice,    P::Colour,    P::Colour,  P::Colour,    P::Font,    P::Choice,  P::Choice,  P::Logical,
       P::Logical,   P::Block,     P::Logical, P::ImageList, P::Logical, P::Logical, P::Logical, P::Logical,
       P::ImageList, P::ImageList, P::Logical, P::Logical,   P::Logical, P::Logical, P::Logical, P::Choice,
       P::Logical,   P::Logical,   P::Logical, P::Integer,   P::Logical, P::Block},
      create_list_view};
}

}  // namespace pennacle
