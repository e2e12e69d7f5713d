// Fatal reports caught by a test: while a CatchFatal lives, the fatal path throws FatalCaught
// instead of showing the box and ending the process. Header only: the test links the runtime.
#pragma once

#include <optional>
#include <utility>

#include "runtime/fatal.h"

namespace pennacle::testing {

struct FatalCaught {
  FatalReport report;
};

// A fatal hook (set_fatal_hook) that throws the report.
[[noreturn]] inline void throw_fatal(const FatalReport& report) { throw FatalCaught{report}; }

class CatchFatal {
 public:
  CatchFatal() : previous_(set_fatal_hook(throw_fatal)) {}
  ~CatchFatal() { set_fatal_hook(previous_); }
  CatchFatal(const CatchFatal&) = delete;
  CatchFatal& operator=(const CatchFatal&) = delete;

 private:
  FatalHook previous_;
};

// The report `fn` makes, or nullopt when it returns without one.
template <typename Fn>
std::optional<FatalReport> fatal_report_of(Fn&& fn) {
  CatchFatal catcher;
  try {
    std::forward<Fn>(fn)();
  } catch (const FatalCaught& caught) {
    return caught.report;
  }
  return std::nullopt;
}

}  // namespace pennacle::testing
