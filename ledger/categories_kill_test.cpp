// A writer of the category file killed with SIGKILL at random moments, appending and writing the file
// anew: every change it reported is there afterwards, and the file always opens.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>

#include "ledger/categories.h"
#include "runtime/convert.h"
#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

CategoryKey key(int32_t serial) { return {serial, make_date_time(2024, 1, 1) + serial, 1.0 + serial, false}; }

// The child: sets serials from `first` on, one change a time; every fifth change also drops the
// entry of the serial five below, which makes the file be written anew. Reports "s N" or "d N" once
// the change is on the disk.
[[noreturn]] void writer(const std::string& file, int32_t first, int fd) {
  for (int32_t serial = first;; ++serial) {
    CategoryFile f;
    if (!f.open(posix_file_system(), file, true).ok()) _exit(2);
    LiveBills live;
    const bool drop = serial % 5 == 0;
    if (drop) {
      for (const auto& [s, e] : f.entries()) live[s] = e.key;
      live.erase(serial - 5);
      live[serial] = key(serial);
    }
    if (!f.update({{key(serial), "n" + std::to_string(serial % 7), false}}, drop ? &live : nullptr).ok())
      _exit(3);
    char line[32];
    const int n = std::snprintf(line, sizeof line, drop ? "s %d d %d\n" : "s %d\n", serial, serial - 5);
    if (write(fd, line, static_cast<size_t>(n)) != n) _exit(4);
  }
}

using KillTest = StoreTest;

TEST_F(KillTest, EveryReportedCategoryChangeSurvivesSigkill) {
  const char* env = std::getenv("PENNACLE_KILL_SECONDS");
  const double seconds = env ? std::atof(env) : 2.0;
  const std::string file = path("data.kdb.categories");
  std::set<int32_t> present, dropped;
  std::mt19937 random(7);
  int32_t next = 10;
  int kills = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      writer(file, next, fds[1]);
    }
    close(fds[1]);
    usleep(1000 + random() % 20000);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own: " << WEXITSTATUS(status);
    ++kills;
    FILE* in = fdopen(fds[0], "r");
    char kind[4];
    int serial = 0;
    while (std::fscanf(in, "%3s %d", kind, &serial) == 2) {
      (kind[0] == 's' ? present : dropped).insert(serial);
      if (kind[0] == 'd') present.erase(serial);
      next = std::max(next, serial + 1);
    }
    std::fclose(in);
    // The change in flight may or may not have reached the file: its serial is never used again, and
    // the entry it would drop is known neither way.
    if (next % 5 == 0) present.erase(next - 5);
    next += 1;

    CategoryFile f;
    const Status s = f.open(posix_file_system(), file, false);
    ASSERT_TRUE(s.ok()) << s.message();
    for (int32_t p : present) ASSERT_NE(f.find(key(p)), nullptr) << "serial " << p << " after kill " << kills;
    for (int32_t d : dropped) ASSERT_EQ(f.find(key(d)), nullptr) << "serial " << d << " after kill " << kills;
  }
  std::printf("category kill test: %d kills, %zu entries reported\n", kills, present.size());
  EXPECT_GT(present.size(), 0u);
}

}  // namespace
}  // namespace pennacle
