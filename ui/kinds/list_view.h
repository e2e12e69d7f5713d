// The report list view kind and its four commands.
//
// The control keeps its rows in its own store, guarded by the store's mutex. The commands change
// or read that store from any thread and never wait for the user-interface thread: a change posts
// one coalesced update, and the Qt view reads the store when it paints. The store also holds each
// row's selected and focused state, so property 35 (first selected row) is right at once after a
// command, before the view has caught up.
//
// Commands name the control by a unit reference (see unit_reference) and end the program with
// "指定窗口或窗口组件不存在或尚未载入" when the window is not loaded or the unit is not a list view.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/value.h"
#include "ui/kind.h"
#include "ui/kinds/list_rows.h"

namespace pennacle {

KindDescriptor list_view_kind();

// ---- Commands ---------------------------------------------------------------------------------

// control, [position], [text], [image], [state image], [indent], [item value] -> Int: the new row's
// index. Position omitted or negative (or past the end): after the last row; in a sorted list the
// row goes where its text sorts. Image omitted or below -1: -1. State image: (index + 1) as the
// row's state-image number, a negative sum taken as 0; omitted: none. Indent below 0: 0.
void list_insert_row(int argc, const Value* args, Value* result);
// control, row, [column = 0], [text = ""]. A missing row or column does nothing.
void list_set_cell_text(int argc, const Value* args, Value* result);
// control, row, [column = 0] -> Text: a new copy; empty for an empty cell, a missing row or column.
void list_get_cell_text(int argc, const Value* args, Value* result);
// control. Deletes every row.
void list_clear(int argc, const Value* args, Value* result);

// ---- Plain forms (any thread) -----------------------------------------------------------------

int32_t list_insert_row(int32_t window_id, int32_t unit_id, const ListInsertArgs& args);
void list_set_cell_text(int32_t window_id, int32_t unit_id, int32_t row, int32_t column,
                        std::string_view text);
std::string list_get_cell_text(int32_t window_id, int32_t unit_id, int32_t row, int32_t column);
void list_clear(int32_t window_id, int32_t unit_id);
int32_t list_row_count(int32_t window_id, int32_t unit_id);

// A row's attributes as the store holds them (tests and the check-box path).
ListRowState list_row_state(int32_t window_id, int32_t unit_id, int32_t row);

// Rows the view shows now (user-interface thread); it catches up with the store at each update.
int32_t list_shown_rows(int32_t window_id, int32_t unit_id);

}  // namespace pennacle
