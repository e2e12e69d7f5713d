// The fatal path as it reports exhausted memory: from the failed allocation to the text on standard
// error, nothing asks for memory. A test of its own, as it replaces the global operator new.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/gbk.h"
#include "runtime/fatal.h"
#include "runtime/value.h"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<int> g_allocations{0};

}  // namespace

// The replacements below take their memory from malloc and give it back with free, in pairs g++
// cannot see once it inlines them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
  if (g_counting.load()) ++g_allocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace pennacle {
namespace {

struct EndReached {};
[[noreturn]] void end_by_throwing() {
  g_counting.store(false);
  throw EndReached{};
}

// Runs `fn` with standard error going into a pipe; gives what was written there.
template <typename Fn>
std::string standard_error_of(Fn fn) {
  int fds[2];
  if (pipe(fds) != 0) return "<no pipe>";
  const int saved = dup(STDERR_FILENO);
  dup2(fds[1], STDERR_FILENO);
  fn();
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  return out;
}

TEST(FatalPath, ExhaustedMemoryIsReportedOnStandardErrorWithoutAllocating) {
  const FatalPresenter previous = set_fatal_presenter(nullptr);  // the default: standard error
  set_fatal_end(end_by_throwing);
  g_allocations.store(0);
  bool ended = false;
  const std::string written = standard_error_of([&] {
    g_counting.store(true);
    try {
      [[maybe_unused]] void* p = allocate(SIZE_MAX / 2);
      release(p);
    } catch (const EndReached&) {
      ended = true;
    }
    g_counting.store(false);
  });
  set_fatal_end(nullptr);
  set_fatal_presenter(previous);
  EXPECT_TRUE(ended);
  EXPECT_EQ(g_allocations.load(), 0);
  const std::string box = "错误\n运行时出错!\r\n\r\n错误信息：分配 " +
                          std::to_string(static_cast<int>(SIZE_MAX / 2)) + " 字节内存失败!\r\n\r\n0, 0\r\n\n";
  // A sanitizer may say before it that the allocation failed; the box is what ends the text.
  const std::string expected = gbk_to_utf8(box).value_or("<not GBK>");
  ASSERT_GE(written.size(), expected.size()) << written;
  EXPECT_EQ(written.substr(written.size() - expected.size()), expected);
}

TEST(FatalPath, BytesGbkCannotReadBecomeReplacementCharacters) {
  const FatalPresenter previous = set_fatal_presenter(nullptr);
  set_fatal_end(end_by_throwing);
  const std::string written = standard_error_of([] {
    try {
      report_fatal_message(
          "a\xFF"
          "b");
    } catch (const EndReached&) {
    }
  });
  set_fatal_end(nullptr);
  set_fatal_presenter(previous);
  EXPECT_NE(written.find("a\xEF\xBF\xBD"
                         "b"),
            std::string::npos)
      << written;
}

}  // namespace
}  // namespace pennacle
