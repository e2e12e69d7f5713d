// Real processes killed with SIGKILL at random moments. Two writers append bills with remark chains,
// one process deletes bills and purges, two readers walk the file; every round they all die at a
// random moment. After each round the file opens, passes the audit, and holds every bill a writer
// reported stored (and did not try to delete) exactly once, with its remark. The run lasts
// PENNACLE_KILL_SECONDS seconds (3 by default).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "store/check.h"
#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr int kWriters = 2;
constexpr int kReaders = 2;
constexpr int32_t kChildWaitMs = 300;

// A bill's remark names its writer and number, and its length varies from one block to three.
std::string remark_of(int writer, int seq) {
  std::string r = std::to_string(writer) + ":" + std::to_string(seq) + ":";
  const size_t length = r.size() + static_cast<size_t>((seq * 37) % 1300);
  for (size_t i = r.size(); i < length; ++i) r += static_cast<char>('a' + (writer + seq + i) % 26);
  return r;
}

// The writer and number a remark names, when it is a whole remark of remark_of.
bool parse_remark(const std::string& r, int* writer, int* seq) {
  std::istringstream in(r);
  char c1 = 0, c2 = 0;
  if (!(in >> *writer >> c1 >> *seq >> c2) || c1 != ':' || c2 != ':') return false;
  return r == remark_of(*writer, *seq);
}

using Key = std::pair<int, int>;

class KillTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    p_ = ledger();
    ASSERT_EQ(pipe2(pipe_, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(go_, O_CLOEXEC), 0);
  }
  void TearDown() override {
    for (int fd : {pipe_[0], pipe_[1], go_[0], go_[1]}) close(fd);
    StoreTest::TearDown();
  }

  // One line to the parent; lines below PIPE_BUF arrive whole even from a process killed after.
  void say(const std::string& line) {
    const std::string l = line + "\n";
    std::ignore = write(pipe_[1], l.data(), l.size());
  }

  // Every child opens the file before any starts work, so no open waits for the others.
  void open_then_wait() {
    if (!open_db(p_)) _exit(2);
    say("R 0 0");
    char go = 0;
    if (read(go_[0], &go, 1) != 1) _exit(3);
  }

  [[noreturn]] void writer(int w, int first_seq) {
    open_then_wait();
    for (int seq = first_seq;; ++seq) {
      say("I " + std::to_string(w) + " " + std::to_string(seq));
      while (!append_bill(seq, "支出", w * 1000000.0 + seq, "微信", 45000 + seq, remark_of(w, seq))) {
        usleep(1000);
      }
      say("A " + std::to_string(w) + " " + std::to_string(seq));
      usleep(1000);
    }
  }

  [[noreturn]] void deleter(uint32_t seed) {
    open_then_wait();
    std::mt19937 rng(seed);
    for (;;) {
      usleep(2000 + rng() % 8000);
      const int32_t n = record_count();
      if (n <= 0 || !ok(db_go_to, {Value::of_int(static_cast<int32_t>(rng() % n) + 1)})) continue;
      int w = 0, seq = 0;
      if (!parse_remark(read_text("备注"), &w, &seq)) continue;
      say("D " + std::to_string(w) + " " + std::to_string(seq));
      if (ok(db_delete) && ok(db_purge)) say("P 0 0");
    }
  }

  [[noreturn]] void reader() {
    open_then_wait();
    for (;;) {
      const int32_t n = record_count();
      call_command(db_go_first, {});
      for (int32_t i = 0; i < n; ++i) {
        int32_t serial = 0;
        if (db_current_serial(&serial) == DbCode::Ok && serial > 0) {
          const std::string r = read_text("备注");
          int w = 0, seq = 0;
          if (db_last_error() == DbCode::Ok && !parse_remark(r, &w, &seq))
            say("X torn remark of serial " + std::to_string(serial));
        }
        call_command(db_skip, {});
      }
      usleep(10000);  // leaves the purge a moment with the whole file free
    }
  }

  pid_t start(const std::function<void()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
      set_db_wait_time(kChildWaitMs);
      body();
      _exit(0);
    }
    return pid;
  }

  void take_lines() {
    char buf[4096];
    for (;;) {
      pollfd p{pipe_[0], POLLIN, 0};
      if (poll(&p, 1, 0) <= 0) return;
      const ssize_t got = read(pipe_[0], buf, sizeof buf);
      if (got <= 0) return;
      pending_.append(buf, static_cast<size_t>(got));
      size_t nl;
      while ((nl = pending_.find('\n')) != std::string::npos) {
        std::istringstream in(pending_.substr(0, nl));
        pending_.erase(0, nl + 1);
        char kind = 0;
        Key k;
        in >> kind >> k.first >> k.second;
        if (kind == 'R') ++ready_;
        if (kind == 'P') ++purges_;
        if (kind == 'I') tried_.insert(k);
        if (kind == 'A') stored_.insert(k);
        if (kind == 'D') deleting_.insert(k);
        if (kind == 'X') ADD_FAILURE() << "a reader saw: " << in.str();
        if (kind == 'I') next_seq_[k.first] = std::max(next_seq_[k.first], k.second + 1);
      }
    }
  }

  // The file after the kills: opened for writing as the program opens it, then audited.
  void verify(int round) {
    SCOPED_TRACE("after round " + std::to_string(round));
    ASSERT_TRUE(open_db(p_)) << db_last_error();
    std::map<Key, int> seen;
    const int32_t n = record_count();
    call_command(db_go_first, {});
    for (int32_t i = 0; i < n; ++i) {
      int32_t serial = 0;
      ASSERT_EQ(db_current_serial(&serial), DbCode::Ok);
      if (serial > 0) {
        Key k;
        ASSERT_TRUE(parse_remark(read_text("备注"), &k.first, &k.second)) << "serial " << serial;
        EXPECT_EQ(read_double("金额"), k.first * 1000000.0 + k.second);
        EXPECT_TRUE(tried_.count(k)) << "a bill never appended: " << k.first << ":" << k.second;
        ++seen[k];
      }
      call_command(db_skip, {});
    }
    close_db();
    for (const auto& [k, times] : seen) EXPECT_EQ(times, 1) << "bill " << k.first << ":" << k.second;
    for (const Key& k : stored_) {
      if (!deleting_.count(k)) {
        EXPECT_TRUE(seen.count(k)) << "lost bill " << k.first << ":" << k.second;
      }
    }
    CheckReport report = check_database(p_);
    std::string lines;
    for (const std::string& l : report.lines) lines += l + "\n";
    EXPECT_TRUE(report.sound) << lines;
  }

  std::string p_;
  int pipe_[2] = {-1, -1};
  int go_[2] = {-1, -1};
  int ready_ = 0;
  int purges_ = 0;
  std::string pending_;
  std::set<Key> tried_, stored_, deleting_;
  std::map<int, int> next_seq_;
};

TEST_F(KillTest, EveryReportedBillSurvivesSigkillAtRandomMoments) {
  const char* env = std::getenv("PENNACLE_KILL_SECONDS");
  const double seconds = env && *env ? std::atof(env) : 3.0;
  std::mt19937 rng(static_cast<uint32_t>(std::random_device{}()));
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int rounds = 0, kills = 0;
  while (std::chrono::steady_clock::now() < end && !HasFailure()) {
    std::vector<pid_t> kids;
    for (int w = 1; w <= kWriters; ++w) kids.push_back(start([&, w] { writer(w, next_seq_[w]); }));
    const uint32_t seed = static_cast<uint32_t>(rng());
    kids.push_back(start([&, seed] { deleter(seed); }));
    for (int r = 0; r < kReaders; ++r) kids.push_back(start([&] { reader(); }));
    ready_ = 0;
    while (ready_ < static_cast<int>(kids.size())) {
      take_lines();
      usleep(1000);
    }
    const std::string go(kids.size(), 'g');
    ASSERT_EQ(write(go_[1], go.data(), go.size()), static_cast<ssize_t>(go.size()));
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20 + rng() % 400);
    while (std::chrono::steady_clock::now() < until) {
      take_lines();
      usleep(2000);
    }
    std::shuffle(kids.begin(), kids.end(), rng);
    for (pid_t pid : kids) {
      kill(pid, SIGKILL);
      ++kills;
      if (rng() % 2) usleep(rng() % 3000);  // the others go on for a moment
    }
    for (pid_t pid : kids) {
      int status = 0;
      waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status)) << "a child ended by itself with " << status;
    }
    take_lines();
    verify(++rounds);
  }
  std::printf("kill test: %d rounds, %d kills, %zu bills reported stored, %zu deletes tried, %d purges\n",
              rounds, kills, stored_.size(), deleting_.size(), purges_);
  EXPECT_GT(stored_.size(), 0u);
}

}  // namespace
}  // namespace pennacle
