// The window runtime: loads windows from their templates, keeps the registry of loaded windows
// and their units, gives access to unit properties by number, turns widget activity into numbered
// events for the application's handlers, builds menus and runs the message loop.
//
// The application names a window by its window id and a control or menu item by its unit id
// (unit id 0 in events and property access means the window's own unit).
//
// Threads. Windows are created and their events handled on the user-interface thread: the one
// that called runtime_start. Any thread may call get_property, set_property, fire_event and the
// kind commands. From another thread, property access and fire_event are carried out on the
// user-interface thread while the caller waits (a blocking queued call). REQUIRES: a worker
// calling them holds no lock that the user-interface thread may wait on, or the two deadlock;
// a worker that holds such a lock uses only kind commands that never wait (status_set_pane_text
// and the list commands).
#pragma once

#include <QMenu>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>

#include "runtime/program_end.h"  // on_ui_thread
#include "runtime/value.h"
#include "ui/kind.h"

namespace pennacle {

// A handler of the application: the command shape. Event arguments arrive as Int values; a
// handler that gives no result leaves `result` cleared. A Logical false result refuses a close.
using EventHandler = Command;

// Starts the runtime on the calling thread, which becomes the user-interface thread: creates the
// Qt application if there is none, fixes the program directory as the current directory, creates
// the hidden owner window, reads the serialized templates (fatal "载入窗口模板数据段出错!" when
// they are malformed) and turns every handler offset into the handler in that slot of `handlers`
// (an offset outside the table is a malformed template; a null slot is a binding without
// handler). Calling it again (tests) first destroys every loaded window.
void runtime_start(std::string_view templates, std::span<const EventHandler> handlers);

// Loads the window; fatal "载入启动窗口失败" when there is no such template or a unit cannot be
// created (what was made is destroyed first).
void load_start_window(int32_t window_id);
// The same without the fatal report: false when the window cannot be loaded.
[[nodiscard]] bool load_window(int32_t window_id);

// Runs until no loaded window is alive (returns at once when none is). Idle callbacks run each
// time the loop is about to wait.
void run_message_loop();

// Properties every window and control has; the kind's own follow from kFirstKindProperty on
// (their numbers are in the kinds' settings structs).
enum CommonProperty : int32_t {
  kPropLeft = 0,
  kPropTop = 1,
  kPropWidth = 2,
  kPropHeight = 3,
  kPropTag = 4,
  kPropVisible = 5,
  kPropDisabled = 6,
  kPropMousePointer = 7,
  kFirstKindProperty = 8,
};
// The properties of a menu item.
enum MenuItemProperty : int32_t {
  kMenuPropCaption = 0,
  kMenuPropChecked = 1,
  kMenuPropDisabled = 2,
  kMenuPropVisible = 3,
};
// The part of a font property a sub-field reads or writes; kWholeValue for the font record.
enum FontPart : int32_t {
  kWholeValue = -1,
  kFontAngle = 0,  // tenths of a degree
  kFontBold = 1,
  kFontItalic = 2,
  kFontUnderline = 3,
  kFontStrikeOut = 4,
  kFontSize = 5,  // points
  kFontFace = 6,
};

// Property `property` of a unit (CommonProperty, then the kind's; a menu item has its own four).
// `sub` selects a part of a font (FontPart), kWholeValue the whole value. The caller owns the
// result (texts are new copies).
[[nodiscard]] Value get_property(int32_t window_id, int32_t unit_id, int32_t property,
                                 int32_t sub = kWholeValue);
void set_property(int32_t window_id, int32_t unit_id, int32_t property, int32_t sub, const Value& value);

// The live control; fatal "指定窗口或窗口组件不存在或尚未载入" when the window is not loaded or the
// unit has no live control. Safe from any thread: the control stays valid while the pointer is
// held, even if its window goes (its widget then is gone).
std::shared_ptr<Control> find_control(int32_t window_id, int32_t unit_id);
// The same, for a unit reference value (see unit_reference).
std::shared_ptr<Control> find_control(const Value& unit_ref);

struct EventResult {
  bool ran = false;         // a handler ran
  bool has_result = false;  // and gave a result
  Value result;             // owned by the caller when it holds a block
};
// True when the handler gave a logical false, which refuses what the event announced (a close, a
// label edit); releases the result.
bool handler_refused(EventResult result);
// Fires an event of a unit (0: the window's own unit) with up to five Int arguments.
EventResult fire_event(int32_t window_id, int32_t unit_id, int32_t event,
                       std::initializer_list<int32_t> args = {});
void block_events();
void unblock_events();

struct EventSource {
  int32_t window_id = 0;
  int32_t unit_id = 0;
};
// The unit whose event is being handled; zeros outside a handler.
EventSource current_event_source();

// Registers a routine called at idle while the window exists.
using IdleRoutine = void (*)(intptr_t arg);
void add_idle_callback(int32_t window_id, IdleRoutine routine, intptr_t arg);

// A unit reference value: kind code = the unit's kind reference (0x00010001 for a window),
// payload low = window id, high = unit id. Kind commands take one as their first argument.
Value unit_reference(int32_t window_id, int32_t unit_id);
bool read_unit_reference(const Value& v, int32_t* window_id, int32_t* unit_id);

// ---- For kind commands, the UI commands and tests -------------------------------------------

bool is_window_loaded(int32_t window_id);
// The top-level widget of a loaded window, or nullptr.
QWidget* window_widget(int32_t window_id);
// The widget of a unit's live control, or nullptr. A control's widget carries its control
// identifier (100, 110, ... in creation order) as the dynamic property "pn_control_id".
QWidget* unit_widget(int32_t window_id, int32_t unit_id);
// What a window does with a command identifier: 20000 + position fires the selected event of
// that menu item (nothing beyond the items); 57600 and up are the system's.
void dispatch_menu_command(int32_t window_id, int32_t command_id);
// Fills `menu` with the descendants of a menu item (whether or not the item itself is hidden),
// keeping their command identifiers; choosing an entry dispatches its command. False when the
// window is not loaded or the unit is not one of its menu items.
bool build_popup_menu(int32_t window_id, int32_t item_unit_id, QMenu* menu);
// The command identifier an action of a built menu carries (QAction::data()).
inline constexpr int kFirstMenuCommand = 20000;
inline constexpr int kFirstSystemCommand = 57600;
// Asks the window to close, as the close box does (events 12 and 1 may refuse).
void close_window(int32_t window_id);

// on_ui_thread() (runtime/program_end.h) tells the user-interface thread; runtime_start marks it.
// Runs `fn` on the user-interface thread: at once when called there, else queued while the caller
// waits (see the rule at the top).
void run_on_ui_thread(const std::function<void()>& fn);
// Queues `fn` for the user-interface thread without waiting.
void post_to_ui_thread(std::function<void()> fn);

// The template copy of a loaded or loadable window (common-property changes land there).
const WindowTemplate* window_template(int32_t window_id);

}  // namespace pennacle
