#include "runtime/worker_thread.h"

#include <atomic>
#include <map>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/mutex.h"
#include "runtime/convert.h"
#include "runtime/fatal.h"

namespace pennacle {
namespace {

// What a handle refers to; shared by the handle table and the running thread.
struct ThreadState {
  std::atomic<bool> finished{false};
  std::atomic<int32_t> exit_code{0};
};

std::atomic<bool> g_refuse_threads{false};
constinit Mutex g_mutex;
std::map<int32_t, std::shared_ptr<ThreadState>> g_handles GUARDED_BY(g_mutex);
int32_t g_next_handle GUARDED_BY(g_mutex) = 0x100;

// Handles are multiples of 4 and never 0, as handles of the host system are.
int32_t new_handle_locked(std::shared_ptr<ThreadState> state) REQUIRES(g_mutex) {
  g_mutex.assert_held();
  while (g_next_handle <= 0 || g_handles.count(g_next_handle) != 0) {
    g_next_handle = g_next_handle <= 0 ? 0x100 : g_next_handle + 4;
  }
  int32_t h = g_next_handle;
  g_next_handle += 4;
  g_handles.emplace(h, std::move(state));
  return h;
}

// Location of the argument checks in this command, for the error box.
constexpr int32_t kLocation = 0x00440001;

}  // namespace

void start_worker_thread(int argc, const Value* args, Value* result) {
  const Value& routine_arg = arg(argc, args, 0);
  if (!routine_arg.is(Kind::SubroutineRef) || routine_arg.payload() == 0) {
    raise_fault(kFaultBadArgumentKind, kLocation, 1);
  }
  auto routine = reinterpret_cast<ThreadRoutine>(static_cast<uintptr_t>(routine_arg.payload()));
  const Value& param_arg = arg(argc, args, 1);
  const int32_t parameter = argc >= 2 && !param_arg.omitted() ? value_to_int(param_arg) : 0;
  const Value& handle_arg = arg(argc, args, 2);
  int32_t* handle_var = nullptr;
  if (argc >= 3 && !handle_arg.omitted()) {
    if (handle_arg.kind != (static_cast<uint32_t>(Kind::Int) | kArrayFlag) ||
        handle_arg.pointer() == nullptr) {
      raise_fault(kFaultBadArgumentKind, kLocation, 3);
    }
    handle_var = static_cast<int32_t*>(handle_arg.pointer());
  }

  auto state = std::make_shared<ThreadState>();
  bool started = !g_refuse_threads.load();
  try {
    if (started)
      std::thread([routine, parameter, state] {
        state->exit_code.store(routine(parameter));
        state->finished.store(true, std::memory_order_release);
      }).detach();
  } catch (const std::system_error&) {
    started = false;  // the system refused a new thread
  }
  if (handle_var != nullptr) {
    int32_t h = 0;
    if (started) {
      MutexLock lock(g_mutex);
      h = new_handle_locked(state);
    }
    *handle_var = h;
  }
  *result = Value::of_logical(started);
}

void refuse_worker_threads_for_test(bool refuse) { g_refuse_threads = refuse; }

bool close_thread_handle(int32_t handle) {
  MutexLock lock(g_mutex);
  return g_handles.erase(handle) != 0;
}

bool thread_handle_finished(int32_t handle, bool* finished, int32_t* exit_code) {
  MutexLock lock(g_mutex);
  auto it = g_handles.find(handle);
  if (it == g_handles.end()) return false;
  *finished = it->second->finished.load(std::memory_order_acquire);
  *exit_code = it->second->exit_code.load();
  return true;
}

size_t open_thread_handle_count() {
  MutexLock lock(g_mutex);
  return g_handles.size();
}

}  // namespace pennacle
