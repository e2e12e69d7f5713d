// The end of the program: exit routines, the ordered end sequence, and the hand-over of an end
// requested on a worker thread to the user-interface thread.
//
// Exit status: 0 after a normal end, 255 after a fatal error (the code -1: POSIX keeps the low 8
// bits). The process ends with _exit once the exit routines have run, so a worker thread that
// is still running never sees static destructors.
#pragma once

#include <cstdint>

namespace pennacle {

using ExitRoutine = void (*)();

// Appends a routine to the exit routine list unless it is already there. Called at start-up, on the
// user-interface thread (asserted).
void register_exit_routine(ExitRoutine routine);

// Ends the program with `code`, in order:
//  1. on another thread than the user-interface thread: hand the request to that thread and end
//     the process at once when it does not take it over (it may be busy or waiting on a lock);
//  2. mark the program as ending (a second request only ends the process);
//  3. tell the window runtime;
//  4. run the exit routines in the order of registration, then empty the list;
//  5. tell the support libraries;
//  6. free the libraries loaded for outside functions and release the runtime's resources;
//  7. end the process with the code.
[[noreturn]] void end_program(int32_t code);

// What report_fatal does after the box: the exit routines are dropped without running and the
// program ends with -1.
[[noreturn]] void end_program_after_fatal();

// True once step 2 has run.
bool program_ending();

// ---- What the window layer installs (runtime/ knows no Qt) -------------------------------------

// Marks the calling thread as the user-interface thread. Until then it is the process's first
// thread.
void set_ui_thread_here();
bool on_ui_thread();

// Queues `call(argument)` onto the user-interface thread and returns at once; false when it
// cannot (no event loop). Without a poster an end requested on a worker thread runs right there.
using UiCall = void (*)(int32_t argument);
using UiThreadPoster = bool (*)(UiCall call, int32_t argument);
void set_ui_thread_poster(UiThreadPoster poster);

// Step 3 (window runtime), step 5 (support libraries, at most 8) and step 6 (remaining runtime
// resources such as the hidden owner window).
using EndNotice = void (*)();
void set_window_runtime_end(EndNotice notice);
void register_support_library_end(EndNotice notice);
void set_runtime_release(EndNotice notice);

// How long a worker thread waits for the user-interface thread to take an end over, and then for
// that thread to finish it, before it ends the process itself. Defaults: 2 s and 10 s.
void set_end_handover_waits(int take_over_ms, int finish_ms);

}  // namespace pennacle
