#include "ui/kinds/list_view.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "runtime/fatal.h"
#include "ui/kinds/list_model.h"
#include "ui/kinds/settings_control.h"
#include "ui/template/list_view_settings.h"
#include "ui/text_codec.h"
#include "ui/widget_style.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

constexpr const char* kNoControl = "指定窗口或窗口组件不存在或尚未载入";

// Border codes: 0 none, 1 sunken, 2 raised, 3 thin sunken, 4 sunken and raised, 5 single line.
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

class ListViewControl final : public SettingsControl<ListViewSettings>, public ListOwner {
 public:
  ListViewControl(const CreateParams& p, ListViewSettings s)
      : SettingsControl(p, std::move(s)), store_(std::make_shared<ListStore>()) {
    view_ = new ListWidget(this, p.parent);
    model_ = new ListModel(this, store_, view_);
    view_->setModel(model_);
    store_->model = model_;
    set_up_view();
    connect_view();
    apply_settings();
    store_->rows.replace(settings_.initial_rows);
    store_->rows.select_only(settings_.current_row);
    model_->sync();
  }

  QWidget* widget() const override { return view_; }
  const std::shared_ptr<ListStore>& store() const { return store_; }

 private:
  void set_up_view() {
    view_->verticalHeader()->hide();
    view_->setWordWrap(false);
    view_->setCornerButtonEnabled(false);
    view_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view_->setContextMenuPolicy(Qt::PreventContextMenu);
    view_->setFocusPolicy(Qt::StrongFocus);
    QHeaderView* header = view_->horizontalHeader();
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setMinimumSectionSize(0);
  }

  void connect_view() {
    QObject::connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, context(),
                     [this] { selection_from_view(); });
    QObject::connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, context(),
                     [this](const QModelIndex& current, const QModelIndex&) { current_from_view(current); });
    QObject::connect(view_, &QAbstractItemView::activated, context(), [this] {
      if (!model_->syncing()) fire(kListActivated);
    });
    QObject::connect(view_, &QAbstractItemView::clicked, context(), [this] {
      // One-click activation comes with hot tracking.
      if (settings_.hot_tracking) fire(kListActivated);
    });
    QObject::connect(view_, &QAbstractItemView::entered, context(), [this](const QModelIndex& index) {
      if (settings_.hot_tracking && index.isValid()) fire(kListHotTracked, {index.row()});
    });
    QObject::connect(view_->horizontalHeader(), &QHeaderView::sectionClicked, context(), [this](int section) {
      if (settings_.clickable_header) fire(kListHeaderClicked, {section});
    });
  }

  // ---- Properties ----

  // The current row and the rows live in the store.
  bool read_live(Property p, PropertyData* out) override {
    switch (p) {
      case ListViewSettings::kCurrentRow:
        out->number = store_->rows.first_selected();
        return true;
      case ListViewSettings::kInitialRows:
        out->bytes = encode_rows(store_->rows.rows());
        return true;
      default:
        return false;
    }
  }

  bool write_live(Property p, const PropertyData& in) override {
    switch (p) {
      case ListViewSettings::kCurrentRow:
        store_->rows.select_only(static_cast<int32_t>(in.number));
        model_->sync();
        return true;
      case ListViewSettings::kInitialRows:
        // Replaces the rows, as loading the block at creation would.
        store_->rows.replace(decode_rows(in.bytes).value_or(std::vector<ListRow>()));
        apply(Apply::Widget);
        return true;
      default:
        return false;
    }
  }

  void apply(Apply) override {
    apply_settings();
    model_->sync();
  }

  void apply_settings() {
    if (!view_) return;
    const ListViewSettings& s = settings_;
    const bool report = s.view == kListViewReport;
    store_->rows.set_shape(report ? s.columns.size() : 1, s.sorting);
    std::vector<ListColumn> columns = s.columns;
    // The icon and list views show the rows' main texts only.
    if (!report) columns = {ListColumn{false, -1, 0, std::max(view_->width(), 1), ""}};
    model_->set_columns(columns, s.check_boxes, s.label_editing, s.full_row_select || !report,
                        qcolor(s.text_background));
    apply_font(view_, s.font);
    apply_header(columns, report);
    apply_behaviour(report);
    apply_look(report);
  }

  void apply_header(const std::vector<ListColumn>& columns, bool report) {
    const ListViewSettings& s = settings_;
    QHeaderView* header = view_->horizontalHeader();
    header->setFont(view_->font());
    header->setVisible(report && !s.hide_header);
    header->setSectionsClickable(s.clickable_header);
    header->setSectionsMovable(s.header_drag_drop);
    for (size_t i = 0; i < columns.size(); ++i) {
      const int w = std::max(columns[i].width, 0);
      header->setSectionHidden(int(i), w == 0);
      if (w > 0) header->resizeSection(int(i), w);
    }
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
    view_->verticalHeader()->setMinimumSectionSize(1);
  }

  void apply_behaviour(bool report) {
    const ListViewSettings& s = settings_;
    view_->setShowGrid(report && s.grid_lines);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(s.single_selection ? QAbstractItemView::SingleSelection
                                               : QAbstractItemView::ExtendedSelection);
    view_->setEditTriggers(s.label_editing
                               ? QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed
                               : QAbstractItemView::NoEditTriggers);
    view_->setMouseTracking(s.hot_tracking);
    view_->viewport()->setCursor(s.hot_tracking && s.hand_cursor ? Qt::PointingHandCursor : Qt::ArrowCursor);
  }

  void apply_look(bool report) {
    const ListViewSettings& s = settings_;
    QPalette pal = view_->palette();
    pal.setColor(QPalette::Text, qcolor(s.text_colour));
    pal.setColor(QPalette::Base, qcolor(s.background));
    view_->setPalette(pal);
    view_->set_drawing(s.always_show_selection, report && s.full_row_select);
    view_->setFrameShape(frame_shape(s.border));
    view_->setFrameShadow(s.border == 2 ? QFrame::Raised : s.border == 5 ? QFrame::Plain : QFrame::Sunken);
    view_->setLineWidth(s.border == 3 || s.border == 5 ? 1 : 2);
  }

  // ---- Selection between the view and the store ----

  void selection_from_view() {
    if (model_->syncing() || !view_) return;
    std::vector<int> rows;
    for (const QModelIndex& i : view_->selectionModel()->selectedIndexes()) rows.push_back(i.row());
    store_->rows.set_selected(rows);
  }

  void current_from_view(const QModelIndex& current) {
    if (model_->syncing()) return;
    if (store_->rows.set_focused(current.isValid() ? current.row() : -1)) fire(kListCurrentChanged);
  }

  void selection_to_view() override {
    if (!view_) return;
    std::vector<int> selected;
    int focused = -1;
    store_->rows.selection(static_cast<size_t>(model_->shown()), &selected, &focused);
    model_->set_syncing(true);
    QItemSelectionModel* sm = view_->selectionModel();
    QItemSelection sel;
    for (int r : selected) sel.select(model_->index(r, 0), model_->index(r, model_->columnCount({}) - 1));
    sm->select(sel, QItemSelectionModel::ClearAndSelect);
    sm->setCurrentIndex(focused >= 0 ? model_->index(focused, 0) : QModelIndex(),
                        QItemSelectionModel::NoUpdate);
    model_->set_syncing(false);
  }

  // The row becomes the only selected and the focused one, as the native list does on a press of
  // either button; empty space clears the selection.
  void click_select(int row, bool keep_if_selected) override {
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

  // ---- Events ----

  void clicked(ListViewEvent event) override { fire(event); }
  bool begin_edit(int row) override {
    return !handler_refused(fire_event(window_id(), unit_id(), kListBeginEdit, {row}));
  }
  bool end_edit(int row) override {
    return !handler_refused(fire_event(window_id(), unit_id(), kListEndEdit, {row}));
  }
  void row_checked(int row, bool on) override { fire(kListCheckToggled, {row, on ? 1 : 0}); }

  void detach_widget() override {
    store_->live = false;
    if (view_) view_->detach();
    if (model_) model_->detach();
    store_->model = nullptr;
    view_ = nullptr;
  }

  std::shared_ptr<ListStore> store_;
  QPointer<ListWidget> view_;
  QPointer<ListModel> model_;
};

// The list a thread named last. A worker filling the list names the same control hundreds of
// thousands of times; while that control lives, the registry need not be asked again.
struct LastList {
  int32_t window_id = 0;
  int32_t unit_id = 0;
  std::weak_ptr<ListStore> store;
};
thread_local LastList t_last;

}  // namespace

std::shared_ptr<ListStore> list_store_of(int32_t window_id, int32_t unit_id) {
  if (t_last.window_id == window_id && t_last.unit_id == unit_id) {
    std::shared_ptr<ListStore> s = t_last.store.lock();
    if (s && s->live) return s;
  }
  std::shared_ptr<Control> c = find_control(window_id, unit_id);
  auto* list = dynamic_cast<ListViewControl*>(c.get());
  if (!list) report_fatal_message(kNoControl);
  t_last = {window_id, unit_id, list->store()};
  return list->store();
}

void post_list_update(const std::shared_ptr<ListStore>& store) {
  if (store->update_posted.exchange(true)) return;
  post_to_ui_thread([store] {
    store->update_posted = false;
    if (store->model) store->model->sync();
  });
}

KindDescriptor list_view_kind() {
  return settings_kind<ListViewSettings>(kKindListView, "ListView", create_from_settings<ListViewControl>);
}

}  // namespace pennacle
