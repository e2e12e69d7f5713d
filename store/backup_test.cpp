#include "store/backup.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "store/check.h"
#include "store/locks.h"
#include "store/restore.h"
#include "store/side_files.h"
#include "store/snapshot_manifest.h"
#include "store/snapshot_test_support.h"
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
  for (std::string_view suffix : kSideFileSuffixes)  // every side file, so that every part is there
    write_bytes(side_file_path(file, suffix), "a side file\n");
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
  for (const SnapshotName& s : all) {
    for (const std::string& part : s.part_paths()) EXPECT_TRUE(fs::exists(part)) << part;
  }
  // Every file of a removed snapshot went with it: 30 times the record file, its auxiliary file,
  // its side files and its manifest, and the lock.
  EXPECT_EQ(names_in(path("backups")).size(), 30u * (3 + kSideFileSuffixes.size()) + 1);
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

// A ledger that fails the structure check gets no daily snapshot: each start would add one, and
// rotation would then push the good copies out. backups/ stays exactly as it was.
TEST_F(Backup, ADamagedLedgerGetsNoDailySnapshotAndRemovesNone) {
  const std::string file = ledger_with(40);
  const std::time_t first = local_time(2025, 1, 1, 12, 0, 0);
  for (int d = 0; d < 30; ++d) ASSERT_EQ(daily_backup(file, first + d * kDay).status, DailyBackup::Taken);
  const std::vector<std::string> before = names_in(path("backups"));
  const std::string main = read_bytes(file), aux = read_bytes(path("data.KDT"));
  std::mt19937 bytes(26);
  std::string noise(main.size(), '\0');
  for (char& c : noise) c = static_cast<char>(bytes());
  struct Damage {
    const char* what;
    std::string main, aux;
  };
  const Damage damages[] = {
      {"a cut auxiliary file", main, aux.substr(0, 1024)},
      {"a cut record file", main.substr(0, main.size() - 200), aux},
      {"a record file's magic before random bytes", main.substr(0, 4) + noise.substr(4), aux},
      {"random bytes", noise, aux},
      {"an empty file", "", aux},
  };
  int day = 30;
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    write_bytes(file, d.main);
    write_bytes(path("data.KDT"), d.aux);
    const DailyBackupResult r = daily_backup(file, first + day++ * kDay);
    EXPECT_EQ(r.status, DailyBackup::Failed);
    EXPECT_NE(r.message.find("data.kdb: "), std::string::npos) << r.message;
    EXPECT_EQ(names_in(path("backups")), before);
  }
  write_bytes(file, main);
  write_bytes(path("data.KDT"), aux);
  EXPECT_EQ(daily_backup(file, first + day * kDay).status, DailyBackup::Taken) << "the repaired one";
  EXPECT_EQ(list_snapshots(file, path("backups")).size(), 30u);
}

// An import log as a test writes one: the store copies side files as bytes, whatever they hold.
const char kLog[] = "kdbtool imports 1\nD\t2024001\t2024-01-02 10:00:00\t12.5\t-\t1\t00\t0\n";

TEST_F(Backup, ASnapshotHoldsTheImportLogAndAManifestOfEveryFile) {
  const std::string file = ledger_with(3);
  write_bytes(path("data.kdb.imports"), kLog);
  const SnapshotResult r = snap(file, local_time(2025, 3, 4, 5, 6, 7));
  ASSERT_TRUE(r.status.ok()) << r.status.message();
  EXPECT_EQ(r.name.side_path("imports"), path("backups/data-20250304-050607.kdb.imports"));
  EXPECT_EQ(r.name.manifest_path, path("backups/data-20250304-050607.manifest"));
  EXPECT_EQ(r.side_paths, std::vector<std::string>{r.name.side_path("imports")});
  EXPECT_EQ(read_bytes(r.name.side_path("imports")), kLog);
  const SealCheck seal = check_snapshot_seal(r.name.path);
  ASSERT_EQ(seal.seal, SnapshotSeal::Intact) << seal.detail;
  // The manifest names each file by its part, with the size and digest of its bytes.
  ASSERT_EQ(seal.manifest->entries.size(), 3u);
  for (const auto& [part, source] : {std::pair<std::string, std::string>{"kdb", file},
                                     {"KDT", path("data.KDT")},
                                     {"imports", path("data.kdb.imports")}}) {
    const ManifestEntry* e = seal.manifest->find(part);
    ASSERT_NE(e, nullptr) << part;
    ManifestEntry real;
    ASSERT_TRUE(digest_file(posix_file_system(), source, &real).ok());
    EXPECT_EQ(e->size, read_bytes(source).size()) << part;
    EXPECT_EQ(e->digest, real.digest) << part;
  }
  // Without a log the snapshot has none, and its manifest names none.
  fs::remove(path("data.kdb.imports"));
  const SnapshotResult bare = snap(file, 0);
  ASSERT_TRUE(bare.status.ok());
  EXPECT_FALSE(fs::exists(bare.name.side_path("imports")));
  const SealCheck bare_seal = check_snapshot_seal(bare.name.path);
  ASSERT_EQ(bare_seal.seal, SnapshotSeal::Intact) << bare_seal.detail;
  EXPECT_EQ(bare_seal.manifest->find("imports"), nullptr);
}

// What check_snapshot_seal says of a snapshot after `change` is done to the copy of `part`.
class SealOf : public Backup {
 protected:
  void SetUp() override {
    Backup::SetUp();
    file_ = ledger_with(3);
    write_bytes(path("data.kdb.imports"), kLog);
    const SnapshotResult r = snap(file_, 0);
    ASSERT_TRUE(r.status.ok());
    name_ = r.name;
  }
  void flip(const std::string& p, size_t at) {
    std::string bytes = read_bytes(p);
    ASSERT_LT(at, bytes.size());
    bytes[at] ^= 0x01;
    write_bytes(p, bytes);
  }
  std::string file_;
  SnapshotName name_;
};

TEST_F(SealOf, AFlippedBitInAnAmountOrARemarkIsDamagedThoughTheAuditPassesIt) {
  // Bill 2's amount, 1.5: its lowest byte, so the bill reads 1.5000000000000002.
  const std::string kdb = read_bytes(name_.path);
  const double amount = 1.5;
  const size_t at = kdb.find(std::string(reinterpret_cast<const char*>(&amount), sizeof amount));
  ASSERT_NE(at, std::string::npos);
  flip(name_.path, at);
  EXPECT_TRUE(check_database(name_.path).sound) << "the audit cannot see it";
  SealCheck seal = check_snapshot_seal(name_.path);
  EXPECT_EQ(seal.seal, SnapshotSeal::Damaged);
  EXPECT_NE(seal.detail.find("changed since the snapshot was taken"), std::string::npos) << seal.detail;
  EXPECT_NE(seal.detail.find(name_.path), std::string::npos) << seal.detail;
  write_bytes(name_.path, kdb);
  ASSERT_EQ(check_snapshot_seal(name_.path).seal, SnapshotSeal::Intact);
  // A remark's text in the auxiliary file: the second block holds the first chain.
  const std::string kdt = read_bytes(name_.aux_path);
  const size_t remark = kdt.find("备注1");
  ASSERT_NE(remark, std::string::npos);
  flip(name_.aux_path, remark + 4);
  EXPECT_TRUE(check_database(name_.path).sound) << "the audit cannot see it";
  seal = check_snapshot_seal(name_.path);
  EXPECT_EQ(seal.seal, SnapshotSeal::Damaged);
  EXPECT_NE(seal.detail.find(name_.aux_path), std::string::npos) << seal.detail;
}

TEST_F(SealOf, ALogThatChangedWentMissingOrAppearedIsDamaged) {
  const std::string log = name_.side_path("imports");
  flip(log, 30);
  EXPECT_EQ(check_snapshot_seal(name_.path).seal, SnapshotSeal::Damaged);
  write_bytes(log, std::string(kLog) + "more");
  EXPECT_NE(check_snapshot_seal(name_.path).detail.find("changed size"), std::string::npos);
  fs::remove(log);
  EXPECT_NE(check_snapshot_seal(name_.path).detail.find("is missing"), std::string::npos);
  // A snapshot taken without a log gains one.
  fs::remove(path("data.kdb.imports"));
  const SnapshotResult bare = snap(file_, 0);
  write_bytes(bare.name.side_path("imports"), kLog);
  const SealCheck seal = check_snapshot_seal(bare.name.path);
  EXPECT_EQ(seal.seal, SnapshotSeal::Damaged);
  EXPECT_NE(seal.detail.find("not in the snapshot's manifest"), std::string::npos) << seal.detail;
}

TEST_F(SealOf, ADamagedManifestIsDamagedAndAMissingOneIsAnOlderSnapshot) {
  const std::string manifest = read_bytes(name_.manifest_path);
  // Every single changed bit and every cut anywhere in the manifest is seen.
  for (size_t at = 0; at < manifest.size(); ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      std::string bad = manifest;
      bad[at] = static_cast<char>(bad[at] ^ (1 << bit));
      ASSERT_FALSE(parse_manifest(bad).ok()) << "byte " << at << " bit " << bit;
    }
    ASSERT_FALSE(parse_manifest(manifest.substr(0, at)).ok()) << "cut at " << at;
  }
  EXPECT_FALSE(parse_manifest(manifest + "kdb 1 " + std::string(64, '0') + "\n").ok())
      << "a line after the seal";
  write_bytes(name_.manifest_path, manifest.substr(0, manifest.size() - 10));
  const SealCheck cut = check_snapshot_seal(name_.path);
  EXPECT_EQ(cut.seal, SnapshotSeal::Damaged);
  EXPECT_NE(cut.detail.find("manifest"), std::string::npos) << cut.detail;
  fs::remove(name_.manifest_path);
  EXPECT_EQ(check_snapshot_seal(name_.path).seal, SnapshotSeal::NoManifest);
}

TEST_F(Backup, ManifestsReadBackWhatIsWrittenAndRefuseWhatThisVersionDoesNotKnow) {
  Manifest m;
  for (const char* part : {"kdb", "KDT", "imports"}) {
    ManifestEntry e;
    e.part = part;
    e.size = std::string(part).size() * 1000003;
    for (size_t i = 0; i < e.digest.size(); ++i) e.digest[i] = static_cast<uint8_t>(i * 7 + e.size);
    m.entries.push_back(e);
  }
  Result<Manifest> back = parse_manifest(encode_manifest(m));
  ASSERT_TRUE(back.ok()) << back.status().message();
  ASSERT_EQ(back->entries.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back->entries[i].part, m.entries[i].part);
    EXPECT_EQ(back->entries[i].size, m.entries[i].size);
    EXPECT_EQ(back->entries[i].digest, m.entries[i].digest);
  }
  Manifest twice = m;
  twice.entries.push_back(m.entries[2]);
  EXPECT_NE(parse_manifest(encode_manifest(twice)).status().message().find("twice"), std::string::npos);
  Manifest unknown = m;
  unknown.entries[2].part = "photos";
  EXPECT_EQ(parse_manifest(encode_manifest(unknown)).status().code(), StatusCode::Unsupported);
  Manifest headless = m;
  headless.entries.erase(headless.entries.begin());
  EXPECT_NE(parse_manifest(encode_manifest(headless)).status().message().find("no record file"),
            std::string::npos);
  EXPECT_FALSE(parse_manifest(std::string(70000, 'x')).ok());
}

TEST_F(Backup, ARunningImportDelaysTheSnapshotAndOneThatOutlastsTheWaitFailsIt) {
  const std::string file = ledger_with(2);
  write_bytes(path("data.kdb.imports"), kLog);
  // The import log's own lock, as an import holds it for its whole run.
  std::unique_ptr<File> importer;
  ASSERT_EQ(posix_file_system().open(path("data.kdb.imports"), FileAccess::ReadWrite, FileShare::DenyNone,
                                     &importer),
            FileCause::None);
  ASSERT_EQ(importer->lock(0, 1), FileCause::None);
  const SnapshotResult busy = snap(file, 0, 60);
  EXPECT_FALSE(busy.status.ok());
  EXPECT_NE(busy.status.message().find("an import into the ledger is running"), std::string::npos)
      << busy.status.message();
  EXPECT_EQ(names_in(path("backups")), std::vector<std::string>{".lock"}) << "no snapshot, no temporary file";
  // While the snapshot copies, the import cannot begin: it finds the log's byte taken.
  ASSERT_EQ(importer->unlock(0, 1), FileCause::None);
  FaultFileSystem paused(posix_file_system());
  paused.pause_nth(FileOp::Write, 1);
  SnapshotResult r;
  std::thread taker([&] {
    SnapshotOptions o;
    o.files = &paused;
    r = take_snapshot(file, "", o);
  });
  ASSERT_TRUE(paused.wait_until_paused(std::chrono::seconds(10)));
  EXPECT_EQ(importer->lock(0, 1), FileCause::LockViolation);
  paused.resume();
  taker.join();
  ASSERT_TRUE(r.status.ok()) << r.status.message();
  EXPECT_EQ(importer->lock(0, 1), FileCause::None) << "released after the copy";
}

TEST_F(Backup, AFolderOrAFileThatIsNoRecordFileIsRefusedAndLeavesNothing) {
  fs::create_directory(path("folder.kdb"));
  SnapshotResult r = snap(path("folder.kdb"), 0);
  EXPECT_FALSE(r.status.ok());
  EXPECT_NE(r.status.message().find("is a folder"), std::string::npos) << r.status.message();
  write_bytes(path("notes.kdb"),
              "just some notes, long enough to fill a record file's header" + std::string(200, '.'));
  r = snap(path("notes.kdb"), 0);
  EXPECT_FALSE(r.status.ok());
  EXPECT_NE(r.status.message().find("not a record file"), std::string::npos) << r.status.message();
  write_bytes(path("short.kdb"), "tiny");
  EXPECT_FALSE(snap(path("short.kdb"), 0).status.ok());
  EXPECT_FALSE(fs::exists(path("backups")));
  EXPECT_NE(daily_backup(path("notes.kdb"), std::time(nullptr)).message.find("not a record file"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(path("backups")));
}

// A power cut at every write and sync of a snapshot, keeping none, all or random sectors of what was
// not synced: the folder lists the snapshots it had, or those and the new one, whole and intact.
TEST_F(Backup, APowerCutAtAnyPointLeavesNoSnapshotOrAWholeOne) {
  const std::string file = ledger_with(6);
  write_bytes(path("data.kdb.imports"), kLog);
  const std::map<std::string, std::string> source{
      {"kdb", read_bytes(file)}, {"KDT", read_bytes(path("data.KDT"))}, {"imports", kLog}};
  for (int writes = 0;; ++writes) {
    bool finished = false;
    for (const auto& [keeps, seed] : power_cut_kinds()) {
      SCOPED_TRACE("writes " + std::to_string(writes) + ", cut " + std::to_string(static_cast<int>(keeps)) +
                   "/" + std::to_string(seed));
      fs::remove_all(path("backups"));
      fs::create_directory(path("backups"));
      PowerCutFs cut;
      FaultFileSystem& faults = cut.faults();
      faults.crash_after_writes(writes);
      SnapshotOptions o;
      o.files = &cut;
      o.audit = false;
      const SnapshotResult r = take_snapshot(file, "", o);
      finished = !faults.crashed();
      if (finished) {
        ASSERT_TRUE(r.status.ok()) << r.status.message();
      }
      faults.apply_power_cut(keeps, seed);
      const std::vector<SnapshotName> listed = list_snapshots(file, path("backups"));
      ASSERT_LE(listed.size(), 1u);
      if (r.status.ok()) {
        ASSERT_EQ(listed.size(), 1u) << "a snapshot reported is there";
      }
      for (const SnapshotName& s : listed) {
        const SealCheck seal = check_snapshot_seal(s.path);
        ASSERT_EQ(seal.seal, SnapshotSeal::Intact) << seal.detail;
        for (const auto& [part, bytes] : source)
          ASSERT_EQ(read_bytes(snapshot_part_path(s.path, part)), bytes);
      }
      // The next snapshot goes through and is whole, whatever the cut left.
      const SnapshotResult next = snap(file, 0);
      ASSERT_TRUE(next.status.ok()) << next.status.message();
      ASSERT_EQ(check_snapshot_seal(next.name.path).seal, SnapshotSeal::Intact);
    }
    if (finished) {
      EXPECT_GT(writes, 8) << "copies, syncs, manifest and folder syncs were all cut";
      break;
    }
  }
}

TEST_F(Backup, AnInterruptedRestoreIsNamedAtStart) {
  write_bytes(path("data.kdb") + std::string(kRestoringSuffix), "x");
  const DailyBackupResult r = daily_backup(path("data.kdb"), std::time(nullptr));
  EXPECT_EQ(r.status, DailyBackup::NoFile);
  EXPECT_NE(r.message.find("kdbtool restore"), std::string::npos) << r.message;
}

}  // namespace
}  // namespace pennacle
