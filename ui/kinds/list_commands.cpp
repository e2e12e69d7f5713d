// The list view's commands: each names the control, changes or reads its rows in the store, and
// posts one view update for any number of changes. Safe from any thread; none waits for the
// user-interface thread.
#include "runtime/args.h"
#include "runtime/fatal.h"
#include "ui/kinds/list_model.h"
#include "ui/kinds/list_view.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

constexpr const char* kNoControl = "指定窗口或窗口组件不存在或尚未载入";

std::shared_ptr<ListStore> store_of(const Value& ref) {
  // A list view's own reference names it directly; any other form goes through the runtime.
  if (ref.kind == kKindListView)
    return list_store_of(static_cast<int32_t>(ref.lo), static_cast<int32_t>(ref.hi));
  int32_t w = 0, u = 0;
  if (!read_unit_reference(ref, &w, &u)) report_fatal_message(kNoControl);
  return list_store_of(w, u);
}

int32_t insert_row(const std::shared_ptr<ListStore>& store, const ListInsertArgs& args) {
  const int32_t row = store->rows.insert(args);
  post_list_update(store);
  return row;
}

void set_cell(const std::shared_ptr<ListStore>& store, int32_t row, int32_t column, std::string_view text) {
  if (store->rows.set_cell(row, column, text)) post_list_update(store);
}

void clear(const std::shared_ptr<ListStore>& store) {
  if (store->rows.clear()) post_list_update(store);
}

}  // namespace

int32_t list_insert_row(int32_t window_id, int32_t unit_id, const ListInsertArgs& args) {
  return insert_row(list_store_of(window_id, unit_id), args);
}

void list_set_cell_text(int32_t window_id, int32_t unit_id, int32_t row, int32_t column,
                        std::string_view text) {
  set_cell(list_store_of(window_id, unit_id), row, column, text);
}

std::string list_get_cell_text(int32_t window_id, int32_t unit_id, int32_t row, int32_t column) {
  return list_store_of(window_id, unit_id)->rows.cell(row, column);
}

void list_clear(int32_t window_id, int32_t unit_id) { clear(list_store_of(window_id, unit_id)); }

int32_t list_row_count(int32_t window_id, int32_t unit_id) {
  return list_store_of(window_id, unit_id)->rows.count();
}

ListRowState list_row_state(int32_t window_id, int32_t unit_id, int32_t row) {
  return list_store_of(window_id, unit_id)->rows.state(row);
}

int32_t list_shown_rows(int32_t window_id, int32_t unit_id) {
  std::shared_ptr<ListStore> store = list_store_of(window_id, unit_id);
  return store->model ? store->model->shown() : 0;
}

void list_insert_row(int argc, const Value* args, Value* result) {
  const Args a(argc, args);
  std::shared_ptr<ListStore> store = store_of(a[0]);
  ListInsertArgs row;
  row.position = a.integer(1, -1);
  row.text = a.text(2);
  row.image = a.integer(3, -1);
  row.has_state_image = !a.omitted(4);
  row.state_image = a.integer(4, 0);
  row.indent = a.integer(5, 0);
  row.value = a.integer(6, 0);
  *result = Value::of_int(insert_row(store, row));
}

void list_set_cell_text(int argc, const Value* args, Value* /*result*/) {
  const Args a(argc, args);
  set_cell(store_of(a[0]), a.integer(1), a.integer(2), a.text(3));
}

void list_get_cell_text(int argc, const Value* args, Value* result) {
  const Args a(argc, args);
  const std::string text = store_of(a[0])->rows.cell(a.integer(1), a.integer(2));
  *result = Value::of_text_block(new_text_block(text));
}

void list_clear(int argc, const Value* args, Value* /*result*/) { clear(store_of(Args(argc, args)[0])); }

}  // namespace pennacle
