#include "runtime/program_end.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/mutex.h"
#include "runtime/fatal.h"
#include "runtime/value.h"
#include "runtime/worker_thread.h"

namespace pennacle {
namespace {

// Each scenario runs in a child process that reports what happened through a pipe.
int g_pipe = -1;

void note(std::string_view s) { [[maybe_unused]] ssize_t n = ::write(g_pipe, s.data(), s.size()); }

struct ChildResult {
  bool ended = false;  // false: still running after the bound, killed (a hang)
  int status = -1;     // exit status when it ended by itself
  std::string notes;
};

template <typename Body>
ChildResult run_child(Body body) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    g_pipe = fds[1];
    body();
    note("<returned>");
    ::_exit(200);
  }
  ::close(fds[1]);
  ChildResult r;
  int wstatus = 0;
  // Bounded: a child that has not ended after 30 s hangs.
  for (int i = 0; i < 3000; ++i) {
    if (::waitpid(pid, &wstatus, WNOHANG) == pid) {
      r.ended = true;
      break;
    }
    ::usleep(10000);
  }
  if (!r.ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &wstatus, 0);
  } else if (WIFEXITED(wstatus)) {
    r.status = WEXITSTATUS(wstatus);
  }
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) r.notes.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  return r;
}

void routine_a() { note("A"); }
void routine_b() { note("B"); }
void recording_presenter(std::string_view text, std::string_view title) {
  note("[box:");
  note(title);
  note("|");
  note(text);
  note("]");
}

TEST(ProgramEnd, NormalEndRunsEachExitRoutineOnceInOrderAndExitsZero) {
  ChildResult r = run_child([] {
    register_exit_routine(routine_a);
    register_exit_routine(routine_b);
    register_exit_routine(routine_a);  // already there
    end_program(0);
  });
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.notes, "AB");
}

TEST(ProgramEnd, FatalReportShowsTheBoxDropsExitRoutinesAndExits255) {
  ChildResult r = run_child([] {
    set_fatal_presenter(recording_presenter);
    register_exit_routine(routine_a);
    raise_fault(4, 67219250, 509);
  });
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.notes,
            "[box:错误|运行时出错!"
            "\r\n\r\n错误代码：4\r\n\r\n错误信息：数组成员引用下标必须大于等于1\r\n\r\n67219250, 509\r\n]");
}

TEST(ProgramEnd, AllocationFailureEndsThroughTheFatalPath) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "TSan's allocator ends the process itself on a huge request";
#endif
  ChildResult r = run_child([] {
    set_fatal_presenter(recording_presenter);
    register_exit_routine(routine_a);
    // More than any pool can serve.
    [[maybe_unused]] void* p = allocate(SIZE_MAX / 2);
  });
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.notes.find("字节内存失败!"), std::string::npos) << r.notes;
  EXPECT_EQ(r.notes.find('A'), std::string::npos);
}

TEST(ProgramEnd, SecondRequestWhileEndingOnlyEndsTheProcess) {
  ChildResult r = run_child([] {
    set_window_runtime_end([] { note("window,"); });
    register_support_library_end([] { note("support,"); });
    set_runtime_release([] { note("release"); });
    register_exit_routine([] {
      note(program_ending() ? "routine," : "not-ending,");
      end_program(7);  // a second request while ending only ends the process
    });
    end_program(0);
  });
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(r.notes, "window,routine,");
}

TEST(ProgramEnd, SupportLibrariesAndReleaseRunAfterTheRoutines) {
  ChildResult r = run_child([] {
    set_window_runtime_end([] { note("window,"); });
    register_support_library_end([] { note("support,"); });
    set_runtime_release([] { note("release"); });
    register_exit_routine(routine_a);
    end_program(-1);
  });
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.notes, "window,Asupport,release");
}

// ---- Worker threads and the user-interface thread ----------------------------------------------

constinit Mutex g_queue_mutex;
UiCall g_queued_call GUARDED_BY(g_queue_mutex) = nullptr;
int32_t g_queued_arg GUARDED_BY(g_queue_mutex) = 0;

bool queue_poster(UiCall call, int32_t argument) {
  MutexLock lock(g_queue_mutex);
  g_queued_call = call;
  g_queued_arg = argument;
  return true;
}

// The user-interface thread's loop: runs the queued call.
[[noreturn]] void ui_loop() {
  for (;;) {
    UiCall call = nullptr;
    int32_t argument = 0;
    {
      MutexLock lock(g_queue_mutex);
      call = g_queued_call;
      argument = g_queued_arg;
    }
    if (call != nullptr) call(argument);
    ::usleep(1000);
  }
}

pid_t g_ui_tid = 0;
void routine_on_which_thread() {
  note(static_cast<pid_t>(::syscall(SYS_gettid)) == g_ui_tid ? "ui" : "worker");
}

// A plain mutex: the test deadlocks on it on purpose, which the analysis would refuse.
std::mutex g_ledger_lock;

TEST(ProgramEnd, FatalOnWorkerWhileUiThreadWaitsOnALockStillEnds) {
  ChildResult r = run_child([] {
    set_fatal_presenter(recording_presenter);
    set_ui_thread_poster(queue_poster);
    set_end_handover_waits(200, 1000);
    register_exit_routine(routine_a);
    g_ledger_lock.lock();  // the worker's refresh holds the lock ...
    std::thread([] { report_fatal_message("worker"); }).detach();
    std::lock_guard wait(g_ledger_lock);  // ... and the user-interface thread waits on it for ever
    note("<lock taken>");
  });
  ASSERT_TRUE(r.ended) << "the program hung";
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.notes, "[box:错误|运行时出错!\r\n\r\n错误信息：worker\r\n\r\n0, 0\r\n]");
}

TEST(ProgramEnd, FatalOnWorkerIsEndedByAResponsiveUiThread) {
  ChildResult r = run_child([] {
    set_fatal_presenter(recording_presenter);
    set_ui_thread_poster(queue_poster);
    set_window_runtime_end([] { note(on_ui_thread() ? "ui-end" : "worker-end"); });
    register_exit_routine(routine_a);
    std::thread([] { report_fatal_message(""); }).detach();
    ui_loop();
  });
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.notes, "[box:错误|运行时出错!\r\n\r\n0, 0\r\n]ui-end");
}

TEST(ProgramEnd, EndRequestedOnWorkerRunsTheExitRoutineOnTheUiThread) {
  ChildResult r = run_child([] {
    set_ui_thread_here();
    g_ui_tid = static_cast<pid_t>(::syscall(SYS_gettid));
    set_ui_thread_poster(queue_poster);
    register_exit_routine(routine_on_which_thread);
    std::thread([] { end_program(0); }).detach();
    ui_loop();
  });
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.notes, "ui");
}

TEST(ProgramEnd, WithoutAUiLayerTheWorkerEndsDirectly) {
  ChildResult r = run_child([] {
    register_exit_routine(routine_a);
    std::thread([] { end_program(0); }).detach();
    for (;;) ::pause();
  });
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.notes, "A");
}

int32_t spin_forever(int32_t) {
  for (;;) ::usleep(1000);
}

TEST(ProgramEnd, RunningWorkerThreadEndsWithTheProcess) {
  ChildResult r = run_child([] {
    register_exit_routine(routine_a);
    Value result = call_command(start_worker_thread, {thread_routine_value(spin_forever)});
    note(result.lo == 1 ? "started," : "refused,");
    end_program(0);
  });
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.notes, "started,A");
}

}  // namespace
}  // namespace pennacle
