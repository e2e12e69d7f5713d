// Two processes take turns at random for PENNACLE_SOAK_SECONDS seconds (4 by default): each turn
// one of them may open or close the ledger and appends, deletes, purges and walks it, checking
// every read against a model of the file both share. Whoever holds the file alone serves reads from
// its pages, so a page that outlived the other's changes shows up as a read the model refutes.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>

#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr int kMaxRecords = 4000;

// The file as both processes know it: every record slot in file order, deleted ones included.
struct Model {
  int count;
  int next_amount;
  int alone_turns[2];
  int failures;
  char failure[256];
  struct Slot {
    int amount;
    bool deleted;
  } slots[kMaxRecords];
};

std::string remark_of(int amount) {
  return std::string(static_cast<size_t>(amount % 700), 'a' + amount % 26);
}

class Player {
 public:
  // `close_one_in`: how seldom the player closes the file at the start of a turn. A player that keeps
  // it open long goes in and out of the mode on one open, which is where stale pages would show.
  Player(Model* model, const std::string& p, int who, uint32_t close_one_in, uint32_t seed)
      : m_(model), p_(p), who_(who), close_one_in_(close_one_in), rng_(seed) {}

  // One turn; false when a check failed (the model says why). A closed player stays closed for a
  // few turns, so that the other is alone with the file now and then.
  bool turn() {
    if (open_ && rng_() % close_one_in_ == 0) {
      close_db();
      open_ = false;
      return true;
    }
    if (!open_) {
      if (rng_() % 3 != 0) return true;
      if (!open_db(p_)) return fail("open failed: " + std::to_string(code_number(db_last_error())));
      open_ = true;
    }
    const int ops = 1 + static_cast<int>(rng_() % 4);
    for (int i = 0; i < ops; ++i) {
      if (!op()) return false;
    }
    if (db_current_alone()) ++m_->alone_turns[who_];
    return walk();
  }

 private:
  bool op() {
    switch (rng_() % 5) {
      case 0:
      case 1:
        return append();
      case 2: {
        if (m_->count == 0) return true;
        const int k = static_cast<int>(rng_() % static_cast<uint32_t>(m_->count));
        if (!ok(db_go_to, {Value::of_int(k + 1)}) || !ok(db_delete)) return fail("delete failed");
        m_->slots[k].deleted = true;
        return true;
      }
      case 3: {
        if (!ok(db_purge)) return fail("purge failed");
        int kept = 0;
        for (int k = 0; k < m_->count; ++k) {
          if (!m_->slots[k].deleted) m_->slots[kept++] = m_->slots[k];
        }
        m_->count = kept;
        return true;
      }
      default:
        return walk();
    }
  }

  bool append() {
    if (m_->count >= kMaxRecords) return true;
    const int amount = ++m_->next_amount;
    if (!append_bill(amount, "收入", amount, "微信", 45000, remark_of(amount))) return fail("append failed");
    m_->slots[m_->count++] = {amount, false};
    return true;
  }

  bool walk() {
    if (record_count() != m_->count) return fail("count " + std::to_string(record_count()));
    call_command(db_go_first, {});
    for (int k = 0; k < m_->count; ++k) {
      int32_t serial = 0;
      if (db_current_serial(&serial) != DbCode::Ok) return fail("serial unreadable");
      const Model::Slot& s = m_->slots[k];
      if ((serial < 0) != s.deleted) return fail("record " + std::to_string(k + 1) + " deleted or not");
      if (read_double("金额") != s.amount || read_text("备注") != remark_of(s.amount)) {
        return fail("record " + std::to_string(k + 1) + " is not bill " + std::to_string(s.amount));
      }
      call_command(db_skip, {});
    }
    return true;
  }

  bool fail(const std::string& why) {
    ++m_->failures;
    std::snprintf(m_->failure, sizeof m_->failure, "process %d: %s", who_, why.c_str());
    return false;
  }

  Model* m_;
  std::string p_;
  int who_;
  uint32_t close_one_in_;
  std::mt19937 rng_;
  bool open_ = false;
};

void pass(int fd, char c) { ASSERT_EQ(write(fd, &c, 1), 1); }
char take(int fd) {
  char c = 'x';
  return read(fd, &c, 1) == 1 ? c : 'x';
}

TEST_F(StoreTest, TwoProcessesTakingTurnsAgreeWithTheModelOfTheFile) {
  const char* env = std::getenv("PENNACLE_SOAK_SECONDS");
  const double seconds = env && *env ? std::atof(env) : 4.0;
  const std::string p = ledger();
  auto* m = static_cast<Model*>(
      mmap(nullptr, sizeof(Model), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(m, MAP_FAILED);
  *m = Model{};
  int to_child[2], to_parent[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(to_parent), 0);
  const uint32_t seed = static_cast<uint32_t>(std::random_device{}());
  const pid_t pid = fork();
  if (pid == 0) {
    Player child(m, p, 1, 6, seed + 1);
    while (take(to_child[0]) == 't') {
      const bool fine = child.turn();
      if (write(to_parent[1], fine ? "t" : "f", 1) != 1) _exit(2);
    }
    close_db();
    _exit(0);
  }
  Player parent(m, p, 0, 12, seed);
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int turns = 0;
  std::mt19937 rng(seed + 2);
  while (std::chrono::steady_clock::now() < end && m->failures == 0) {
    if (rng() % 2) {
      ASSERT_TRUE(parent.turn()) << m->failure << " (seed " << seed << ")";
    } else {
      pass(to_child[1], 't');
      ASSERT_EQ(take(to_parent[0]), 't') << m->failure << " (seed " << seed << ")";
    }
    ++turns;
    if (rng() % 8 == 0) usleep(rng() % 3000);
  }
  pass(to_child[1], 'q');
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(m->failures, 0) << m->failure;
  std::printf("soak: %d turns, %d bills appended, turns ending alone: %d and %d (seed %u)\n", turns,
              m->next_amount, m->alone_turns[0], m->alone_turns[1], seed);
  if (sole_opener_allowed()) {
    EXPECT_GT(m->alone_turns[0] + m->alone_turns[1], 0) << "the mode was never entered";
  }
  munmap(m, sizeof(Model));
  for (int fd : {to_child[0], to_child[1], to_parent[0], to_parent[1]}) close(fd);
}

}  // namespace
}  // namespace pennacle
