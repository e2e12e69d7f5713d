// Hooks between the window widget and the runtime; not for the application.
#pragma once

#include <cstdint>

namespace pennacle {

// The close box was used: fires events 12 and 1; false when a handler refused the close.
bool window_close_requested(int32_t window_id);
// The close was accepted: fires event 2 while the controls still exist, then unloads the window.
void window_closing(int32_t window_id);

}  // namespace pennacle
