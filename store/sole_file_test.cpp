#include "store/sole_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <thread>

#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class SoleFileTest : public StoreTest {
 protected:
  std::unique_ptr<SoleFile> open_sole(FaultFileSystem& faults, const std::string& p) {
    std::unique_ptr<File> f;
    EXPECT_EQ(faults.open(p, FileAccess::ReadWrite, FileShare::DenyNone, &f), FileCause::None);
    return std::make_unique<SoleFile>(std::move(f));
  }
};

// Random reads, writes and cuts across page edges, against a model of the bytes: what the file
// serves alone must be what the file holds, and what it holds must be what was written.
TEST_F(SoleFileTest, AloneServesWhatTheFileHoldsAcrossWritesAndCuts) {
  const std::string p = path("f.bin");
  std::string model(200000, '\0');
  for (size_t i = 0; i < model.size(); ++i) model[i] = static_cast<char>(i * 7);
  write_bytes(p, model);
  FaultFileSystem faults(posix_file_system());
  auto f = open_sole(faults, p);
  ASSERT_TRUE(f->enter_alone());
  std::mt19937 rng(5);
  for (int step = 0; step < 3000; ++step) {
    const uint64_t at = rng() % 300000;
    const size_t n = 1 + rng() % 70000;
    switch (rng() % 4) {
      case 0: {
        std::string bytes(n, static_cast<char>('a' + step % 26));
        ASSERT_EQ(f->write_at(at, bytes.data(), n), FileCause::None);
        if (model.size() < at + n) model.resize(at + n, '\0');
        model.replace(at, n, bytes);
        break;
      }
      case 1:
        ASSERT_EQ(f->set_size(at), FileCause::None);
        model.resize(at, '\0');
        break;
      default: {
        std::string got(n, '?');
        size_t count = 0;
        ASSERT_EQ(f->read_at(at, got.data(), n, &count), FileCause::None);
        got.resize(count);
        ASSERT_EQ(got, at < model.size() ? model.substr(at, n) : std::string()) << "step " << step;
      }
    }
    uint64_t size = 0;
    ASSERT_EQ(f->size(&size), FileCause::None);
    ASSERT_EQ(size, model.size());
    ASSERT_LE(f->pages(), SoleFile::kMaxPages);
  }
  f->close();
  EXPECT_EQ(read_bytes(p), model);
}

TEST_F(SoleFileTest, AloneLocksAndRereadsReachNoPlatformCall) {
  const std::string p = path("g.bin");
  write_bytes(p, std::string(100000, 'x'));
  FaultFileSystem faults(posix_file_system());
  auto f = open_sole(faults, p);
  char buf[16];
  size_t got = 0;
  ASSERT_TRUE(f->enter_alone());
  faults.reset();
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(f->lock(16, 1), FileCause::None);
    ASSERT_EQ(f->read_at(100 + i, buf, sizeof buf, &got), FileCause::None);
    ASSERT_EQ(f->unlock(16, 1), FileCause::None);
  }
  EXPECT_EQ(faults.calls(FileOp::Lock) + faults.calls(FileOp::Unlock), 0);
  EXPECT_EQ(faults.calls(FileOp::Read), 1);  // one page
  // The same ranges are refused in both modes.
  EXPECT_EQ(f->lock(0, 0), FileCause::BadSeek);
  // Leaving the mode drops the pages: every call reaches the file again.
  ASSERT_EQ(f->leave_alone(), FileCause::None);
  EXPECT_EQ(f->pages(), 0u);
  faults.reset();
  ASSERT_EQ(f->lock(16, 1), FileCause::None);
  ASSERT_EQ(f->read_at(100, buf, sizeof buf, &got), FileCause::None);
  ASSERT_EQ(f->unlock(16, 1), FileCause::None);
  EXPECT_EQ(faults.calls(FileOp::Lock), 1);
  EXPECT_EQ(faults.calls(FileOp::Read), 1);
  EXPECT_EQ(f->lock(0, 0), FileCause::BadSeek);
  f->close();
}

TEST_F(SoleFileTest, AFailedWriteIsReadBackFromTheFile) {
  const std::string p = path("h.bin");
  write_bytes(p, std::string(1000, 'o'));
  FaultFileSystem faults(posix_file_system());
  auto f = open_sole(faults, p);
  ASSERT_TRUE(f->enter_alone());
  char c = 0;
  size_t got = 0;
  ASSERT_EQ(f->read_at(10, &c, 1, &got), FileCause::None);
  faults.fail_nth(FileOp::Write, 1, FileCause::DiskFull);
  EXPECT_EQ(f->write_at(10, "n", 1), FileCause::DiskFull);
  ASSERT_EQ(f->read_at(10, &c, 1, &got), FileCause::None);
  EXPECT_EQ(c, 'o');
  EXPECT_TRUE(f->alone());
  f->close();
}

// Another process must meet exactly the locks it would meet without the mode: leaving it takes
// every range held meanwhile at the platform, and a later unlock releases it there.
TEST_F(SoleFileTest, LeavingTakesTheHeldRangesAtThePlatform) {
  const std::string p = path("l.bin");
  write_bytes(p, std::string(1000, 'x'));
  FaultFileSystem faults(posix_file_system());
  auto f = open_sole(faults, p);
  ASSERT_TRUE(f->enter_alone());
  ASSERT_EQ(f->lock(16, 1), FileCause::None);
  ASSERT_EQ(f->lock(600, 1), FileCause::None);
  ASSERT_EQ(f->unlock(600, 1), FileCause::None);
  auto other_process_can_lock = [&](uint64_t at) {
    pid_t pid = fork();
    if (pid == 0) {
      std::unique_ptr<File> g;
      if (posix_file_system().open(p, FileAccess::ReadWrite, FileShare::DenyNone, &g) != FileCause::None)
        _exit(2);
      _exit(g->lock(at, 1) == FileCause::None ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  ASSERT_EQ(f->leave_alone(), FileCause::None);
  EXPECT_FALSE(other_process_can_lock(16));
  EXPECT_TRUE(other_process_can_lock(600));
  ASSERT_EQ(f->unlock(16, 1), FileCause::None);
  EXPECT_TRUE(other_process_can_lock(16));
  f->close();
}

// The mode can end on another thread in the middle of an operation; the operation's reads and
// writes stay those of the file, and its locks end up at the platform.
TEST_F(SoleFileTest, LeavingFromAnotherThreadMidOperationKeepsTheFileAndTheLocks) {
  const std::string p = path("t.bin");
  write_bytes(p, std::string(200000, '\0'));
  FaultFileSystem faults(posix_file_system());
  auto f = open_sole(faults, p);
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(f->enter_alone());
    std::atomic<bool> stop{false};
    std::thread op([&] {
      uint32_t v = 0;
      for (uint64_t at = 0; !stop.load(); at = (at + 4096) % 190000) {
        ASSERT_EQ(f->lock(at, 1), FileCause::None);
        ASSERT_EQ(f->write_at(at, &v, 4), FileCause::None);
        uint32_t back = 0;
        size_t got = 0;
        ASSERT_EQ(f->read_at(at, &back, 4, &got), FileCause::None);
        ASSERT_EQ(back, v);
        ASSERT_EQ(f->unlock(at, 1), FileCause::None);
        ++v;
      }
    });
    std::this_thread::sleep_for(std::chrono::microseconds(200 * round));
    EXPECT_EQ(f->leave_alone(), FileCause::None);
    stop = true;
    op.join();
    EXPECT_FALSE(f->alone());
  }
  f->close();
}

// A hold keeps the mode for as long as it lives: a leave on another thread waits for it, so a read
// through the hold never meets a file that has stopped being alone, and it needs no lock.
TEST_F(SoleFileTest, AHoldKeepsTheModeUntilItGoes) {
  const std::string p = path("h.bin");
  std::string bytes(100000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
  write_bytes(p, bytes);
  FaultFileSystem faults(posix_file_system());
  auto f = open_sole(faults, p);
  {
    SoleFile::Pinned held(*f);
    EXPECT_FALSE(held.alone());  // not alone yet: the caller takes the full protocol
  }
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(f->enter_alone());
    std::atomic<bool> stop{false};
    std::atomic<int> held_reads{0};
    std::thread op([&] {
      for (uint64_t at = 0; !stop.load(); at = (at + 997) % 99000) {
        SoleFile::Pinned held(*f);
        if (!held.alone()) continue;
        ASSERT_EQ(held.lock(at, 1), FileCause::None);
        char back[8];
        size_t got = 0;
        ASSERT_EQ(held.read_at(at, back, sizeof back, &got), FileCause::None);
        ASSERT_EQ(got, sizeof back);
        ASSERT_EQ(std::string(back, sizeof back), bytes.substr(at, sizeof back));
        ASSERT_TRUE(held.alone());
        ++held_reads;
      }
    });
    while (held_reads.load() < 10) std::this_thread::yield();
    EXPECT_EQ(f->leave_alone(), FileCause::None);
    stop = true;
    op.join();
    EXPECT_FALSE(f->alone());
  }
  EXPECT_EQ(faults.calls(FileOp::Lock), 0);  // the holds took no lock at the platform
  f->close();
}

}  // namespace
}  // namespace pennacle
