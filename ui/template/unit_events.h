// Event numbers of the window, the menu item and the control kinds, as templates bind them. A unit
// fires its events with these numbers; a binding names one and the handler to run.
#pragma once

#include <cstdint>

namespace pennacle {

// Every window unit.
enum FocusEvent : int32_t {
  kFocusGained = -7,
  kFocusLost = -8,
};

enum WindowEvent : int32_t {
  kWindowCreated = 0,     // after loading
  kWindowCloseQuery = 1,  // a close was asked for (after kWindowCloseRequest); false keeps it open
  kWindowDestroyed = 2,   // being destroyed, while its controls still exist
  kWindowMoved = 3,
  kWindowResized = 4,
  kWindowShown = 10,
  kWindowHidden = 11,
  kWindowCloseRequest = 12,  // the first of the two close events; false keeps it open
};

enum MenuItemEvent : int32_t {
  kMenuItemSelected = 0,
};

enum ButtonEvent : int32_t {
  kButtonClicked = 0,
};

// Arguments are Ints.
enum ListViewEvent : int32_t {
  kListCurrentChanged = 0,  // a row gained the focused state
  kListActivated = 1,
  kListHeaderClicked = 2,  // column index
  kListHotTracked = 3,     // row index
  kListClicked = 4,        // after the click selected; no row argument
  kListRightClicked = 5,   // likewise
  kListBeginEdit = 6,      // row index; false cancels the edit
  kListEndEdit = 7,        // row index; false rejects the new text
  kListCheckToggled = 8,   // row index, check state after the toggle
};

}  // namespace pennacle
