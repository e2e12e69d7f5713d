#include "ledger/bin_ledger.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "store/check.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr double kNow = 45500.25;

// Bill i: amount i + 0.25, a remark of a size that varies (none, one block, a chain of three).
Bill nth_bill(int i) {
  static const size_t kRemarks[] = {0, 40, 500, 0, 1300};
  return {i,        i % 2 ? "支出" : "收入", i + 0.25,
          "支付宝", 45000 + i / 24.0,        std::string(kRemarks[i % 5], static_cast<char>('a' + i))};
}

std::map<int32_t, Bill> live_bills() {
  std::map<int32_t, Bill> out;
  const int32_t count = record_count();
  call_command(db_go_first, {});
  for (int32_t k = 0; k < count; ++k, call_command(db_skip, {})) {
    int32_t serial = 0;
    EXPECT_EQ(db_current_serial(&serial), DbCode::Ok);
    if (serial <= 0) continue;
    Bill b;
    EXPECT_EQ(read_current_bill(&b), std::nullopt);
    b.serial = serial;
    out[serial] = b;
  }
  return out;
}

class BinLedger : public StoreTest {
 protected:
  // A ledger of bills 1..n, closed.
  void make(int n) {
    db_ = ledger("data.kdb", bill_table_fields());
    ASSERT_TRUE(open_db(db_));
    std::vector<Bill> group;
    for (int i = 1; i <= n; ++i) group.push_back(nth_bill(i));
    std::vector<int32_t> serials;
    ASSERT_EQ(append_bills(group, &serials), DbCode::Ok);
    close_db();
  }
  // Deletes the bill with `serial` as the window does: go to it, then delete_current_bill.
  Status delete_serial(FileSystem& fs, int32_t serial) {
    const int32_t count = record_count();
    call_command(db_go_first, {});
    for (int32_t k = 0; k < count; ++k, call_command(db_skip, {})) {
      int32_t s = 0;
      if (db_current_serial(&s) == DbCode::Ok && s == serial) return delete_current_bill(fs, kNow);
    }
    return Status::not_found("no such serial");
  }
  std::vector<BinEntry> bin_bills(Status* opened = nullptr) {
    RecycleBin bin;
    const Status s = bin.open(posix_file_system(), db_, false);
    if (opened) *opened = s;
    EXPECT_TRUE(opened || s.ok()) << s.message();
    return bin.bills();
  }
  // What the current database holds of the bin's bills.
  Result<BinInLedger> look_up() {
    RecycleBin bin;
    if (Status s = bin.open(posix_file_system(), db_, false); !s.ok()) return s;
    return look_up_bin(bin);
  }
  std::string bin_path() const { return db_ + ".trash"; }
  std::string db_;
};

TEST_F(BinLedger, ADeletedBillIsInTheBinWithEveryValue) {
  make(5);
  ASSERT_TRUE(open_db(db_));
  for (int32_t serial : {5, 2}) {
    const Status s = delete_serial(posix_file_system(), serial);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  const std::map<int32_t, Bill> live = live_bills();
  EXPECT_EQ(live.size(), 3u);
  EXPECT_FALSE(live.count(5) || live.count(2));
  EXPECT_EQ(record_count(), 3) << "the delete purges";
  const std::vector<BinEntry> bin = bin_bills();
  ASSERT_EQ(bin.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const Bill want = nth_bill(i == 0 ? 5 : 2), &got = bin[i].bill;
    EXPECT_EQ(got.serial, want.serial);
    EXPECT_TRUE(same_bill_values(got, want)) << i;
    EXPECT_EQ(bin[i].deleted_at, kNow);
  }
  // Nothing in the ledger holds them: no undelete to settle, no delete cut short.
  Result<BinInLedger> in_ledger = look_up();
  ASSERT_TRUE(in_ledger.ok());
  EXPECT_TRUE(in_ledger->undeleted.empty());
  EXPECT_TRUE(in_ledger->still_live.empty());
  EXPECT_EQ(in_ledger->highest_serial, 4);
}

TEST_F(BinLedger, WhenTheBinCannotTakeTheBillNothingIsDeleted) {
  make(3);
  ASSERT_TRUE(open_db(db_));
  FaultFileSystem faults(posix_file_system());
  for (FileOp op : {FileOp::Write, FileOp::Sync}) {
    faults.fail_nth(op, 1, FileCause::DiskFull);
    const Status s = delete_serial(faults, 2);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find("the bill was not deleted"), std::string::npos) << s.message();
    EXPECT_NE(s.message().find(bin_path()), std::string::npos) << s.message();
    EXPECT_TRUE(live_bills().count(2));
    faults.reset();
  }
  // A damaged bin is never written over: the delete is refused, the bin left as it was.
  ASSERT_TRUE(delete_serial(posix_file_system(), 1).ok());
  ASSERT_TRUE(delete_serial(posix_file_system(), 3).ok());
  std::string bytes = read_bytes(bin_path());
  bytes[bytes.find("\nD\t") + 6] ^= 0x01;
  write_bytes(bin_path(), bytes);
  const Status damaged = delete_serial(posix_file_system(), 2);
  EXPECT_EQ(damaged.code(), StatusCode::Corrupt);
  EXPECT_NE(damaged.message().find("damaged"), std::string::npos) << damaged.message();
  EXPECT_TRUE(live_bills().count(2));
  EXPECT_EQ(read_bytes(bin_path()), bytes);
}

TEST_F(BinLedger, TheLedgerSettlesUndeletesAndDeletesCutShort) {
  make(4);
  ASSERT_TRUE(open_db(db_));
  ASSERT_TRUE(delete_serial(posix_file_system(), 2).ok());
  ASSERT_TRUE(delete_serial(posix_file_system(), 3).ok());
  int64_t cut_short = 0;
  {
    RecycleBin bin;
    ASSERT_TRUE(bin.open(posix_file_system(), db_, true).ok());
    // Bill 4 went into the bin and the power went before its record was deleted.
    ASSERT_TRUE(bin.put(nth_bill(4), kNow, &cut_short).ok());
    // Bill 2's undelete began; the same values stand below the serial it names (bill 4 is not
    // bill 2's), and its record was appended after it.
    ASSERT_TRUE(bin.begin_undelete(1, 4).ok());
    // Bill 3's undelete began and its append never reached the disk.
    ASSERT_TRUE(bin.begin_undelete(2, 4).ok());
  }
  std::vector<int32_t> serials;
  ASSERT_EQ(append_bills({nth_bill(2)}, &serials), DbCode::Ok);
  Result<BinInLedger> in_ledger = look_up();
  ASSERT_TRUE(in_ledger.ok()) << in_ledger.status().message();
  EXPECT_EQ(in_ledger->undeleted, (std::map<int64_t, int32_t>{{1, serials[0]}}));
  EXPECT_EQ(in_ledger->still_live, std::set<int64_t>{cut_short});
  EXPECT_EQ(in_ledger->highest_serial, serials[0]);
}

int env_int(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

// A power cut at every write and sync of a delete that fills the bin, keeping none, all and random
// sectors of what was not synced: each disk holds the bill in the ledger or in the bin (or both),
// every other bill, a bin that reads, and a sound ledger.
class BinPowerCut : public BinLedger {
 protected:
  void sweep(int32_t serial, bool bin_exists) {
    make(5);
    if (bin_exists) {
      ASSERT_TRUE(open_db(db_));
      ASSERT_TRUE(delete_serial(posix_file_system(), 5).ok());
      close_db();
    }
    const std::map<std::string, std::string> start = files();
    const int subsets = env_int("PENNACLE_CUT_SUBSETS", 6);
    int points = 0;
    for (int k = 0;; ++k, ++points) {
      put_back(start);
      FaultFileSystem faults(posix_file_system());
      set_store_file_system(&faults);
      faults.crash_after_writes(k);
      const bool done = open_db(db_) && delete_serial(faults, serial).ok();
      close_db();
      set_store_file_system(nullptr);
      // A purge the cut stops leaves the delete reported: the record is marked deleted on the disk.
      if (done && !faults.crashed()) {
        EXPECT_EQ(faults.unsynced_writes(), 0u) << "reported before a sync, k=" << k;
      }
      for (int s = -2; s < subsets; ++s) {
        SCOPED_TRACE("cut at write " + std::to_string(k) + ", subset " + std::to_string(s));
        put_back(start);  // files the delete never opened are as they were
        faults.apply_power_cut(s == -2   ? CutKeeps::Nothing
                               : s == -1 ? CutKeeps::Everything
                                         : CutKeeps::RandomSectors,
                               static_cast<uint32_t>(k * 131 + s + 2));
        verify(serial, done, bin_exists);
        if (HasFailure()) return;
      }
      if (!faults.crashed()) break;
      ASSERT_LT(k, 1000) << "the delete never ends";
    }
    EXPECT_GT(points, 3);
  }

  void verify(int32_t serial, bool done, bool bin_exists) {
    ASSERT_TRUE(open_db(db_)) << db_last_error();
    const std::map<int32_t, Bill> live = live_bills();
    close_db();
    Status opened;
    const std::vector<BinEntry> bin = bin_bills(&opened);
    ASSERT_TRUE(opened.ok()) << opened.message();
    const Bill want = nth_bill(serial);
    const bool in_ledger = live.count(serial) && same_bill_values(live.at(serial), want);
    bool in_bin = false;
    for (const BinEntry& e : bin)
      in_bin = in_bin || (e.bill.serial == serial && same_bill_values(e.bill, want));
    EXPECT_TRUE(in_ledger || in_bin) << "the bill is lost";
    if (done) {
      EXPECT_TRUE(in_bin && !in_ledger) << "a reported delete";
    }
    EXPECT_EQ(bin.size(), static_cast<size_t>(bin_exists) + in_bin) << "no other entry comes or goes";
    for (int i = 1; i <= (bin_exists ? 4 : 5); ++i) {
      if (i == serial) continue;
      ASSERT_TRUE(live.count(i)) << "lost bill " << i;
      EXPECT_TRUE(same_bill_values(live.at(i), nth_bill(i))) << i;
    }
    EXPECT_TRUE(check_database(db_).sound);
  }

  std::map<std::string, std::string> files() {
    std::map<std::string, std::string> out;
    for (const std::string& p : {db_, path("data.KDT"), bin_path()}) {
      if (std::filesystem::exists(p)) out[p] = read_bytes(p);
    }
    return out;
  }
  void put_back(const std::map<std::string, std::string>& start) {
    std::filesystem::remove(bin_path());
    for (const auto& [p, bytes] : start) write_bytes(p, bytes);
  }
};

TEST_F(BinPowerCut, ADeleteThatMakesTheBin) { sweep(4, false); }

TEST_F(BinPowerCut, ADeleteIntoABinThatHasBills) { sweep(3, true); }

}  // namespace
}  // namespace pennacle
