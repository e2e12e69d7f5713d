// Real processes killed with SIGKILL at random moments: an editor changes bills in place (amount,
// channel and remark together, the remark's chain growing and shrinking), a deleter deletes and
// purges, two readers walk the file. Every value of bill s at version v is made from s and v, so a
// reader can tell a torn or stale value from a whole one. After each round the file opens, passes the
// audit, every bill holds one version in all its fields, no older than the last edit reported done
// and no newer than the last one tried, and no bill is lost that was not being deleted. The run lasts
// PENNACLE_KILL_SECONDS seconds (3 by default).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "store/check.h"
#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr int kReaders = 2;
constexpr int32_t kChildWaitMs = 300;
constexpr int32_t kBills = 40;

// Bill s at version v: amount s * 1000 + v, channel "v<v>", a remark of 0 to 3 blocks naming both.
double amount_of(int32_t s, int v) { return s * 1000.0 + v; }
std::string channel_of(int v) { return "v" + std::to_string(v); }
std::string remark_of(int32_t s, int v) {
  std::string r = std::to_string(s) + ":" + std::to_string(v) + ":";
  const size_t length = (static_cast<size_t>(s) * 131 + static_cast<size_t>(v) * 577) % 1400;
  for (size_t i = r.size(); i < length; ++i) r += static_cast<char>('a' + (s + v + i) % 26);
  return length == 0 ? std::string() : r;
}

// The version the current record's amount names, or -1 when it names none of bill `s`.
int version_of_amount(int32_t s) {
  const double a = read_double("金额") - s * 1000.0;
  return a >= 0 && a < 1000 && a == static_cast<int>(a) ? static_cast<int>(a) : -1;
}
int version_of_channel() {
  const std::string c = read_text("付款方式");
  return c.size() > 1 && c[0] == 'v' ? std::atoi(c.c_str() + 1) : -1;
}
// The version the remark names, searched from `hint` up first (an empty remark fits many).
int version_of_remark(int32_t s, int hint) {
  const std::string r = read_text("备注");
  for (int v = std::max(0, hint); v <= hint + 50; ++v) {
    if (r == remark_of(s, v)) return v;
  }
  for (int v = std::max(0, hint - 50); v < hint; ++v) {
    if (r == remark_of(s, v)) return v;
  }
  return -1;
}

class EditKillTest : public StoreTest {
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

  void say(const std::string& line) {
    const std::string l = line + "\n";
    std::ignore = write(pipe_[1], l.data(), l.size());
  }
  void open_then_wait() {
    if (!open_db(p_)) _exit(2);
    say("R 0 0");
    char go = 0;
    if (read(go_[0], &go, 1) != 1) _exit(3);
  }

  // A random live bill made current; its serial, or 0.
  static int32_t pick(std::mt19937& rng) {
    const int32_t n = record_count();
    if (n <= 0 || !ok(db_go_to, {Value::of_int(static_cast<int32_t>(rng() % n) + 1)})) return 0;
    int32_t s = 0;
    return db_current_serial(&s) == DbCode::Ok && s > 0 ? s : 0;
  }

  [[noreturn]] void editor(uint32_t seed) {
    open_then_wait();
    std::mt19937 rng(seed);
    for (;;) {
      const int32_t s = pick(rng);
      const int v = s ? version_of_amount(s) : -1;
      if (v < 0) continue;
      Text channel(channel_of(v + 1)), remark(remark_of(s, v + 1));
      say("E " + std::to_string(s) + " " + std::to_string(v + 1));
      if (db_edit(s, {Value{}, Value{}, Value::of_double(amount_of(s, v + 1)), channel.value(), Value{},
                      remark.value()}) == DbCode::Ok) {
        say("D " + std::to_string(s) + " " + std::to_string(v + 1));
      }
    }
  }

  [[noreturn]] void deleter(uint32_t seed) {
    open_then_wait();
    std::mt19937 rng(seed);
    for (;;) {
      usleep(3000 + rng() % 10000);
      const int32_t s = pick(rng);
      if (!s) continue;
      say("X " + std::to_string(s) + " 0");
      if (ok(db_delete) && rng() % 3 == 0) std::ignore = ok(db_purge);
    }
  }

  // Each field whole, and read in order: a later field never names an older version.
  [[noreturn]] void reader() {
    open_then_wait();
    for (;;) {
      const int32_t n = record_count();
      call_command(db_go_first, {});
      for (int32_t i = 0; i < n; ++i) {
        int32_t s = 0;
        if (db_current_serial(&s) == DbCode::Ok && s > 0) {
          const int a = version_of_amount(s);
          const bool read_a = db_last_error() == DbCode::Ok;
          const int c = version_of_channel();
          const bool read_c = db_last_error() == DbCode::Ok;
          const int r = version_of_remark(s, c);
          const bool read_r = db_last_error() == DbCode::Ok;
          // A purge may move another bill into the slot between two reads: a slot's serial only rises,
          // so the same serial after the reads means they were all of bill s.
          int32_t after = 0;
          const bool same = db_current_serial(&after) == DbCode::Ok && after == s;
          if (same && ((read_a && a < 0) || (read_c && c < 0) || (read_r && r < 0) ||
                       (read_a && read_c && c < a) || (read_c && read_r && r < c))) {
            say("T " + std::to_string(s) + " " + std::to_string(a) + "/" + std::to_string(c) + "/" +
                std::to_string(r));
          }
        }
        call_command(db_skip, {});
      }
      usleep(5000);
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
        int32_t s = 0;
        int v = 0;
        in >> kind >> s >> v;
        if (kind == 'R') ++ready_;
        if (kind == 'E') tried_[s] = std::max(tried_[s], v);
        if (kind == 'D') done_[s] = std::max(done_[s], v), ++edits_;
        if (kind == 'X') deleting_.insert(s);
        if (kind == 'T') ADD_FAILURE() << "a reader saw bill " << s << " at versions " << in.str();
      }
    }
  }

  // Opens for writing, checks every bill, tops the ledger up to kBills, audits.
  void verify(int round) {
    SCOPED_TRACE("after round " + std::to_string(round));
    ASSERT_TRUE(open_db(p_)) << db_last_error();
    std::set<int32_t> seen;
    const int32_t n = record_count();
    call_command(db_go_first, {});
    for (int32_t i = 0; i < n; ++i) {
      int32_t s = 0;
      ASSERT_EQ(db_current_serial(&s), DbCode::Ok);
      if (s > 0) {
        seen.insert(s);
        const int v = version_of_amount(s);
        EXPECT_EQ(version_of_channel(), v) << "bill " << s;
        EXPECT_EQ(read_text("备注"), remark_of(s, v)) << "bill " << s;
        EXPECT_GE(v, done_[s]) << "a reported edit is lost: bill " << s;
        EXPECT_LE(v, tried_[s]) << "a version never written: bill " << s;
      }
      call_command(db_skip, {});
    }
    for (int32_t s = 1; s < next_serial_; ++s) {
      EXPECT_TRUE(deleting_.count(s) || seen.count(s)) << "lost bill " << s;
    }
    for (int32_t live = static_cast<int32_t>(seen.size()); live < kBills; ++live) {
      const int32_t s = next_serial_++;
      ASSERT_TRUE(append_bill(s, "支出", amount_of(s, 0), channel_of(0), 45000, remark_of(s, 0)));
    }
    close_db();
    const CheckReport report = check_database(p_);
    std::string lines;
    for (const std::string& l : report.lines) lines += l + "\n";
    EXPECT_TRUE(report.sound) << lines;
  }

  std::string p_;
  int pipe_[2] = {-1, -1};
  int go_[2] = {-1, -1};
  int ready_ = 0, edits_ = 0;
  int32_t next_serial_ = 1;
  std::string pending_;
  std::map<int32_t, int> tried_, done_;
  std::set<int32_t> deleting_;
};

TEST_F(EditKillTest, EditsStayWholeThroughSigkillBesideADeleterAndReaders) {
  ASSERT_NO_FATAL_FAILURE(verify(0));
  const char* env = std::getenv("PENNACLE_KILL_SECONDS");
  const double seconds = env && *env ? std::atof(env) : 3.0;
  std::mt19937 rng(static_cast<uint32_t>(std::random_device{}()));
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int rounds = 0;
  while (std::chrono::steady_clock::now() < end && !HasFailure()) {
    std::vector<pid_t> kids;
    const uint32_t seed = static_cast<uint32_t>(rng());
    kids.push_back(start([&, seed] { editor(seed); }));
    kids.push_back(start([&, seed] { deleter(seed + 1); }));
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
  std::printf("edit kill test: %d rounds, %d edits reported, %zu deletes tried\n", rounds, edits_,
              deleting_.size());
  EXPECT_GT(edits_, 0);
}

}  // namespace
}  // namespace pennacle
