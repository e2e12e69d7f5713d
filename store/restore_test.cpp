#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "store/backup.h"
#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;
namespace fs = std::filesystem;

// The real file system, except that after `survive` renames and removes every later one fails, as
// if the machine had stopped there.
class StopAfterFs final : public FileSystem {
 public:
  explicit StopAfterFs(int survive) : left_(survive) {}
  FileCause open(std::string_view p, FileAccess a, FileShare s, std::unique_ptr<File>* out) override {
    return base_.open(p, a, s, out);
  }
  FileCause create(std::string_view p, std::unique_ptr<File>* out) override { return base_.create(p, out); }
  FileCause remove(std::string_view p) override { return step() ? base_.remove(p) : FileCause::HardwareIo; }
  FileCause rename(std::string_view from, std::string_view to) override {
    return step() ? base_.rename(from, to) : FileCause::HardwareIo;
  }
  FileCause sync_directory_of(std::string_view p) override { return base_.sync_directory_of(p); }
  bool stopped() const { return left_ < 0; }

 private:
  bool step() { return --left_ >= 0; }
  FileSystem& base_ = posix_file_system();
  int left_;
};

class Restore : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    file_ = ledger();
    add_bills(0, 5);
    SnapshotOptions o;
    const SnapshotResult r = take_snapshot(file_, "", o);
    ASSERT_TRUE(r.status.ok() && r.sound) << r.status.message();
    snapshot_ = r.name;
    add_bills(5, 3);
    old_ = pair(file_);
    fresh_ = pair(snapshot_.path);
    ASSERT_NE(old_, fresh_);
  }
  void add_bills(int from, int n) {
    ASSERT_TRUE(open_db(file_));
    for (int i = from; i < from + n; ++i)
      ASSERT_TRUE(append_bill(i + 1, "收入", i + 1.25, "银行卡", 45000 + i, "备注" + std::to_string(i)));
    close_db(file_);
  }
  std::pair<std::string, std::string> pair(const std::string& kdb) {
    return {read_bytes(kdb), read_bytes(aux_path_of(kdb))};
  }
  std::vector<SnapshotName> kept() { return list_snapshots(file_, path("backups")); }

  std::string file_;
  SnapshotName snapshot_;
  std::pair<std::string, std::string> old_, fresh_;
};

TEST_F(Restore, PutsTheSnapshotInPlaceAndKeepsTheReplacedFileAsOneMore) {
  const RestoreResult r = restore_snapshot(snapshot_.path, file_);
  ASSERT_TRUE(r.status.ok()) << r.status.message();
  EXPECT_EQ(pair(file_), fresh_);
  ASSERT_TRUE(r.kept);
  EXPECT_EQ(pair(r.kept_name.path), old_);
  EXPECT_EQ(kept().size(), 2u);
  EXPECT_FALSE(fs::exists(file_ + std::string(kRestoringSuffix)));
  EXPECT_FALSE(fs::exists(path("data.KDT") + std::string(kRestoringSuffix)));
  ASSERT_TRUE(open_db(file_));
  EXPECT_EQ(record_count(), 5);
  call_command(db_go_to, {Value::of_int(5)});
  EXPECT_EQ(read_text("备注"), "备注4");
  close_db(file_);
}

TEST_F(Restore, RefusesWhileThisOrAnotherProcessHasTheFileOpen) {
  // As the window holds it: opened by the program's own call.
  ASSERT_TRUE(open_db(file_));
  RestoreResult r = restore_snapshot(snapshot_.path, file_);
  close_db(file_);
  EXPECT_FALSE(r.status.ok());
  EXPECT_NE(r.status.message().find("open in another program"), std::string::npos) << r.status.message();
  // Another process holding it open (read-only, as kdbtool export does).
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  if (child == 0) {
    const bool opened = open_db(file_, 1);
    char c = opened ? 'y' : 'n';
    std::ignore = write(ready[1], &c, 1);
    std::ignore = read(release[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  const RestoreResult other = restore_snapshot(snapshot_.path, file_);
  std::ignore = write(release[1], &c, 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_FALSE(other.status.ok());
  EXPECT_NE(other.status.message().find("open in another program"), std::string::npos)
      << other.status.message();
  EXPECT_EQ(pair(file_), old_) << "nothing changed";
  EXPECT_EQ(kept().size(), 1u) << "nothing kept";
  EXPECT_FALSE(fs::exists(file_ + std::string(kRestoringSuffix)));
  // Once nobody has it open, the restore goes ahead.
  EXPECT_TRUE(restore_snapshot(snapshot_.path, file_).status.ok());
  EXPECT_EQ(pair(file_), fresh_);
}

TEST_F(Restore, RefusesASnapshotThatFailsTheAudit) {
  const std::string bad = path("bad.kdb");
  std::string bytes = fresh_.first;
  put32(bytes, 116 + 72 * 6, 0);  // record 1's serial
  write_bytes(bad, bytes);
  write_bytes(path("bad.KDT"), fresh_.second);
  const RestoreResult r = restore_snapshot(bad, file_);
  EXPECT_FALSE(r.status.ok());
  EXPECT_NE(r.status.message().find("does not pass the audit"), std::string::npos) << r.status.message();
  EXPECT_NE(r.status.message().find("serial 0"), std::string::npos) << r.status.message();
  EXPECT_EQ(pair(file_), old_);
  EXPECT_FALSE(restore_snapshot(file_, file_).status.ok()) << "a file cannot be its own snapshot";
  EXPECT_FALSE(restore_snapshot(path("missing.kdb"), file_).status.ok());
  EXPECT_EQ(pair(file_), old_);
}

// A stop after any rename or removal leaves either the old pair, the new pair, or no record file
// at all (reported by every open), never one file of each; running the restore again finishes it.
TEST_F(Restore, AStopAtAnyStepNeverLeavesAMismatchedPairAndARerunFinishes) {
  for (int survive = 0;; ++survive) {
    SCOPED_TRACE("renames and removals that happen: " + std::to_string(survive));
    write_bytes(file_, old_.first);
    write_bytes(path("data.KDT"), old_.second);
    StopAfterFs stop(survive);
    const RestoreResult r = restore_snapshot(snapshot_.path, file_, &stop);
    if (fs::exists(file_)) {
      const auto now = pair(file_);
      EXPECT_TRUE(now == old_ || now == fresh_);
    } else {
      EXPECT_FALSE(r.status.ok());
      EXPECT_TRUE(fs::exists(file_ + std::string(kRestoringSuffix)));
      EXPECT_FALSE(open_db(file_)) << "the program reports a missing file";
      EXPECT_NE(r.status.message().find("run the same restore again"), std::string::npos)
          << r.status.message();
    }
    if (!stop.stopped()) {
      EXPECT_TRUE(r.status.ok()) << r.status.message();
      EXPECT_EQ(pair(file_), fresh_);
      EXPECT_GE(survive, 3) << "remove, rename, rename";
      break;
    }
    EXPECT_FALSE(r.status.ok());
    const RestoreResult again = restore_snapshot(snapshot_.path, file_);
    ASSERT_TRUE(again.status.ok()) << again.status.message();
    EXPECT_EQ(pair(file_), fresh_);
    EXPECT_FALSE(fs::exists(file_ + std::string(kRestoringSuffix)));
  }
}

TEST_F(Restore, IntoAMissingFileKeepsNothingAndWritesThePair) {
  fs::remove(file_);
  fs::remove(path("data.KDT"));
  const RestoreResult r = restore_snapshot(snapshot_.path, file_);
  ASSERT_TRUE(r.status.ok()) << r.status.message();
  EXPECT_FALSE(r.kept);
  EXPECT_EQ(pair(file_), fresh_);
}

}  // namespace
}  // namespace pennacle
