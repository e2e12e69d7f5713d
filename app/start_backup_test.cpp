// The daily backup of the real program: a copy of the binary in a directory of its own with a
// data.kdb, started offscreen and stopped once it has opened its ledger.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "ledger/bill.h"
#include "store/backup.h"
#include "store/record_store.h"
#include "store/restore.h"
#include "store/test_support.h"

#ifdef PENNACLE_BINARY

namespace pennacle {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::read_bytes;

class StartBackup : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(PENNACLE_TEST_DIR) / ("start-backup-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(PENNACLE_BINARY, dir_ / "pennacle");
    data_ = (dir_ / "data.kdb").string();
    ASSERT_EQ(create_database(data_, bill_table_fields()), DbCode::Ok);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Starts the program with its standard error in `err`, waits until its window holds the ledger
  // open (two looks in a row, so not the backup's short look at it) and `also` holds, and ends it.
  bool run_until_ledger_open(
      const fs::path& err, const std::function<bool()>& also = [] { return true; }) {
    const pid_t pid = start(err);
    bool held = false;
    for (int polls = 0, in_a_row = 0; polls < 1200 && !held; ++polls) {
      in_a_row = holds_ledger(pid) ? in_a_row + 1 : 0;
      held = in_a_row >= 2 && also();
      std::this_thread::sleep_for(50ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return held;
  }
  // Starts the program with its standard error in `err` and ends it once it has written its line
  // about the daily backup; false when none came.
  bool run_until_backup_line(const fs::path& err) {
    const pid_t pid = start(err);
    bool said = false;
    for (int polls = 0; polls < 1200 && !said; ++polls) {
      said = !backup_lines(err).empty();
      if (!said) std::this_thread::sleep_for(50ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return said;
  }
  pid_t start(const fs::path& err) {
    // What an earlier run wrote there is gone before the poll can read it as this run's.
    fs::remove(err);
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      if (!freopen(err.c_str(), "w", stderr)) _exit(126);
      const std::string program = (dir_ / "pennacle").string();
      execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }
  bool holds_ledger(pid_t pid) {
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
      std::error_code link_ec;
      if (fs::read_symlink(fd.path(), link_ec) == fs::path(data_)) return true;
    }
    return false;
  }

  std::vector<SnapshotName> snapshots() const { return list_snapshots(data_, (dir_ / "backups").string()); }
  // The program's lines on standard error (Qt may add its own).
  static std::vector<std::string> backup_lines(const fs::path& err) {
    std::vector<std::string> out;
    std::istringstream in(read_bytes(err.string()));
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with("pennacle: daily backup: ")) out.push_back(line);
    }
    return out;
  }

  fs::path dir_;
  std::string data_;
};

TEST_F(StartBackup, TheFirstStartOfTheDayTakesASnapshotAndTheNextNone) {
  // The snapshot is named beside the running program.
  ASSERT_TRUE(run_until_ledger_open(dir_ / "err1.txt", [&] { return snapshots().size() == 1; }));
  std::vector<SnapshotName> all = snapshots();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(read_bytes(all[0].path), read_bytes(data_));
  EXPECT_EQ(backup_lines(dir_ / "err1.txt"), std::vector<std::string>{});
  ASSERT_TRUE(run_until_ledger_open(dir_ / "err2.txt"));
  EXPECT_EQ(snapshots().size(), 1u);
}

TEST_F(StartBackup, RestoreRefusesWhileTheWindowHoldsTheLedger) {
  SnapshotOptions o;
  const SnapshotResult snap = take_snapshot(data_, "", o);
  ASSERT_TRUE(snap.status.ok()) << snap.status.message();
  RestoreResult refused;
  ASSERT_TRUE(run_until_ledger_open(dir_ / "err.txt", [&] {
    refused = restore_snapshot(snap.name.path, data_);
    return true;
  }));
  EXPECT_FALSE(refused.status.ok());
  EXPECT_NE(refused.status.message().find("is open in another program"), std::string::npos)
      << refused.status.message();
  EXPECT_EQ(snapshots().size(), 1u) << "nothing kept, and the start found today's snapshot";
  EXPECT_TRUE(restore_snapshot(snap.name.path, data_).status.ok()) << "once the program is gone";
}

TEST_F(StartBackup, AFailedBackupIsOneLineOnStandardErrorAndTheProgramGoesOn) {
  testing::write_bytes((dir_ / "backups").string(), "not a folder");
  ASSERT_TRUE(run_until_ledger_open(dir_ / "err.txt")) << "the window opened the ledger all the same";
  const std::vector<std::string> lines = backup_lines(dir_ / "err.txt");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("cannot make the folder"), std::string::npos) << lines[0];
}

// A ledger that is no sound record file (the window then says it cannot open it) gets no snapshot:
// backups/ keeps yesterday's snapshot and nothing else, not even a temporary copy.
TEST_F(StartBackup, ADamagedLedgerLeavesTheBackupFolderAsItWas) {
  const std::string good = read_bytes(data_);
  SnapshotOptions yesterday;
  yesterday.now = std::time(nullptr) - 24 * 60 * 60;
  ASSERT_TRUE(take_snapshot(data_, "", yesterday).status.ok());
  std::vector<fs::path> before;
  for (const auto& e : fs::directory_iterator(dir_ / "backups")) before.push_back(e.path());
  std::sort(before.begin(), before.end());
  std::string noise(good.size(), '\0');
  std::mt19937 bytes(6);
  for (char& c : noise) c = static_cast<char>(bytes());
  for (const std::string& damaged : {good.substr(0, 4) + noise.substr(4), noise, std::string()}) {
    SCOPED_TRACE(damaged.size() > 4 && damaged.substr(0, 4) == good.substr(0, 4) ? "magic" : "no magic");
    testing::write_bytes(data_, damaged);
    ASSERT_TRUE(run_until_backup_line(dir_ / "err.txt"));
    const std::vector<std::string> lines = backup_lines(dir_ / "err.txt");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("data.kdb: "), std::string::npos) << lines[0];
    std::vector<fs::path> after;
    for (const auto& e : fs::directory_iterator(dir_ / "backups")) after.push_back(e.path());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before);
  }
}

}  // namespace
}  // namespace pennacle

#endif
