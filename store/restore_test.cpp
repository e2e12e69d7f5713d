#include "store/restore.h"

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "store/backup.h"
#include "store/snapshot_manifest.h"
#include "store/snapshot_test_support.h"
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
    write_bytes(log(), kSnapshotLog);
    SnapshotOptions o;
    const SnapshotResult r = take_snapshot(file_, "", o);
    ASSERT_TRUE(r.status.ok() && r.sound) << r.status.message();
    snapshot_ = r.name;
    add_bills(5, 3);
    write_bytes(log(), std::string(kSnapshotLog) + kLaterImport);
    old_ = pair(file_);
    fresh_ = pair(snapshot_.path);
    ASSERT_NE(old_, fresh_);
  }
  // The import log beside the ledger, and what it held when the snapshot was taken and after.
  std::string log() const { return file_ + ".imports"; }
  static constexpr char kSnapshotLog[] =
      "kdbtool imports 1\nD\t2024001\t2024-01-02 10:00:00\t12.5\t-\t1\t00\t0\n";
  static constexpr char kLaterImport[] = "D\t2024002\t2024-01-03 10:00:00\t7\t-\t7\t00\t0\n";
  // Every file of a ledger or snapshot: record file, auxiliary file, import log ("none" when missing).
  std::vector<std::string> files_of(const std::string& kdb) {
    const std::string side = kdb + ".imports";
    return {read_bytes(kdb), read_bytes(aux_path_of(kdb)), fs::exists(side) ? read_bytes(side) : "none"};
  }
  std::vector<std::string> old_files() {
    return {old_.first, old_.second, std::string(kSnapshotLog) + kLaterImport};
  }
  std::vector<std::string> fresh_files() { return {fresh_.first, fresh_.second, kSnapshotLog}; }
  void put_back_old_files() {
    write_bytes(file_, old_.first);
    write_bytes(path("data.KDT"), old_.second);
    write_bytes(log(), std::string(kSnapshotLog) + kLaterImport);
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
    put_back_old_files();
    StopAfterFs stop(survive);
    const RestoreResult r = restore_snapshot(snapshot_.path, file_, &stop);
    if (fs::exists(file_)) {
      const auto now = files_of(file_);
      EXPECT_TRUE(now == old_files() || now == fresh_files());
      EXPECT_EQ(interrupted_restore_message(file_), "");
    } else {
      EXPECT_FALSE(r.status.ok());
      EXPECT_TRUE(fs::exists(file_ + std::string(kRestoringSuffix)));
      EXPECT_FALSE(open_db(file_)) << "the program reports a missing file";
      EXPECT_NE(r.status.message().find("run the same restore again"), std::string::npos)
          << r.status.message();
      // Every command is told how to finish it, naming the snapshot.
      EXPECT_EQ(interrupted_restore_message(file_, "data.kdb"),
                "data.kdb is missing because a restore was cut short (" + file_ +
                    ".restoring lies beside it); finish it with: kdbtool restore " + snapshot_.path +
                    " data.kdb");
    }
    // A stop at the last removal, that of the note naming the snapshot, leaves the restore done.
    if (!stop.stopped() || r.status.ok()) {
      EXPECT_TRUE(r.status.ok()) << r.status.message();
      EXPECT_EQ(pair(file_), fresh_);
      EXPECT_GE(survive, 4) << "remove, rename the log, rename the auxiliary file, rename";
      break;
    }
    EXPECT_FALSE(r.status.ok());
    const RestoreResult again = restore_snapshot(snapshot_.path, file_);
    ASSERT_TRUE(again.status.ok()) << again.status.message();
    EXPECT_EQ(files_of(file_), fresh_files());
    EXPECT_FALSE(fs::exists(file_ + std::string(kRestoringSuffix)));
    EXPECT_FALSE(fs::exists(log() + std::string(kRestoringSuffix)));
  }
}

TEST_F(Restore, BringsTheSnapshotsImportLogBackAndKeepsTheReplacedOne) {
  const RestoreResult r = restore_snapshot(snapshot_.path, file_);
  ASSERT_TRUE(r.status.ok()) << r.status.message();
  EXPECT_EQ(files_of(file_), fresh_files());
  ASSERT_TRUE(r.kept);
  EXPECT_EQ(files_of(r.kept_name.path), old_files());
  EXPECT_EQ(check_snapshot_seal(r.kept_name.path).seal, SnapshotSeal::Intact);
  EXPECT_FALSE(fs::exists(log() + std::string(kRestoringSuffix)));
  EXPECT_FALSE(fs::exists(file_ + std::string(kRestoringSuffix) + std::string(kRestoringFromSuffix)));
}

TEST_F(Restore, ASnapshotWithoutALogRemovesTheNewerLog) {
  fs::remove(log());
  SnapshotOptions o;
  const SnapshotResult bare = take_snapshot(file_, "", o);
  ASSERT_TRUE(bare.status.ok());
  write_bytes(log(), std::string(kSnapshotLog) + kLaterImport);  // imports after that snapshot
  const RestoreResult r = restore_snapshot(bare.name.path, file_);
  ASSERT_TRUE(r.status.ok()) << r.status.message();
  EXPECT_FALSE(fs::exists(log())) << "a log newer than the ledger beside it";
  EXPECT_EQ(files_of(r.kept_name.path)[2], std::string(kSnapshotLog) + kLaterImport) << "kept with the rest";
}

// A snapshot whose bytes changed since it was taken is refused before anything changes.
TEST_F(Restore, RefusesADamagedSnapshotAndTakesAnOlderOneOnTheAuditAlone) {
  const std::vector<std::string> parts{snapshot_.path, snapshot_.aux_path, snapshot_.side_path("imports")};
  const std::string kdb = read_bytes(snapshot_.path);
  const double amount = 3.25;  // bill 3's
  const size_t at_amount = kdb.find(std::string(reinterpret_cast<const char*>(&amount), sizeof amount));
  const size_t at_remark = read_bytes(snapshot_.aux_path).find("备注2");
  ASSERT_NE(at_amount, std::string::npos);
  ASSERT_NE(at_remark, std::string::npos);
  const size_t flips[] = {at_amount, at_remark + 4, 40};
  for (size_t i = 0; i < parts.size(); ++i) {
    SCOPED_TRACE(parts[i]);
    const std::string good = read_bytes(parts[i]);
    std::string bad = good;
    bad[flips[i]] ^= 0x10;
    write_bytes(parts[i], bad);
    const RestoreResult r = restore_snapshot(snapshot_.path, file_);
    EXPECT_FALSE(r.status.ok());
    EXPECT_NE(r.status.message().find("is damaged: " + parts[i]), std::string::npos) << r.status.message();
    EXPECT_NE(r.status.message().find("nothing was changed"), std::string::npos);
    EXPECT_EQ(files_of(file_), old_files());
    EXPECT_EQ(kept().size(), 1u) << "nothing kept";
    EXPECT_FALSE(fs::exists(file_ + std::string(kRestoringSuffix)));
    write_bytes(parts[i], good);
  }
  // Taken by an older version: no manifest, restored on the audit.
  fs::remove(snapshot_.manifest_path);
  const RestoreResult r = restore_snapshot(snapshot_.path, file_);
  ASSERT_TRUE(r.status.ok()) << r.status.message();
  ASSERT_FALSE(r.lines.empty());
  EXPECT_NE(r.lines[0].find("no manifest"), std::string::npos) << r.lines[0];
  EXPECT_EQ(files_of(file_), fresh_files());
}

// A power cut at every write and sync of a restore that brings the log back, keeping none, all or
// random sectors of what was not synced: the old files with the old log, the new ones with the
// snapshot's log, or no record file with the note to run the same restore again, which finishes it.
TEST_F(Restore, APowerCutAtAnyPointLeavesTheOldFilesTheNewOnesOrAFinishableRestore) {
  int cut_short = 0;
  for (int writes = 0;; ++writes) {
    bool finished = false;
    for (const auto& [keeps, seed] : power_cut_kinds()) {
      SCOPED_TRACE("writes " + std::to_string(writes) + ", cut " + std::to_string(static_cast<int>(keeps)) +
                   "/" + std::to_string(seed));
      put_back_old_files();
      for (const SnapshotName& k : kept()) {
        if (k.path != snapshot_.path) {
          for (const std::string& p : k.part_paths()) fs::remove(p);
        }
      }
      PowerCutFs cut;
      cut.faults().crash_after_writes(writes);
      const RestoreResult r = restore_snapshot(snapshot_.path, file_, &cut);
      finished = !cut.faults().crashed();
      if (finished) {
        ASSERT_TRUE(r.status.ok()) << r.status.message();
      }
      cut.faults().apply_power_cut(keeps, seed);
      if (fs::exists(file_)) {
        const std::vector<std::string> now = files_of(file_);
        ASSERT_TRUE(now == old_files() || now == fresh_files());
        if (r.status.ok()) {
          ASSERT_EQ(now, fresh_files()) << "a restore reported done";
        }
        continue;
      }
      ++cut_short;
      ASSERT_NE(interrupted_restore_message(file_).find("finish it with: kdbtool restore " + snapshot_.path),
                std::string::npos)
          << interrupted_restore_message(file_);
      const RestoreResult again = restore_snapshot(snapshot_.path, file_);
      ASSERT_TRUE(again.status.ok()) << again.status.message();
      ASSERT_EQ(files_of(file_), fresh_files());
    }
    if (finished) break;
  }
  EXPECT_GT(cut_short, 0) << "some cuts fell between the removal of the record file and its return";
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
