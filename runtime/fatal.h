// The one path for faults the program cannot carry on from: an error box titled "错误" that names
// the fault and where it happened, then the end of the program with status 255.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pennacle {

// Runtime fault codes 1 to 11 (the application's own checks).
inline constexpr int32_t kFaultNotNumeric = 2;
inline constexpr int32_t kFaultKindMismatch = 5;
inline constexpr int32_t kFaultStackMismatch = 6;
inline constexpr int32_t kFaultBadArgumentKind = 11;

struct FatalReport {
  std::string message;  // GBK, may be empty
  int32_t code = 0;     // fault code, 0 for a runtime message
  int32_t location = 0;
  int32_t second = 0;  // check number, or a unit id when location is a window id
};

// The text of a fault code 1..11; "" for any other code.
std::string_view fault_text(int32_t code);

// The error box text, "\r\n" line ends, GBK.
std::string fatal_box_text(const FatalReport& report);

// Shows the box and ends the program. Up to the presenter nothing allocates (the text is built in
// a fixed buffer; a message beyond 4 KiB is cut), so running out of memory can still be reported;
// only a window id as the location asks the window runtime for names, and a hook gets a copy.
[[noreturn]] void report_fatal(std::string_view message, int32_t code, int32_t location, int32_t second);
[[noreturn]] void report_fatal_message(std::string_view message);
[[noreturn]] void raise_fault(int32_t code, int32_t location, int32_t check);

// Shows the box (text and title GBK) and returns when the user has closed it. The window layer
// installs a Qt one; the default writes UTF-8 to stderr without allocating. nullptr restores the
// default. Returns the previous presenter.
// It is called on whichever thread reported the fault, possibly a worker while the user-interface
// thread waits on a lock that worker holds: it must not wait on the user-interface thread without
// a bound.
using FatalPresenter = void (*)(std::string_view text, std::string_view title);
FatalPresenter set_fatal_presenter(FatalPresenter presenter);

// Replaces the whole fatal path (box and end of program). It must not return: tests throw from it.
// nullptr restores the normal path. Returns the previous hook.
using FatalHook = void (*)(const FatalReport& report);
FatalHook set_fatal_hook(FatalHook hook);

// Names for the location lines of a report whose location is a window id; supplied by the window
// runtime. Without one, every window counts as not loaded.
struct WindowNames {
  bool window_loaded = false;
  std::string window;  // GBK
  bool control_found = false;
  std::string control;  // GBK
};
using WindowNameLookup = WindowNames (*)(int32_t window_id, int32_t unit_id);
void set_window_name_lookup(WindowNameLookup lookup);

// What ends the program after the box: by default end_program_after_fatal (exit routines dropped,
// libraries freed, status 255). Tests may install their own.
using FatalEnd = void (*)();
void set_fatal_end(FatalEnd end);

}  // namespace pennacle
