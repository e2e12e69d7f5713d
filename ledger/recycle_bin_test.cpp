#include "ledger/recycle_bin.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "ledger/checked_lines.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr double kToday = 45500;  // a date-time value

Bill bill(int32_t serial, double amount, std::string remark = "") {
  return {serial, serial % 2 ? "支出" : "收入", amount,
          "微信", 45000.5 + serial / 86400.0,   std::move(remark)};
}

void expect_same(const BinEntry& got, const BinEntry& want) {
  EXPECT_EQ(got.id, want.id);
  EXPECT_EQ(got.deleted_at, want.deleted_at);
  EXPECT_EQ(got.bill.serial, want.bill.serial);
  EXPECT_EQ(got.bill.type, want.bill.type);
  EXPECT_EQ(got.bill.amount, want.bill.amount);
  EXPECT_EQ(got.bill.channel, want.bill.channel);
  EXPECT_EQ(got.bill.time, want.bill.time);
  EXPECT_EQ(got.bill.remark, want.bill.remark);
}

class RecycleBinTest : public StoreTest {
 protected:
  std::string db() { return path("data.kdb"); }
  std::string bin_path() { return db() + ".trash"; }
  std::vector<BinEntry> reread() {
    RecycleBin bin;
    const Status s = bin.open(posix_file_system(), db(), false);
    EXPECT_TRUE(s.ok()) << s.message();
    return bin.bills();
  }
  Status open_status() {
    RecycleBin bin;
    return bin.open(posix_file_system(), db(), false);
  }
  // A bin of bills 1, 2, ... (amount 1), `days_ago[i]` days before kToday each, in that order:
  // written as the lines put() writes, without a sync for each.
  void fill(const std::vector<double>& days_ago) {
    std::string bytes = "pennacle recycle bin 1\n";
    for (size_t i = 0; i < days_ago.size(); ++i) {
      const auto n = static_cast<int32_t>(i + 1);
      bytes += bin_bill_line({n, kToday - days_ago[i], bill(n, 1)});
    }
    write_bytes(bin_path(), bytes);
  }
  // The same through put(), each bill synced before the next.
  void put_each(const std::vector<double>& days_ago) {
    RecycleBin bin;
    ASSERT_TRUE(bin.open(posix_file_system(), db(), true).ok());
    for (size_t i = 0; i < days_ago.size(); ++i) {
      int64_t id = 0;
      ASSERT_TRUE(bin.put(bill(static_cast<int32_t>(i + 1), 1), kToday - days_ago[i], &id).ok());
    }
  }
};

TEST_F(RecycleBinTest, EveryValueComesBackExactly) {
  const std::vector<BinEntry> want = {
      {1, kToday + 0.1, bill(7, 0.1 + 0.2, "午饭\t和\n晚饭 100%")},
      {2, kToday + 1e-9, {9, "收入", 1e-7 * 3, "银行卡 1234", 45001.123456789, ""}},
      {3, kToday, {INT32_MAX, "报销", 123456789.123, "%41", 1, std::string(500, 'x')}}};
  {
    RecycleBin bin;
    ASSERT_TRUE(bin.open(posix_file_system(), db(), true).ok());
    EXPECT_TRUE(bin.bills().empty());
    for (const BinEntry& e : want) {
      int64_t id = 0;
      ASSERT_TRUE(bin.put(e.bill, e.deleted_at, &id).ok());
      EXPECT_EQ(id, e.id);
    }
  }
  const std::vector<BinEntry> got = reread();
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) expect_same(got[i], want[i]);
  // One line per bill, the texts escaped: a remark's line end breaks no line. The header is synced
  // alone, so each bill's line follows a mark.
  const std::string bytes = read_bytes(bin_path());
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 1 + 3 + 3);
  EXPECT_NE(bytes.find("%09"), std::string::npos);
}

TEST_F(RecycleBinTest, AnUndeleteBegunStaysOpenUntilItsEntryLeaves) {
  {
    RecycleBin bin;
    ASSERT_TRUE(bin.open(posix_file_system(), db(), true).ok());
    int64_t a = 0, b = 0;
    ASSERT_TRUE(bin.put(bill(3, 5), kToday, &a).ok());
    ASSERT_TRUE(bin.put(bill(3, 5), kToday + 1, &b).ok());  // serial 3 deleted again after a restore
    ASSERT_EQ(bin.newest_with_serial(3)->id, b);
    ASSERT_TRUE(bin.begin_undelete(b, 40).ok());
    ASSERT_TRUE(bin.begin_undelete(b, 44).ok());  // tried again: the first intent stands
    ASSERT_TRUE(bin.begin_undelete(a, 41).ok());
    ASSERT_TRUE(bin.leave(a, 42).ok());
  }
  RecycleBin bin;
  ASSERT_TRUE(bin.open(posix_file_system(), db(), false).ok());
  ASSERT_EQ(bin.bills().size(), 1u);
  EXPECT_EQ(bin.bills()[0].id, 2);
  EXPECT_EQ(bin.open_undeletes(), (std::map<int64_t, int32_t>{{2, 40}}));
  EXPECT_EQ(bin.newest_with_serial(3)->id, 2);
  EXPECT_FALSE(bin.newest_with_serial(4).has_value());
}

TEST_F(RecycleBinTest, ATornEndIsDroppedAndWrittenOver) {
  put_each({1, 2});
  const std::string sound = read_bytes(bin_path());
  BinEntry third{3, kToday, bill(3, 3)};
  const std::string line = bin_bill_line(third);
  for (size_t cut = 0; cut < line.size(); cut += 7) {
    write_bytes(bin_path(), sound + line.substr(0, cut));
    EXPECT_EQ(reread().size(), 2u) << cut;
  }
  // Zeros where a sector never reached the disk, then a sound line: all of it is the torn end.
  write_bytes(bin_path(), sound + std::string(30, '\0') + "\n" + line);
  {
    RecycleBin bin;
    ASSERT_TRUE(bin.open(posix_file_system(), db(), true).ok());
    ASSERT_EQ(bin.bills().size(), 2u);
    int64_t id = 0;
    ASSERT_TRUE(bin.put(third.bill, third.deleted_at, &id).ok());
  }
  EXPECT_EQ(read_bytes(bin_path()).substr(0, sound.size()), sound);
  EXPECT_EQ(reread().size(), 3u);
}

TEST_F(RecycleBinTest, DamageIsRefusedLoudlyAndTheFileIsNeverEmptied) {
  put_each({1, 2, 3});
  const std::string sound = read_bytes(bin_path());
  // A byte of the first bill changed: later lines were synced after it, so it is no torn end.
  std::string bent = sound;
  bent[sound.find("\nD\t1\t") + 8] ^= 0x01;
  std::string foreign = "my own notes\n";
  for (const std::string& bytes : {bent, foreign}) {
    write_bytes(bin_path(), bytes);
    for (bool for_append : {false, true}) {
      RecycleBin bin;
      const Status s = bin.open(posix_file_system(), db(), for_append);
      EXPECT_EQ(s.code(), StatusCode::Corrupt);
      EXPECT_NE(s.message().find(bin_path()), std::string::npos) << s.message();
      EXPECT_NE(s.message().find("left as it is"), std::string::npos) << s.message();
      EXPECT_EQ(read_bytes(bin_path()), bytes);
    }
  }
  write_bytes(bin_path(), bent);  // line 2 is the mark of the header
  EXPECT_NE(open_status().message().find("line 3 is damaged"), std::string::npos) << open_status().message();
  // A step naming no bill before it is damage too.
  const std::string stray = checked_line({"R", "9", "4"});
  write_bytes(bin_path(), sound + stray + mark_line(sound.size() + stray.size()));
  EXPECT_EQ(open_status().code(), StatusCode::Corrupt);
}

TEST_F(RecycleBinTest, ARepairKeepsTheSoundLinesAndTheDamagedFile) {
  put_each({3, 2, 1});
  {
    RecycleBin bin;
    ASSERT_TRUE(bin.open(posix_file_system(), db(), true).ok());
    ASSERT_TRUE(bin.begin_undelete(3, 9).ok());
  }
  std::string bent = read_bytes(bin_path());
  bent[bent.find("\nD\t2\t") + 8] ^= 0x01;
  write_bytes(bin_path(), bent);
  ASSERT_EQ(open_status().code(), StatusCode::Corrupt);
  EXPECT_NE(open_status().message().find("kdbtool trash --repair"), std::string::npos)
      << open_status().message();
  RecycleBin repairer;
  Result<BinRepair> r = repairer.repair(posix_file_system(), db());
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_EQ(r->kept, 3u) << "bills 1 and 3 and the undelete begun";
  ASSERT_EQ(r->dropped.size(), 1u);
  EXPECT_EQ(r->dropped[0].first, 5);
  EXPECT_EQ(r->dropped[0].second.substr(0, 8), "D%092%09");
  EXPECT_EQ(read_bytes(bin_path() + ".damaged"), bent);
  EXPECT_FALSE(std::filesystem::exists(bin_path() + ".rebuilt"));
  {
    RecycleBin bin;
    ASSERT_TRUE(bin.open(posix_file_system(), db(), true).ok());
    ASSERT_EQ(bin.bills().size(), 2u);
    EXPECT_EQ(bin.bills()[0].id, 1);
    EXPECT_EQ(bin.bills()[1].id, 3);
    EXPECT_EQ(bin.open_undeletes(), (std::map<int64_t, int32_t>{{3, 9}}));
    int64_t id = 0;
    ASSERT_TRUE(bin.put(bill(40, 4), kToday, &id).ok());
    EXPECT_EQ(id, 4);
  }
  // A sound bin is left as it is; a missing one is named.
  const std::string sound = read_bytes(bin_path());
  RecycleBin again;
  r = again.repair(posix_file_system(), db());
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(r->dropped.empty());
  EXPECT_EQ(read_bytes(bin_path()), sound);
  std::filesystem::remove(bin_path());
  RecycleBin none;
  EXPECT_EQ(none.repair(posix_file_system(), db()).status().code(), StatusCode::NotFound);
}

TEST_F(RecycleBinTest, AMissingBinIsEmptyAndIsMadeOnlyToWrite) {
  EXPECT_TRUE(reread().empty());
  EXPECT_FALSE(std::filesystem::exists(bin_path()));
  for (const char* start : {"", "pennacle recyc"}) {  // made when the power went
    write_bytes(bin_path(), start);
    EXPECT_TRUE(reread().empty());
  }
}

TEST_F(RecycleBinTest, ATrimKeepsTheLastThousandOrNinetyDaysWhicheverIsMore) {
  struct Case {
    const char* what;
    std::vector<double> days_ago;
    size_t kept;
  };
  const std::vector<double> old(1100, 200), recent(1100, 10);
  std::vector<double> mixed(50, 200), mostly_old(950, 200);
  mixed.insert(mixed.end(), 1050, 10);           // more than a thousand of the last 90 days
  mostly_old.insert(mostly_old.end(), 100, 10);  // a thousand reach back past 90 days
  for (const Case& c : {Case{"all old", old, 1000}, Case{"all recent", recent, 1100},
                        Case{"mixed", mixed, 1050}, Case{"mostly old", mostly_old, 1000}}) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(bin_path());
    fill(c.days_ago);
    RecycleBin bin;
    ASSERT_TRUE(bin.open(posix_file_system(), db(), true).ok());
    EXPECT_EQ(bin.trimmable(kToday), c.days_ago.size() - c.kept);
    EXPECT_EQ(bin.trim_due(kToday), c.days_ago.size() - c.kept >= kBinTrimSlack);
    ASSERT_TRUE(bin.trim(kToday).ok());
    const std::vector<BinEntry> got = reread();
    ASSERT_EQ(got.size(), c.kept);
    // The newest stay, with their ids and values.
    const size_t first = c.days_ago.size() - c.kept;
    expect_same(got.front(), {static_cast<int64_t>(first + 1), kToday - c.days_ago[first],
                              bill(static_cast<int32_t>(first + 1), 1)});
    EXPECT_EQ(got.back().id, static_cast<int64_t>(c.days_ago.size()));
  }
  EXPECT_FALSE(std::filesystem::exists(bin_path() + ".trimmed"));
}

TEST_F(RecycleBinTest, ATrimDropsEntriesThatLeftAndKeepsOpenUndeletes) {
  fill({1, 1, 1, 1});
  {
    RecycleBin bin;
    ASSERT_TRUE(bin.open(posix_file_system(), db(), true).ok());
    ASSERT_TRUE(bin.leave(1, 10).ok());
    ASSERT_TRUE(bin.begin_undelete(3, 12).ok());
    EXPECT_EQ(bin.trimmable(kToday), 1u);
    ASSERT_TRUE(bin.trim(kToday).ok());
  }
  RecycleBin bin;
  ASSERT_TRUE(bin.open(posix_file_system(), db(), true).ok());
  ASSERT_EQ(bin.bills().size(), 3u);
  EXPECT_EQ(bin.bills()[0].id, 2);
  EXPECT_EQ(bin.open_undeletes(), (std::map<int64_t, int32_t>{{3, 12}}));
  int64_t id = 0;
  ASSERT_TRUE(bin.put(bill(20, 2), kToday, &id).ok());
  EXPECT_EQ(id, 5);  // ids keep rising past a trim
}

// A writer that waited for the lock of a bin a trim replaced writes into the new one.
TEST_F(RecycleBinTest, AWriterWaitingThroughATrimWritesTheNewFile) {
  fill({200, 200});
  auto trimmer = std::make_unique<RecycleBin>();
  ASSERT_TRUE(trimmer->open(posix_file_system(), db(), true).ok());
  Status waited;
  std::thread writer([&] {
    RecycleBin bin;
    waited = bin.open(posix_file_system(), db(), true);
    int64_t id = 0;
    if (waited.ok()) waited = bin.put(bill(30, 3), kToday, &id);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(trimmer->leave(1, 5).ok());
  ASSERT_TRUE(trimmer->trim(kToday).ok());
  trimmer.reset();
  writer.join();
  ASSERT_TRUE(waited.ok()) << waited.message();
  const std::vector<BinEntry> got = reread();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].bill.serial, 30);
}

TEST_F(RecycleBinTest, FailuresNameTheBinAndWhatTheSystemSaid) {
  FaultFileSystem faults(posix_file_system());
  RecycleBin bin;
  ASSERT_TRUE(bin.open(faults, db(), true).ok());
  int64_t id = 0;
  faults.fail_nth(FileOp::Write, 1, FileCause::DiskFull);
  const Status full = bin.put(bill(1, 1), kToday, &id);
  EXPECT_EQ(full.path(), bin_path());
  EXPECT_EQ(full.sys_errno(), ENOSPC);
  EXPECT_NE(full.message().find("cannot write"), std::string::npos) << full.message();
  faults.fail_nth(FileOp::Sync, 1, FileCause::HardwareIo);
  EXPECT_NE(bin.put(bill(1, 1), kToday, &id).message().find("disk"), std::string::npos);
  // A second writer waits for the first, then says who holds the bin.
  RecycleBin second;
  const Status busy = second.open(posix_file_system(), db(), true);
  EXPECT_NE(busy.message().find("another program is writing the recycle bin"), std::string::npos)
      << busy.message();
}

}  // namespace
}  // namespace pennacle
