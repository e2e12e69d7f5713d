// The window commands of the general command set: message boxes, the clipboard and popup menus.
// Each may be called on any thread; the work itself runs on the user-interface thread while the
// caller waits.
#pragma once

#include <QMessageBox>
#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/value.h"

namespace pennacle {

// Style bits of a message box.
inline constexpr int32_t kBoxOk = 0x0;
inline constexpr int32_t kBoxOkCancel = 0x1;
inline constexpr int32_t kBoxAbortRetryIgnore = 0x2;
inline constexpr int32_t kBoxYesNoCancel = 0x3;
inline constexpr int32_t kBoxYesNo = 0x4;
inline constexpr int32_t kBoxRetryCancel = 0x5;
inline constexpr int32_t kBoxIconError = 0x10;
inline constexpr int32_t kBoxIconQuestion = 0x20;
inline constexpr int32_t kBoxIconWarning = 0x30;
inline constexpr int32_t kBoxIconInformation = 0x40;
inline constexpr int32_t kBoxSystemModal = 0x1000;
inline constexpr int32_t kBoxTaskModal = 0x2000;
inline constexpr int32_t kBoxTopmost = 0x40000;

// Results: the button that closed the box.
enum BoxResult : int32_t {
  kResultOk = 0,
  kResultCancel = 1,
  kResultAbort = 2,
  kResultRetry = 3,
  kResultIgnore = 4,
  kResultYes = 5,
  kResultNo = 6,
};

// The text a message box shows for a value: numbers as value_to_text gives them, a Logical as
// "真" or "假", a DateTime by date_time_to_text, a Text as it is; any other kind shows nothing.
std::string message_text(const Value& message);

// message (any value), style (Int), [title Text, default "信息："], [parent: a window reference,
// or an Int taken as a native window handle] -> Int: the button. The box is application-modal
// (a task-modal box is modal for the whole program, and this program has one task).
void message_box(int argc, const Value* args, Value* result);
// The plain form; `parent` null for none.
int32_t show_message_box(std::string_view text, int32_t style, std::string_view title, QWidget* parent);
// The width a top-level window needs for a window manager to show `title` whole: the title in a
// bold title-bar font, beside the frame's icon and its three buttons, each a title bar high.
int title_room(const QWidget& window, const QString& title);
// Widens a message box to title_room when its text and buttons alone would make it narrower.
void fit_box_to_title(QMessageBox& box);

// text (Text) -> Logical: the text as plain text on the clipboard; false when the clipboard
// cannot be had (no application, or the text did not arrive). An empty text gives an empty
// clipboard text and true.
void set_clipboard_text(int argc, const Value* args, Value* result);
bool set_clipboard_text(std::string_view gbk);

// window reference, menu item reference, [x], [y]: pops up the item's descendants at the mouse
// position moved 3 pixels right and down (x and y replace either coordinate, screen pixels) and
// returns when the menu closes; a chosen entry reaches the window as a menu event. Fatal
// "指定窗口或窗口组件不存在或尚未载入" when the window is not loaded; a menu item of another window,
// or one that does not exist, does nothing.
void show_popup_menu(int argc, const Value* args, Value* result);

// Where a popup goes for a cursor position and the optional overrides.
QPoint popup_position(QPoint cursor, const Value& x, const Value& y);

}  // namespace pennacle
