// Descriptors of the basic control kinds, and the status bar's command.
#pragma once

#include <string_view>

#include "runtime/value.h"
#include "ui/kind.h"

namespace pennacle {

KindDescriptor edit_box_kind();
KindDescriptor combo_box_kind();
KindDescriptor button_kind();
KindDescriptor group_box_kind();
KindDescriptor trans_label_kind();
KindDescriptor status_bar_kind();

// Sets the text of a status-bar pane; an index outside 0..count-1 does nothing. Safe from any
// thread and never waits for the user-interface thread: the pane table changes under the
// control's own mutex and one coalesced repaint is posted. Fatal "指定窗口或窗口组件不存在或尚未载入"
// when the control is not loaded.
void status_set_pane_text(int32_t window_id, int32_t unit_id, int32_t pane, std::string_view text);
// The command form: the control (a unit reference), the pane index (Int), the text (optional Text,
// omitted: empty).
void status_set_pane_text_command(int argc, const Value* args, Value* result);
// The pane texts as the control holds them now (any thread).
std::string status_pane_text(int32_t window_id, int32_t unit_id, int32_t pane);

}  // namespace pennacle
