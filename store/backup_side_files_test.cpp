// Snapshots and the side files beside the ledger: the recycle bin is carried like the import log,
// also when a writer replaces it by a rename while the snapshot waits for its lock byte.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "store/backup.h"
#include "store/restore.h"
#include "store/side_files.h"
#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class SideFiles : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    file_ = ledger();
    ASSERT_TRUE(open_db(file_));
    ASSERT_TRUE(append_bill(1, "支出", 2.5, "微信", 45000, "x"));
    close_db(file_);
  }
  std::string trash() const { return side_file_path(file_, "trash"); }
  // Holds the bin's lock byte as a writer does.
  std::unique_ptr<File> hold(const std::string& p) {
    std::unique_ptr<File> f;
    EXPECT_EQ(posix_file_system().open(p, FileAccess::ReadWrite, FileShare::DenyNone, &f), FileCause::None);
    if (f) {
      EXPECT_EQ(f->lock(kSideFileLockByte, 1), FileCause::None);
    }
    return f;
  }
  std::string file_;
};

TEST_F(SideFiles, TheBinGoesIntoTheSnapshotAndARestoreBringsItBack) {
  write_bytes(trash(), "bin then\n");
  const SnapshotResult r = take_snapshot(file_, "", SnapshotOptions{});
  ASSERT_TRUE(r.status.ok()) << r.status.message();
  EXPECT_EQ(read_bytes(r.name.side_path("trash")), "bin then\n");
  write_bytes(trash(), "bin now\n");
  const RestoreResult back = restore_snapshot(r.name.path, file_);
  ASSERT_TRUE(back.status.ok()) << back.status.message();
  EXPECT_EQ(read_bytes(trash()), "bin then\n");
  // A snapshot without a bin takes the bin away: it would name bills of a later ledger.
  std::filesystem::remove(trash());
  const SnapshotResult none = take_snapshot(file_, "", SnapshotOptions{});
  ASSERT_TRUE(none.status.ok()) << none.status.message();
  write_bytes(trash(), "bin now\n");
  ASSERT_TRUE(restore_snapshot(none.name.path, file_).status.ok());
  EXPECT_FALSE(std::filesystem::exists(trash()));
}

TEST_F(SideFiles, ABinReplacedWhileTheSnapshotWaitedIsCopiedUnderItsName) {
  write_bytes(trash(), "before the trim\n");
  std::unique_ptr<File> trimmer = hold(trash());
  SnapshotResult r;
  std::thread taker([&] { r = take_snapshot(file_, "", SnapshotOptions{}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // The trim: a new file renamed into place, then the old one let go.
  write_bytes(trash() + ".trimmed", "after the trim\n");
  std::filesystem::rename(trash() + ".trimmed", trash());
  trimmer->close();
  taker.join();
  ASSERT_TRUE(r.status.ok()) << r.status.message();
  EXPECT_EQ(read_bytes(r.name.side_path("trash")), "after the trim\n");
}

TEST_F(SideFiles, AWriterOfTheBinThatOutlastsTheWaitIsNamed) {
  write_bytes(trash(), "bin\n");
  std::unique_ptr<File> writer = hold(trash());
  SnapshotOptions o;
  o.wait_ms = 50;
  const SnapshotResult r = take_snapshot(file_, "", o);
  EXPECT_FALSE(r.status.ok());
  EXPECT_NE(
      r.status.message().find(trash() + " is being written by another program (a delete or an undelete"),
      std::string::npos)
      << r.status.message();
}

}  // namespace
}  // namespace pennacle
