#include "tools/kdbtool_backup.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/gbk.h"
#include "store/backup.h"
#include "store/restore.h"
#include "store/test_support.h"
#include "testing/fault_file.h"
#include "tools/kdbtool.h"
#include "tools/kdbtool_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;
namespace fs = std::filesystem;

class KdbtoolBackup : public KdbtoolTest {
 protected:
  // Import rows numbered from `from`: each one distinct in every column.
  std::string bills_csv(int from, int n) {
    std::string csv = u8("类型,金额,付款方式,时间,备注\n");
    for (int i = from; i < from + n; ++i) {
      csv += u8(i % 2 ? "收入" : "支出") + "," + std::to_string(i + 1) + "," + u8("微信") + ",2024-01-" +
             (i % 28 < 9 ? "0" : "") + std::to_string(i % 28 + 1) + " 10:00:00," + u8("备注") +
             std::to_string(i) + "\n";
    }
    return csv;
  }
  // The bills of a file as kdbtool exports them, without the header row.
  std::vector<CsvRecord> exported(const std::string& file) {
    EXPECT_EQ(run({"export", file}), 0) << err_.str();
    std::vector<CsvRecord> rows = csv_records(out_.str());
    if (!rows.empty()) rows.erase(rows.begin());
    return rows;
  }
  std::string import_into(const std::string& db, int from, int n) {
    const std::string csv = path("bills" + std::to_string(from) + ".csv");
    write_bytes(csv, bills_csv(from, n));
    EXPECT_EQ(run({"import", db, csv}), 0) << err_.str();
    return csv;
  }
};

TEST_F(KdbtoolBackup, ASnapshotTakenWhileAnotherProcessImportsPassesTheAuditAndHoldsAPrefix) {
  constexpr int kBills = 400;
  const std::string db = path("data.kdb");
  ASSERT_EQ(run({"create", db}), 0) << err_.str();
  const pid_t child = fork();
  if (child == 0) {
    // An import that stores each bill as it reads it (each one synced), waiting for the snapshot's
    // locks as kdbtool does.
    set_db_wait_time(2000);
    if (!open_db(db)) _exit(2);
    for (int i = 0; i < kBills; ++i) {
      if (!append_bill(i + 1, i % 2 ? "收入" : "支出", i + 1, "微信", 45000 + i, "备注" + std::to_string(i)))
        _exit(3);
      usleep(300);  // reading the next row
    }
    close_db(db);
    _exit(0);
  }
  // Snapshots from the moment the first bill is stored until the import ends.
  while (get32(read_bytes(db), kCountOffset) == 0) usleep(1000);
  int status = 0;
  for (;;) {
    const bool ended = waitpid(child, &status, WNOHANG) == child;
    ASSERT_EQ(run({"backup", db}), 0) << err_.str() << out_.str();
    if (ended) break;
  }
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the import went through beside the snapshots";
  const std::vector<CsvRecord> all = exported(db);
  ASSERT_EQ(all.size(), static_cast<size_t>(kBills));
  int during = 0;
  for (const SnapshotName& s : list_snapshots(db, path("backups"))) {
    ASSERT_EQ(run({"check", s.path}), 0) << s.path << "\n" << out_.str();
    const std::vector<CsvRecord> rows = exported(s.path);
    ASSERT_LE(rows.size(), all.size());
    for (size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(rows[i].cells, all[i].cells) << s.path << " row " << i;
    during += rows.size() > 0 && rows.size() < all.size();
  }
  EXPECT_GT(during, 0) << "at least one snapshot fell inside the import";
}

TEST_F(KdbtoolBackup, BackupsListsEachSnapshotWithItsDateAndBillCount) {
  const std::string db = path("data.kdb");
  ASSERT_EQ(run({"create", db}), 0);
  import_into(db, 0, 3);
  ASSERT_EQ(run({"backup", db}), 0) << err_.str();
  EXPECT_NE(out_.str().find("snapshot: " + path("backups/data-")), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("3 bill(s); sound"), std::string::npos) << out_.str();
  import_into(db, 3, 2);
  ASSERT_EQ(run({"backup", db, path("elsewhere")}), 0) << err_.str();
  ASSERT_EQ(run({"backup", db}), 0) << err_.str();
  ASSERT_EQ(run({"backups", db}), 0) << err_.str();
  std::istringstream lines(out_.str());
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  ASSERT_EQ(got.size(), 3u) << out_.str();
  EXPECT_NE(got[0].find("  3 bill(s)  "), std::string::npos) << got[0];
  EXPECT_NE(got[1].find("  5 bill(s)  "), std::string::npos) << got[1];
  const SnapshotName first = list_snapshots(db, path("backups")).at(0);
  char date[64];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d  ", first.year, first.month, first.day,
                first.hour, first.minute, first.second);
  EXPECT_EQ(got[0].substr(0, 21), date) << "the date and time come first";
  EXPECT_EQ(got[2], "2 snapshot(s) in " + path("backups"));
  ASSERT_EQ(run({"backups", db, path("elsewhere")}), 0);
  EXPECT_NE(out_.str().find("  5 bill(s)  "), std::string::npos) << out_.str();
  // No FILE: the default ledger, here PENNACLE_HOME's, which has none.
  const char* const home = std::getenv("PENNACLE_HOME");
  const std::string saved = home ? home : "";
  ::setenv("PENNACLE_HOME", path("nowhere").c_str(), 1);
  EXPECT_NE(run({"backup"}), 0);
  home ? ::setenv("PENNACLE_HOME", saved.c_str(), 1) : ::unsetenv("PENNACLE_HOME");
  EXPECT_NE(err_.str().find(path("nowhere") + "/data.kdb"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("does not exist"), std::string::npos) << err_.str();
  EXPECT_NE(run({"backup", path("missing.kdb")}), 0);
  EXPECT_NE(err_.str().find("does not exist"), std::string::npos) << err_.str();
}

TEST_F(KdbtoolBackup, RestoreRefusesWhileTheFileIsOpenThenPutsTheSnapshotBack) {
  const std::string db = path("data.kdb");
  ASSERT_EQ(run({"create", db}), 0);
  import_into(db, 0, 4);
  ASSERT_EQ(run({"backup", db}), 0);
  const std::string snap = list_snapshots(db, path("backups")).at(0).path;
  import_into(db, 4, 6);
  const std::vector<CsvRecord> before = exported(db);
  ASSERT_TRUE(open_db(db));  // as the window holds it
  EXPECT_EQ(run({"restore", snap, db}), 1);
  close_db(db);
  EXPECT_NE(err_.str().find("is open in another program"), std::string::npos) << err_.str();
  EXPECT_EQ(exported(db).size(), 10u);
  ASSERT_EQ(run({"restore", snap, db}), 0) << err_.str();
  EXPECT_NE(out_.str().find("now holds the snapshot"), std::string::npos) << out_.str();
  EXPECT_EQ(exported(db).size(), 4u);
  // The replaced file is the newest snapshot, with every bill it had.
  const std::vector<SnapshotName> all = list_snapshots(db, path("backups"));
  ASSERT_EQ(all.size(), 2u);
  const std::vector<CsvRecord> kept = exported(all[1].path);
  ASSERT_EQ(kept.size(), before.size());
  for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i].cells, before[i].cells);
}

// An Alipay export of `n` paid bills numbered from `from`, each with its own order number.
std::string alipay_export(int from, int n) {
  std::vector<SampleRow> rows;
  for (int i = from; i < from + n; ++i) {
    const std::string k = std::to_string(1000 + i);
    rows.push_back({"2023-03-" + std::to_string(10 + i % 18) + " 10:00:00", "餐饮美食", "小店" + k, "午饭",
                    "支出", std::to_string(10 + i) + ".50", "交易成功", "20230301220014" + k, "M" + k});
  }
  return alipay_2023_csv(rows);
}

TEST_F(KdbtoolBackup, ABackupCarriesTheImportLogAndARestoreBringsItBack) {
  const std::string db = path("data.kdb"), log = db + ".imports";
  ASSERT_EQ(run({"create", db}), 0);
  write_bytes(path("march.csv"), alipay_export(0, 3));
  ASSERT_EQ(run({"import", db, path("march.csv")}), 0) << err_.str();
  ASSERT_TRUE(fs::exists(log));
  const std::string log_then = read_bytes(log);
  ASSERT_EQ(run({"backup", db}), 0) << err_.str();
  const SnapshotName snap = list_snapshots(db, path("backups")).at(0);
  EXPECT_NE(out_.str().find("with: " + snap.side_path("imports")), std::string::npos) << out_.str();
  EXPECT_EQ(read_bytes(snap.side_path("imports")), log_then);
  write_bytes(path("april.csv"), alipay_export(3, 2));
  ASSERT_EQ(run({"import", db, path("april.csv")}), 0) << err_.str();
  ASSERT_NE(read_bytes(log), log_then);
  ASSERT_EQ(run({"restore", snap.path, db}), 0) << err_.str();
  EXPECT_EQ(read_bytes(log), log_then) << "the log of the bills restored";
  EXPECT_EQ(exported(db).size(), 3u);
  // Ledger and log agree again: March is there, April comes in again.
  ASSERT_EQ(run({"import", db, path("march.csv")}), 0) << err_.str();
  ASSERT_EQ(run({"import", db, path("april.csv")}), 0) << err_.str();
  EXPECT_EQ(exported(db).size(), 5u);
}

TEST_F(KdbtoolBackup, BackupsCallsASnapshotWhoseBytesChangedDamagedAndRestoreRefusesIt) {
  const std::string db = path("data.kdb");
  ASSERT_EQ(run({"create", db}), 0);
  import_into(db, 0, 4);
  ASSERT_EQ(run({"backup", db}), 0) << err_.str();
  const SnapshotName snap = list_snapshots(db, path("backups")).at(0);
  // The fourth bill's amount (4 yuan) and the second one's remark ("备注1").
  const std::vector<CsvRecord> before = exported(snap.path);
  const std::string kdb = read_bytes(snap.path), kdt = read_bytes(snap.aux_path);
  // 4.0 is that bill's 序号 first, then its amount; the sixth byte's change makes the amount 4.25.
  const double four = 4;
  const std::string four_bytes(reinterpret_cast<const char*>(&four), sizeof four);
  const size_t second = kdb.find(four_bytes, kdb.find(four_bytes) + 1);
  const size_t at_remark = kdt.find("备注1");
  ASSERT_NE(second, std::string::npos);
  const size_t at_amount = second + 6;
  ASSERT_NE(at_remark, std::string::npos);
  for (const auto& [file, at] :
       {std::pair<std::string, size_t>{snap.path, at_amount}, {snap.aux_path, at_remark + 4}}) {
    SCOPED_TRACE(file);
    const std::string good = read_bytes(file);
    std::string bad = good;
    bad[at] ^= 0x01;
    write_bytes(file, bad);
    ASSERT_EQ(run({"check", snap.path}), 0) << "the audit cannot see it";
    EXPECT_NE(exported(snap.path)[at == at_amount ? 3 : 1].cells, before[at == at_amount ? 3 : 1].cells)
        << "the change reached a bill";
    ASSERT_EQ(run({"backups", db}), 0);
    EXPECT_NE(out_.str().find("  damaged: " + file + " changed since the snapshot was taken"),
              std::string::npos)
        << out_.str();
    EXPECT_EQ(run({"restore", snap.path, db}), 1);
    EXPECT_NE(err_.str().find("is damaged"), std::string::npos) << err_.str();
    EXPECT_EQ(exported(db).size(), 4u);
    write_bytes(file, good);
  }
  ASSERT_EQ(run({"backups", db}), 0);
  EXPECT_EQ(out_.str().find("damaged"), std::string::npos) << out_.str();
  fs::remove(snap.manifest_path);  // as an older version took it
  ASSERT_EQ(run({"backups", db}), 0);
  EXPECT_NE(out_.str().find("  no manifest\n"), std::string::npos) << out_.str();
  EXPECT_EQ(run({"restore", snap.path, db}), 0) << err_.str();
}

TEST_F(KdbtoolBackup, AfterARestoreCutShortEveryCommandSaysSoAndHowToFinishIt) {
  const std::string db = path("data.kdb");
  ASSERT_EQ(run({"create", db}), 0);
  import_into(db, 0, 4);
  ASSERT_EQ(run({"backup", db}), 0);
  const std::string snap = list_snapshots(db, path("backups")).at(0).path;
  import_into(db, 4, 2);
  // The first restore that stops with the record file removed.
  for (int sync = 1; fs::exists(db); ++sync) {
    ASSERT_LT(sync, 100);
    FaultFileSystem faults(posix_file_system());
    faults.fail_nth(FileOp::Sync, sync, FileCause::HardwareIo);
    std::ignore = restore_snapshot(snap, db, &faults);  // failing is the point
  }
  const std::string finish = "kdbtool restore " + snap + " " + db;
  const std::string csv = path("more.csv");
  write_bytes(csv, bills_csv(10, 1));
  for (std::vector<std::string> command : std::vector<std::vector<std::string>>{
           {"export", db}, {"check", db}, {"import", db, csv}, {"backup", db}, {"create", db}}) {
    SCOPED_TRACE(command[0]);
    EXPECT_EQ(run(command), 1);
    EXPECT_NE(err_.str().find(db + " is missing because a restore was cut short"), std::string::npos)
        << err_.str();
    EXPECT_NE(err_.str().find("finish it with: " + finish + "\n"), std::string::npos) << err_.str();
  }
  EXPECT_FALSE(fs::exists(db)) << "create made no empty ledger in its place";
  ASSERT_EQ(run({"backups", db}), 0) << "the snapshots are listed, with the note";
  EXPECT_NE(err_.str().find("finish it with: " + finish), std::string::npos) << err_.str();
  EXPECT_NE(out_.str().find(snap), std::string::npos);
  ASSERT_EQ(run({"restore", snap, db}), 0) << err_.str();
  EXPECT_EQ(exported(db).size(), 4u);
  EXPECT_EQ(run({"check", db}), 0);
}

TEST_F(KdbtoolBackup, ABackupOfAFolderOrOfAnotherFileLeavesNothing) {
  fs::create_directory(path("ledger.kdb"));
  EXPECT_EQ(run({"backup", path("ledger.kdb")}), 1);
  EXPECT_NE(err_.str().find("is a folder, not a record file"), std::string::npos) << err_.str();
  write_bytes(path("notes.txt"), std::string(300, 'n'));
  EXPECT_EQ(run({"backup", path("notes.txt")}), 1);
  EXPECT_NE(err_.str().find("not a record file"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(path("backups")));
  EXPECT_FALSE(fs::exists(path("ledger.kdb/backups")));
}

}  // namespace
}  // namespace pennacle
