#include "runtime/worker_thread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>

#include "runtime/commands.h"
#include "runtime/fatal.h"
#include "testing/fatal_capture.h"

namespace pennacle {
namespace {

std::atomic<bool> g_release{false};
std::atomic<int32_t> g_seen{-1};
std::atomic<int> g_runs{0};

int32_t wait_then_double(int32_t parameter) {
  g_seen.store(parameter);
  while (!g_release.load()) ::usleep(1000);
  g_runs.fetch_add(1);
  return parameter * 2;
}

int32_t count_run(int32_t parameter) {
  g_seen.store(parameter);
  g_runs.fetch_add(1);
  return 0;
}

// Waits for a condition the started thread makes true; a bounded wait, not a speed check.
template <typename Pred>
bool eventually(Pred p) {
  for (int i = 0; i < 10000 && !p(); ++i) ::usleep(1000);
  return p();
}

TEST(WorkerThread, RoutineOnlyStartsWithParameterZeroAndLeavesNoHandle) {
  const size_t handles = open_thread_handle_count();
  g_seen.store(-1);
  const int runs = g_runs.load();
  Value r = call_command(start_worker_thread, {thread_routine_value(count_run)});
  EXPECT_TRUE(r.is(Kind::Logical));
  EXPECT_EQ(r.lo, 1u);
  EXPECT_EQ(open_thread_handle_count(), handles);
  EXPECT_TRUE(eventually([&] { return g_runs.load() == runs + 1; }));
  EXPECT_EQ(g_seen.load(), 0);
}

TEST(WorkerThread, HandleVariableReceivesAnOpenHandleWhileTheThreadRuns) {
  g_release.store(false);
  int32_t handle = 0;
  Value r = call_command(start_worker_thread,
                         {thread_routine_value(wait_then_double), Value::of_int(21), int_reference(&handle)});
  EXPECT_EQ(r.lo, 1u);
  ASSERT_NE(handle, 0);
  EXPECT_TRUE(eventually([] { return g_seen.load() == 21; }));
  bool finished = true;
  int32_t code = -1;
  ASSERT_TRUE(thread_handle_finished(handle, &finished, &code));
  EXPECT_FALSE(finished) << "the command does not wait for its thread";
  g_release.store(true);
  EXPECT_TRUE(eventually([&] {
    thread_handle_finished(handle, &finished, &code);
    return finished;
  }));
  EXPECT_EQ(code, 42);
  EXPECT_TRUE(close_thread_handle(handle));
  EXPECT_FALSE(close_thread_handle(handle)) << "closed twice";
  EXPECT_FALSE(thread_handle_finished(handle, &finished, &code));
}

TEST(WorkerThread, ClosingTheHandleDoesNotStopTheThread) {
  g_release.store(false);
  g_seen.store(-1);
  const int runs = g_runs.load();
  int32_t a = 0, b = 0;
  call_command(start_worker_thread,
               {thread_routine_value(wait_then_double), Value::of_int(5), int_reference(&a)});
  call_command(start_worker_thread, {thread_routine_value(count_run), Value(), int_reference(&b)});
  EXPECT_NE(a, b) << "every thread has its own handle";
  EXPECT_TRUE(close_thread_handle(a));
  g_release.store(true);
  EXPECT_TRUE(eventually([&] { return g_runs.load() == runs + 2; }));
  EXPECT_TRUE(close_thread_handle(b));
}

using testing::FatalCaught;

TEST(WorkerThread, RoutineThatIsNoSubroutineIsABadArgument) {
  testing::CatchFatal catcher;
  try {
    call_command(start_worker_thread, {Value::of_int(1234)});
    ADD_FAILURE() << "started a thread at a number";
  } catch (const FatalCaught& f) {
    EXPECT_EQ(f.report.code, kFaultBadArgumentKind);
  }
  try {
    call_command(start_worker_thread, {});
    ADD_FAILURE() << "started a thread without a routine";
  } catch (const FatalCaught& f) {
    EXPECT_EQ(f.report.code, kFaultBadArgumentKind);
  }
  int32_t plain = 0;
  try {
    call_command(start_worker_thread, {thread_routine_value(count_run), Value(), Value::of_int(plain)});
    ADD_FAILURE() << "a handle variable passed by value";
  } catch (const FatalCaught& f) {
    EXPECT_EQ(f.report.code, kFaultBadArgumentKind);
  }
}

}  // namespace
}  // namespace pennacle
