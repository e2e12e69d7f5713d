#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "testing/temp_dir.h"

namespace pennacle {
namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    dir_ = tmp_.path();
    path_ = tmp_.write("a.bin", "0123456789");
  }

  std::unique_ptr<File> open(FileAccess a, FileShare s, FileCause* cause = nullptr) {
    std::unique_ptr<File> f;
    FileCause c = posix_file_system().open(path_, a, s, &f);
    if (cause) *cause = c;
    return f;
  }

  testing::TempDir tmp_;
  std::string dir_, path_;
};

TEST_F(FileTest, ReadWriteSizeAndSetSize) {
  auto f = open(FileAccess::ReadWrite, FileShare::DenyNone);
  ASSERT_TRUE(f);
  char buf[16];
  size_t got = 0;
  ASSERT_EQ(f->read_at(8, buf, 16, &got), FileCause::None);
  EXPECT_EQ(got, 2u);  // short at the end of the file, not an error
  ASSERT_EQ(f->write_at(12, "ab", 2), FileCause::None);
  uint64_t size = 0;
  ASSERT_EQ(f->size(&size), FileCause::None);
  EXPECT_EQ(size, 14u);
  ASSERT_EQ(f->read_at(10, buf, 4, &got), FileCause::None);
  ASSERT_EQ(got, 4u);
  EXPECT_EQ(std::string(buf, 4), std::string("\0\0ab", 4));  // the gap is zero-filled
  ASSERT_EQ(f->set_size(3), FileCause::None);
  ASSERT_EQ(f->size(&size), FileCause::None);
  EXPECT_EQ(size, 3u);
  f->close();
  EXPECT_EQ(f->read_at(0, buf, 1, &got), FileCause::BadHandle);
}

TEST_F(FileTest, OpenNeverCreatesAndReadOnlyRefusesWrites) {
  std::unique_ptr<File> f;
  EXPECT_EQ(posix_file_system().open(dir_ + "/missing", FileAccess::ReadWrite, FileShare::DenyNone, &f),
            FileCause::NotFound);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/missing"));
  EXPECT_EQ(posix_file_system().open(dir_, FileAccess::Read, FileShare::DenyNone, &f), FileCause::BadPath);
  auto r = open(FileAccess::Read, FileShare::DenyNone);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->write_at(0, "x", 1), FileCause::AccessDenied);
  EXPECT_EQ(r->set_size(0), FileCause::AccessDenied);
}

TEST_F(FileTest, CreateRefusesAnExistingFile) {
  std::unique_ptr<File> f;
  EXPECT_EQ(posix_file_system().create(path_, &f), FileCause::AccessDenied);
  EXPECT_EQ(std::filesystem::file_size(path_), 10u);
  ASSERT_EQ(posix_file_system().create(dir_ + "/new.bin", &f), FileCause::None);
  EXPECT_EQ(f->write_at(0, "z", 1), FileCause::None);
}

TEST_F(FileTest, SyncRenameAndDirectorySync) {
  auto f = open(FileAccess::ReadWrite, FileShare::DenyNone);
  ASSERT_TRUE(f);
  ASSERT_EQ(f->write_at(0, "xy", 2), FileCause::None);
  EXPECT_EQ(f->sync(), FileCause::None);
  f->close();
  EXPECT_EQ(f->sync(), FileCause::BadHandle);
  FileSystem& fs = posix_file_system();
  ASSERT_EQ(fs.rename(path_, dir_ + "/b.bin"), FileCause::None);
  EXPECT_EQ(fs.sync_directory_of(dir_ + "/b.bin"), FileCause::None);
  EXPECT_FALSE(std::filesystem::exists(path_));
  std::ifstream in(dir_ + "/b.bin");
  std::string got((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(got, "xy23456789");
  EXPECT_EQ(fs.rename(dir_ + "/missing", path_), FileCause::NotFound);
  EXPECT_EQ(fs.sync_directory_of(dir_ + "/no/such/dir/file"), FileCause::NotFound);
}

TEST_F(FileTest, GbkPathsReachTheFileSystemAsUtf8) {
  std::ofstream(dir_ + "/\xE6\x95\xB0\xE6\x8D\xAE.kdb") << "x";  // UTF-8 on disk
  std::unique_ptr<File> f;
  EXPECT_EQ(posix_file_system().open(dir_ + "/数据.kdb", FileAccess::Read, FileShare::DenyNone, &f),
            FileCause::None);  // the literal is GBK in this binary
  EXPECT_EQ(posix_file_system().open(std::string("\x81", 1), FileAccess::Read, FileShare::DenyNone, &f),
            FileCause::BadPath);
}

TEST_F(FileTest, LocksBelongToEachOpenEvenInOneProcess) {
  auto a = open(FileAccess::ReadWrite, FileShare::DenyNone);
  auto b = open(FileAccess::ReadWrite, FileShare::DenyNone);
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->lock(16, 1), FileCause::None);
  EXPECT_EQ(b->lock(16, 1), FileCause::LockViolation);
  EXPECT_EQ(b->lock(0, 0x7FFFFFFF), FileCause::LockViolation);
  EXPECT_EQ(b->lock(17, 1), FileCause::None);
  ASSERT_EQ(a->unlock(16, 1), FileCause::None);
  EXPECT_EQ(b->lock(16, 1), FileCause::None);
  // Closing an open drops its locks.
  b->close();
  EXPECT_EQ(a->lock(0, 0x7FFFFFFF), FileCause::None);
  EXPECT_EQ(a->lock(0x7FFFFFFF, 2), FileCause::BadSeek);  // would reach the reserved bytes
}

TEST_F(FileTest, LocksConflictBetweenProcesses) {
  auto a = open(FileAccess::ReadWrite, FileShare::DenyNone);
  ASSERT_EQ(a->lock(100, 1), FileCause::None);
  pid_t pid = fork();
  if (pid == 0) {
    std::unique_ptr<File> b;
    if (posix_file_system().open(path_, FileAccess::ReadWrite, FileShare::DenyNone, &b) != FileCause::None)
      _exit(2);
    _exit(b->lock(100, 1) == FileCause::LockViolation && b->lock(101, 1) == FileCause::None ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(FileTest, SharingModesAreEnforcedBetweenOpens) {
  struct Case {
    FileAccess first_access;
    FileShare first_share;
    FileAccess second_access;
    FileShare second_share;
    bool allowed;
  };
  const FileAccess ro = FileAccess::Read, rw = FileAccess::ReadWrite;
  const Case cases[] = {
      {rw, FileShare::DenyNone, rw, FileShare::DenyNone, true},
      {rw, FileShare::DenyWrite, ro, FileShare::DenyNone, true},
      {rw, FileShare::DenyWrite, rw, FileShare::DenyNone, false},
      {ro, FileShare::DenyNone, ro, FileShare::DenyWrite, true},
      {rw, FileShare::DenyNone, ro, FileShare::DenyWrite, false},  // someone already writes
      {rw, FileShare::DenyRead, ro, FileShare::DenyNone, false},
      {rw, FileShare::DenyNone, ro, FileShare::DenyRead, false},  // someone already reads
      {rw, FileShare::Exclusive, ro, FileShare::DenyNone, false},
      {ro, FileShare::DenyNone, rw, FileShare::Exclusive, false},
  };
  for (const Case& c : cases) {
    FileCause first_cause, second_cause;
    auto first = open(c.first_access, c.first_share, &first_cause);
    ASSERT_EQ(first_cause, FileCause::None);
    auto second = open(c.second_access, c.second_share, &second_cause);
    EXPECT_EQ(second_cause, c.allowed ? FileCause::None : FileCause::SharingViolation)
        << static_cast<int>(c.first_share) << " then " << static_cast<int>(c.second_share);
    second.reset();
    first.reset();
    // Once both are closed anything opens again.
    auto again = open(rw, FileShare::Exclusive, &first_cause);
    EXPECT_EQ(first_cause, FileCause::None);
  }
}

TEST_F(FileTest, ExclusiveOpenKeepsOtherProcessesOut) {
  auto a = open(FileAccess::ReadWrite, FileShare::Exclusive);
  ASSERT_TRUE(a);
  pid_t pid = fork();
  if (pid == 0) {
    std::unique_ptr<File> b;
    _exit(posix_file_system().open(path_, FileAccess::Read, FileShare::DenyNone, &b) ==
                  FileCause::SharingViolation
              ? 0
              : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(FileTest, ALeaseIsHadOnlyAloneAndAnotherOpenWaitsUntilItIsGivenUp) {
  auto a = open(FileAccess::ReadWrite, FileShare::DenyNone);
  ASSERT_TRUE(a);
  {
    auto b = open(FileAccess::Read, FileShare::DenyNone);
    EXPECT_FALSE(a->take_lease([] {})) << "another open of the file exists";
  }
  std::atomic<int> breaks{0};
  File* raw = a.get();
  ASSERT_TRUE(a->take_lease([&] {
    ++breaks;
    raw->release_lease();
  }));
  // Writes, a cut and reads of the holder itself break nothing.
  ASSERT_EQ(a->write_at(0, "L", 1), FileCause::None);
  ASSERT_EQ(a->set_size(5), FileCause::None);
  EXPECT_EQ(breaks.load(), 0);
  // Another process's open waits for the break, which the watcher thread answers at once.
  pid_t pid = fork();
  if (pid == 0) {
    std::unique_ptr<File> c;
    const auto t0 = std::chrono::steady_clock::now();
    const FileCause cause = posix_file_system().open(path_, FileAccess::Read, FileShare::DenyNone, &c);
    const auto waited = std::chrono::steady_clock::now() - t0;
    _exit(cause == FileCause::None && waited < std::chrono::seconds(5) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(breaks.load(), 1);
  // Once the other open is gone the lease can be had again; this process's own second open breaks
  // it the same way.
  ASSERT_TRUE(a->take_lease([&] {
    ++breaks;
    raw->release_lease();
  }));
  auto again = open(FileAccess::Read, FileShare::DenyNone);
  EXPECT_TRUE(again);
  EXPECT_EQ(breaks.load(), 2);
  FileId ia, ib;
  ASSERT_EQ(a->id(&ia), FileCause::None);
  ASSERT_EQ(posix_file_system().id_of(path_, &ib), FileCause::None);
  EXPECT_EQ(ia, ib);
}

// Giving the lease up lets the waiting open go on, and its opener may then close and free the
// file at once: the answer to a break must be the last thing done with the file.
TEST_F(FileTest, AFileMayGoTheMomentItsLeaseIsGivenUp) {
  for (int round = 0; round < 10000; ++round) {
    auto a = open(FileAccess::ReadWrite, FileShare::DenyNone);
    ASSERT_TRUE(a);
    File* raw = a.get();
    // The kernel may still be ending the last round's broken lease on this file: it refuses a new
    // one until then.
    bool leased = false;
    for (int attempt = 0; attempt < 1000 && !leased; ++attempt) {
      leased = a->take_lease([raw] { raw->release_lease(); });
      if (!leased) std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ASSERT_TRUE(leased) << "round " << round;
    auto again = open(FileAccess::Read, FileShare::DenyNone);
    ASSERT_TRUE(again);
    a.reset();
  }
}

}  // namespace
}  // namespace pennacle
