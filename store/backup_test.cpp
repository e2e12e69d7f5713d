#include "store/backup.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "store/locks.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;
namespace fs = std::filesystem;

constexpr int64_t kDay = 24 * 60 * 60;

std::time_t local_time(int y, int mo, int d, int h, int mi, int s) {
  std::tm t{};
  t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d, t.tm_hour = h, t.tm_min = mi, t.tm_sec = s;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

class Backup : public StoreTest {
 protected:
  // A ledger of `n` bills, every one with a remark, so its auxiliary file has chains.
  std::string ledger_with(int n, const std::string& name = "data.kdb") {
    const std::string p = ledger(name);
    add_bills(p, 0, n);
    return p;
  }
  void add_bills(const std::string& p, int from, int n) {
    ASSERT_TRUE(open_db(p));
    for (int i = from; i < from + n; ++i)
      ASSERT_TRUE(append_bill(i + 1, "支出", i + 0.5, "微信", 45000 + i, "备注" + std::to_string(i)));
    close_db(p);
  }
  int bills_in(const std::string& p) {
    if (!open_db(p, 1)) return -1;
    const int n = record_count();
    close_db(p);
    return n;
  }
  SnapshotResult snap(const std::string& file, std::time_t now, int32_t wait_ms = kSnapshotWaitMs) {
    SnapshotOptions o;
    o.now = now;
    o.wait_ms = wait_ms;
    return take_snapshot(file, "", o);
  }
};

TEST_F(Backup, SnapshotsAreExactCopiesNamedByTimeAndDistinctWithinOneSecond) {
  const std::string file = ledger_with(3);
  const std::time_t t = local_time(2025, 3, 4, 5, 6, 7);
  for (int i = 0; i < 3; ++i) {
    const SnapshotResult r = snap(file, t);
    ASSERT_TRUE(r.status.ok()) << r.status.message();
    EXPECT_TRUE(r.sound);
    EXPECT_EQ(r.live, 3);
  }
  // Names that are not snapshots of this file are left alone.
  for (const char* other :
       {"data-20250304-050607.txt", "data-2025.kdb", "other-20250101-000000.kdb",
        "data-20250304-050607-01.kdb", "data-20251304-000000.kdb", "data-20250304-0506070.kdb"}) {
    write_bytes(path("backups/") + other, "x");
  }
  const std::vector<SnapshotName> all = list_snapshots(file, path("backups"));
  ASSERT_EQ(all.size(), 3u);
  const char* expected[] = {"data-20250304-050607", "data-20250304-050607-2", "data-20250304-050607-3"};
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].path, path("backups/") + expected[i] + ".kdb");
    EXPECT_EQ(all[i].aux_path, path("backups/") + expected[i] + ".KDT");
    EXPECT_EQ(all[i].sequence, static_cast<int>(i + 1));
    EXPECT_EQ(std::tie(all[i].year, all[i].month, all[i].day, all[i].hour, all[i].minute, all[i].second),
              std::make_tuple(2025, 3, 4, 5, 6, 7));
    EXPECT_EQ(read_bytes(all[i].path), read_bytes(file));
    EXPECT_EQ(read_bytes(all[i].aux_path), read_bytes(path("data.KDT")));
  }
  EXPECT_TRUE(list_snapshots(file, path("nowhere")).empty());
}

TEST_F(Backup, AMissingFileFailsClearlyAndMakesNoFolder) {
  const SnapshotResult r = snap(path("data.kdb"), 0);
  EXPECT_FALSE(r.status.ok());
  EXPECT_NE(r.status.message().find("does not exist"), std::string::npos) << r.status.message();
  EXPECT_EQ(r.status.path(), path("data.kdb"));
  EXPECT_EQ(r.status.sys_errno(), ENOENT);
  EXPECT_FALSE(fs::exists(path("backups")));
  const DailyBackupResult d = daily_backup(path("data.kdb"), std::time(nullptr));
  EXPECT_EQ(d.status, DailyBackup::NoFile);
  EXPECT_TRUE(d.message.empty());
  EXPECT_FALSE(fs::exists(path("backups")));
}

TEST_F(Backup, AWriterHoldingALockDelaysTheSnapshotAndOneThatStaysFailsItCleanly) {
  const std::string file = ledger_with(2);
  // A writer's count-slot lock, taken through an open of its own as another program's would be.
  std::unique_ptr<File> writer;
  ASSERT_EQ(posix_file_system().open(file, FileAccess::ReadWrite, FileShare::DenyNone, &writer),
            FileCause::None);
  ASSERT_EQ(platform_lock(*writer, kCountOffset, 0), DbCode::Ok);
  const SnapshotResult busy = snap(file, 0, 60);
  EXPECT_FALSE(busy.status.ok());
  EXPECT_NE(busy.status.message().find("busy"), std::string::npos) << busy.status.message();
  EXPECT_EQ(names_in(path("backups")), std::vector<std::string>{".lock"}) << "no snapshot, no temporary file";
  // The same for a lock on the auxiliary file alone (a chain being written).
  std::unique_ptr<File> aux_writer;
  ASSERT_EQ(
      posix_file_system().open(path("data.KDT"), FileAccess::ReadWrite, FileShare::DenyNone, &aux_writer),
      FileCause::None);
  ASSERT_EQ(platform_unlock(*writer, kCountOffset), DbCode::Ok);
  ASSERT_EQ(platform_lock(*aux_writer, 512, 0), DbCode::Ok);
  EXPECT_FALSE(snap(file, 0, 60).status.ok());
  EXPECT_EQ(names_in(path("backups")), std::vector<std::string>{".lock"});
  ASSERT_EQ(platform_unlock(*aux_writer, 512), DbCode::Ok);
  const SnapshotResult r = snap(file, 0, 60);
  EXPECT_TRUE(r.status.ok()) << r.status.message();
  EXPECT_TRUE(r.sound);
}

TEST_F(Backup, AFailedSyncNamesNoSnapshotAndLeavesNoTemporaryFile) {
  const std::string file = ledger_with(2);
  fs::create_directory(path("backups"));
  FaultFileSystem faults(posix_file_system());
  SnapshotOptions o;
  o.files = &faults;
  for (int n = 1; n <= 2; ++n) {  // the record file's copy, then the auxiliary file's
    faults.reset();
    faults.fail_nth(FileOp::Sync, n, FileCause::HardwareIo);
    const SnapshotResult r = take_snapshot(file, "", o);
    EXPECT_FALSE(r.status.ok()) << "sync " << n;
    EXPECT_NE(r.status.message().find("cannot sync"), std::string::npos) << r.status.message();
    // The failure names the copy that would not sync and what the system said.
    EXPECT_EQ(r.status.code(), StatusCode::File);
    EXPECT_EQ(r.status.file_cause(), FileCause::HardwareIo);
    EXPECT_EQ(r.status.sys_errno(), EIO);
    EXPECT_EQ(r.status.path().rfind(path("backups") + "/", 0), 0u) << r.status.path();
    EXPECT_EQ(names_in(path("backups")), std::vector<std::string>{".lock"});
  }
}

TEST_F(Backup, TheStructureCheckNamesACutFile) {
  const std::string file = ledger_with(40);
  const std::string aux = read_bytes(path("data.KDT"));
  write_bytes(path("data.KDT"), aux.substr(0, 1024));
  const SnapshotResult r = snap(file, 0);
  ASSERT_TRUE(r.status.ok()) << r.status.message();
  EXPECT_FALSE(r.sound) << "the full audit";
  SnapshotOptions quick;
  quick.audit = false;
  const SnapshotResult q = take_snapshot(file, "", quick);
  ASSERT_TRUE(q.status.ok());
  EXPECT_FALSE(q.sound);
  ASSERT_EQ(q.report.size(), 1u);
  EXPECT_NE(q.report[0].find("fewer blocks"), std::string::npos) << q.report[0];
  write_bytes(path("data.KDT"), aux);
  const std::string main = read_bytes(file);
  write_bytes(file, main.substr(0, main.size() - 200));
  const SnapshotResult m = take_snapshot(file, "", quick);
  EXPECT_FALSE(m.sound);
  EXPECT_NE(m.report.at(0).find("fewer records"), std::string::npos) << m.report.at(0);
}

TEST_F(Backup, DailyBackupTakesOneADayAndKeepsTheNewest30) {
  const std::string file = ledger_with(5);
  const std::time_t first = local_time(2025, 1, 1, 12, 0, 0);
  for (int d = 0; d < 35; ++d) {
    const std::time_t noon = first + d * kDay;
    const DailyBackupResult r = daily_backup(file, noon);
    ASSERT_EQ(r.status, DailyBackup::Taken) << "day " << d << ": " << r.message;
    EXPECT_TRUE(r.message.empty()) << r.message;
    StartBackup again;
    EXPECT_FALSE(again.begin(file, noon + 3 * 3600));
    EXPECT_EQ(again.result().status, DailyBackup::AlreadyToday) << "day " << d;
    if (d == 0) {
      EXPECT_TRUE(snap(file, noon, 60).status.ok()) << "a start with nothing to do leaves the folder free";
    }
  }
  const std::vector<SnapshotName> all = list_snapshots(file, path("backups"));
  ASSERT_EQ(all.size(), 30u);
  // Day 0 had one more (a snapshot of kdbtool's kind); the oldest went first.
  EXPECT_EQ(std::tie(all.front().month, all.front().day), std::make_tuple(1, 6));
  EXPECT_EQ(std::tie(all.back().month, all.back().day), std::make_tuple(2, 4));
  for (const SnapshotName& s : all) EXPECT_TRUE(fs::exists(s.aux_path)) << s.aux_path;
  // Auxiliary files of removed snapshots went with them: 30 pairs and the lock.
  EXPECT_EQ(names_in(path("backups")).size(), 61u);
  EXPECT_EQ(bills_in(file), 5);
}

TEST_F(Backup, TheStartSnapshotHoldsTheFileAsItWasBeforeTheProgramWroteAndLocksItsFolder) {
  const std::string file = ledger_with(4);
  StartBackup start;
  ASSERT_TRUE(start.begin(file, std::time(nullptr)));
  const std::string before = read_bytes(file);
  add_bills(file, 4, 2);  // the program at work while the second half runs
  const SnapshotResult meanwhile = snap(file, 0, 60);
  EXPECT_FALSE(meanwhile.status.ok()) << "another snapshot waits for the folder";
  EXPECT_NE(meanwhile.status.message().find("another backup or restore"), std::string::npos)
      << meanwhile.status.message();
  const DailyBackupResult r = start.finish();
  ASSERT_EQ(r.status, DailyBackup::Taken) << r.message;
  EXPECT_EQ(read_bytes(r.name.path), before);
  EXPECT_EQ(bills_in(r.name.path), 4);
  EXPECT_EQ(bills_in(file), 6);
  EXPECT_TRUE(snap(file, 0, 60).status.ok()) << "the folder is free again";
}

TEST_F(Backup, AnUnsoundDailySnapshotRemovesNoOlderOne) {
  const std::string file = ledger_with(40);
  const std::time_t first = local_time(2025, 1, 1, 12, 0, 0);
  for (int d = 0; d < 30; ++d) ASSERT_EQ(daily_backup(file, first + d * kDay).status, DailyBackup::Taken);
  write_bytes(path("data.KDT"), read_bytes(path("data.KDT")).substr(0, 1024));
  const DailyBackupResult r = daily_backup(file, first + 30 * kDay);
  EXPECT_EQ(r.status, DailyBackup::Taken);
  EXPECT_NE(r.message.find("no older snapshot was removed"), std::string::npos) << r.message;
  EXPECT_EQ(list_snapshots(file, path("backups")).size(), 31u);
}

TEST_F(Backup, AnInterruptedRestoreIsNamedAtStart) {
  write_bytes(path("data.kdb") + std::string(kRestoringSuffix), "x");
  const DailyBackupResult r = daily_backup(path("data.kdb"), std::time(nullptr));
  EXPECT_EQ(r.status, DailyBackup::NoFile);
  EXPECT_NE(r.message.find("kdbtool restore"), std::string::npos) << r.message;
}

}  // namespace
}  // namespace pennacle
