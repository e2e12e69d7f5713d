// The store mode a benchmark runs in, from its --mode option:
//   alone   the default: the sole-opener mode whenever no other process has the file open
//   full    the full lock protocol forced (set_sole_opener_allowed(false))
//   shared  a second process holds each record file open (and its auxiliary file), as another
//           window or kdbtool would, so the store runs the full protocol because it must
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "store/paths.h"
#include "store/record_store.h"

namespace pennacle::bench {

enum class StoreMode { Alone, Full, Shared };

inline const char* mode_name(StoreMode m) {
  return m == StoreMode::Alone ? "alone" : m == StoreMode::Full ? "full" : "shared";
}

// Parses the value of --mode; exits with a usage line on anything else.
inline StoreMode parse_mode(const char* text) {
  if (std::strcmp(text, "alone") == 0) return StoreMode::Alone;
  if (std::strcmp(text, "full") == 0) return StoreMode::Full;
  if (std::strcmp(text, "shared") == 0) return StoreMode::Shared;
  std::fprintf(stderr, "--mode is alone, full or shared\n");
  std::exit(2);
}

inline void apply_mode(StoreMode m) { (void)set_sole_opener_allowed(m == StoreMode::Alone); }

// Child processes that each hold one record file and its auxiliary file open until this object
// goes. In the alone and full modes it holds nothing.
class SecondOpener {
 public:
  explicit SecondOpener(StoreMode m) : active_(m == StoreMode::Shared) {}
  SecondOpener(const SecondOpener&) = delete;
  SecondOpener& operator=(const SecondOpener&) = delete;
  ~SecondOpener() {
    for (pid_t pid : children_) kill(pid, SIGKILL);
    for (pid_t pid : children_) waitpid(pid, nullptr, 0);
  }

  // Returns once the child has both files open (its open waits while this process holds a lease,
  // until the store gives the lease up).
  void hold(const std::string& kdb) {
    if (!active_) return;
    const std::string kdt = aux_path_of(kdb);  // before the fork: the child only makes system calls
    int ready[2];
    if (pipe(ready) != 0) die("pipe");
    const pid_t pid = fork();
    if (pid < 0) die("fork");
    if (pid == 0) {
      close(ready[0]);
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with the benchmark, also when it exits early
      const int a = open(kdb.c_str(), O_RDONLY);
      [[maybe_unused]] const int b = open(kdt.c_str(), O_RDONLY);  // none without remarks: fine
      const char byte = a >= 0 ? 1 : 0;
      if (write(ready[1], &byte, 1) != 1) _exit(1);
      for (;;) pause();
    }
    close(ready[1]);
    char byte = 0;
    const bool ok = read(ready[0], &byte, 1) == 1 && byte == 1;
    close(ready[0]);
    children_.push_back(pid);
    if (!ok) die("the second process cannot open " + kdb);
  }

 private:
  [[noreturn]] static void die(const std::string& what) {
    std::fprintf(stderr, "second opener: %s\n", what.c_str());
    std::exit(1);
  }

  bool active_;
  std::vector<pid_t> children_;
};

}  // namespace pennacle::bench
