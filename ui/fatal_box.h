// The error box of the fatal path on Qt: a critical QMessageBox titled "错误", application-modal.
#pragma once

#include <string_view>

namespace pennacle {

// Installs the box as the fatal presenter (runtime_start does this).
void install_fatal_box();

// Shows the box and returns once the user has closed it. On a worker thread the box is shown by
// the user-interface thread while the worker waits; when that thread does not take the box up
// within a few seconds (it is itself waiting, for example on a lock the worker holds), the text
// goes to the standard error stream instead, so that the program still ends.
void show_fatal_box(std::string_view text, std::string_view title);

}  // namespace pennacle
