// Worker threads: a routine of the program run once on a new detached thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/value.h"

namespace pennacle {

// A thread routine: entered with one 32-bit parameter; its result is the thread's exit code.
// A SubroutineRef value carries its address in the payload.
using ThreadRoutine = int32_t (*)(int32_t parameter);

inline Value thread_routine_value(ThreadRoutine routine) {
  return Value::make(Kind::SubroutineRef, reinterpret_cast<uintptr_t>(routine));
}

// start_worker_thread(routine, [parameter], [handle variable]): starts the routine on a new thread
// with the parameter (0 when left out) and returns Logical true when the thread was made. With a
// handle variable (a by-reference Int) the handle is stored there (0 on failure) and the caller
// owns it; without one it is closed at once. Closing a handle never stops its thread, and no thread
// is ever joined: the end of the program ends them all. A routine that is not a SubroutineRef, or
// a handle variable that is not a reference to an Int, is runtime fault 11.
void start_worker_thread(int argc, const Value* args, Value* result);

// Tests: while set, every start fails as when the system has no thread to give.
void refuse_worker_threads_for_test(bool refuse);

// CloseHandle of a thread handle: false for a handle that is not open.
bool close_thread_handle(int32_t handle);

// For a handle still open: whether its thread has returned, and then its exit code.
bool thread_handle_finished(int32_t handle, bool* finished, int32_t* exit_code);

// Thread handles currently open.
size_t open_thread_handle_count();

}  // namespace pennacle
