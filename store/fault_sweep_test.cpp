// Every write path under a crash after its k-th write, for every k: the file opens afterwards and
// holds every live record that was not the operation's target, with its memo intact, and new
// records can be added without disturbing them.
#include <gtest/gtest.h>

#include <map>

#include "store/check.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

struct Bill {
  double amount;
  std::string remark;
  bool operator==(const Bill&) const = default;
};

std::string remark_for(int i) {
  // Memos of 0 to 1,300 bytes: none, one block, and chains of several blocks.
  static const int kSizes[] = {0, 10, 500, 501, 1300, 37};
  std::string r;
  int size = kSizes[i % 6];
  for (int j = 0; j < size; ++j) r += static_cast<char>('a' + (i + j) % 26);
  return r;
}

class FaultSweep : public StoreTest {
 protected:
  // A ledger of `n` bills numbered from 1; those in `deleted` are marked deleted.
  void build(int n, std::vector<int> deleted = {}) {
    p_ = path("f.kdb");
    std::filesystem::remove(p_);
    std::filesystem::remove(path("f.KDT"));
    ASSERT_EQ(create_database(p_, ledger_fields()), DbCode::Ok);
    ASSERT_TRUE(open_db(p_));
    for (int i = 1; i <= n; ++i) ASSERT_TRUE(append_bill(i, "支出", i, "微信", 44000 + i, remark_for(i)));
    for (int d : deleted) {
      ASSERT_TRUE(ok(db_go_to, {Value::of_int(d)}));
      ASSERT_TRUE(ok(db_delete));
    }
    close_db();
  }

  // Live records by serial; a serial seen twice is reported through `duplicates`.
  std::map<int32_t, Bill> live(int* duplicates = nullptr) {
    std::map<int32_t, Bill> out;
    if (duplicates) *duplicates = 0;
    const int32_t n = record_count();
    call_command(db_go_first, {});
    for (int32_t i = 0; i < n; ++i) {
      int32_t serial = 0;
      EXPECT_EQ(db_current_serial(&serial), DbCode::Ok);
      if (serial > 0) {
        Bill b{read_double("金额"), read_text("备注")};
        EXPECT_EQ(db_last_error(), DbCode::Ok) << "serial " << serial;
        if (out.count(serial) && duplicates) ++*duplicates;
        out[serial] = b;
      }
      call_command(db_skip, {});
    }
    return out;
  }

  // Runs `op` on the open ledger with the crash after `k` writes; true when it ran to the end.
  bool crash_run(int k, const std::function<void()>& op) {
    FaultFileSystem faults(posix_file_system());
    set_store_file_system(&faults);
    EXPECT_TRUE(open_db(p_));
    faults.crash_after_writes(k);
    op();
    close_db();
    set_store_file_system(nullptr);
    return !faults.crashed();
  }

  // The checks after each crash: opens, keeps `expected` (plus at most the target), and takes
  // new bills with memos without disturbing the old ones, also after a purge.
  void check(const std::map<int32_t, Bill>& expected, int32_t target, int k) {
    SCOPED_TRACE("crash after write " + std::to_string(k));
    ASSERT_TRUE(open_db(p_)) << db_last_error();
    std::map<int32_t, Bill> got = live();
    for (const auto& [serial, bill] : expected) {
      ASSERT_TRUE(got.count(serial)) << "lost serial " << serial;
      EXPECT_EQ(got[serial], bill) << "serial " << serial;
    }
    for (const auto& [serial, bill] : got) EXPECT_TRUE(expected.count(serial) || serial == target) << serial;
    for (int i = 0; i < 3; ++i)
      ASSERT_TRUE(append_bill(100 + i, "收入", 100 + i, "银行卡", 44100, remark_for(i + 3)));
    ASSERT_TRUE(ok(db_purge));
    int dups = 0;
    got = live(&dups);
    EXPECT_EQ(dups, 0);
    for (const auto& [serial, bill] : expected) EXPECT_EQ(got[serial], bill) << "serial " << serial;
    close_db();
    // What is left is at worst leaked space: no shared block, no loop, no bad free list.
    CheckReport report = check_database(p_);
    std::string lines;
    for (const std::string& l : report.lines) lines += l + "\n";
    EXPECT_TRUE(report.sound) << lines;
  }

  std::map<int32_t, Bill> expected_live(int n, std::vector<int> deleted, int target) {
    std::map<int32_t, Bill> m;
    for (int i = 1; i <= n; ++i) {
      if (i == target || std::find(deleted.begin(), deleted.end(), i) != deleted.end()) continue;
      m[i] = Bill{static_cast<double>(i), remark_for(i)};
    }
    return m;
  }

  std::string p_;
};

TEST_F(FaultSweep, AppendWithChains) {
  for (int k = 0;; ++k) {
    build(5);
    bool done = crash_run(k, [] { append_bill(6, "支出", 6, "微信", 44006, std::string(1200, 'z')); });
    check(expected_live(5, {}, 0), 6, k);
    if (done) break;
  }
}

TEST_F(FaultSweep, Delete) {
  for (int k = 0;; ++k) {
    build(5);
    bool done = crash_run(k, [] {
      call_command(db_go_to, {Value::of_int(3)});
      ok(db_delete);
    });
    check(expected_live(5, {}, 3), 3, k);
    if (done) break;
  }
}

TEST_F(FaultSweep, PurgeAndChainFree) {
  const std::vector<int> deleted = {1, 4, 5, 9, 12};
  for (int k = 0;; ++k) {
    build(12, deleted);
    bool done = crash_run(k, [] { ok(db_purge); });
    check(expected_live(12, deleted, 0), 0, k);
    if (done) break;
  }
}

TEST_F(FaultSweep, PurgeThatFailsToReadPartWayKeepsEveryRecordOnce) {
  // Records of 100 KB: one record per batch, so the walk stops after moving some.
  std::string p = path("big.kdb");
  track(p);
  FaultFileSystem faults(posix_file_system());
  set_store_file_system(&faults);
  ASSERT_NO_FATAL_FAILURE(make_big_record_table(p, 6, {2, 3}));
  faults.reset();
  faults.fail_nth(FileOp::Read, 6, FileCause::HardwareIo);  // the count, then records 1..4 read
  EXPECT_FALSE(ok(db_purge));
  EXPECT_EQ(db_last_error(), DbCode::HardwareFault);
  std::vector<int32_t> values;
  const int32_t n = record_count();
  call_command(db_go_first, {});
  for (int32_t i = 0; i < n; ++i) {
    int32_t serial = 0;
    if (db_current_serial(&serial) == DbCode::Ok && serial > 0)
      values.push_back(read_field("n").int_payload());
    call_command(db_skip, {});
  }
  EXPECT_EQ(values, (std::vector<int32_t>{1, 4, 5, 6}));
  ASSERT_TRUE(ok(db_purge));
  EXPECT_EQ(record_count(), 4);
}

TEST_F(FaultSweep, HeaderRepairAtOpen) {
  for (int k = 0;; ++k) {
    build(4);
    std::string s = read_bytes(p_);
    put32(s, 16, 9);  // counts more records than the file holds
    write_bytes(p_, s + "partial");
    FaultFileSystem faults(posix_file_system());
    set_store_file_system(&faults);
    faults.crash_after_writes(k);
    bool opened = open_db(p_);
    if (opened) close_db();
    set_store_file_system(nullptr);
    check(expected_live(4, {}, 0), 0, k);
    if (!faults.crashed()) break;
  }
}

TEST_F(FaultSweep, FailedWritesReportTheirCodeAndLeaveTheFileSound) {
  full_protocol();  // fails chosen reads and locks, which the sole-opener mode need not make
  build(3);
  FaultFileSystem faults(posix_file_system());
  set_store_file_system(&faults);
  ASSERT_TRUE(open_db(p_));
  faults.fail_nth(FileOp::Write, 1, FileCause::DiskFull);
  EXPECT_FALSE(append_bill(4, "支出", 4, "微信", 44004, ""));
  EXPECT_EQ(db_last_error(), DbCode::DiskFull);
  EXPECT_EQ(record_count(), 3);
  // A memo that cannot be stored: the record is appended all the same, with the code.
  faults.fail_nth(FileOp::Write, 1, FileCause::DiskFull);
  EXPECT_FALSE(append_bill(4, "支出", 4, "微信", 44004, "memo"));
  EXPECT_EQ(db_last_error(), DbCode::DiskFull);
  EXPECT_EQ(record_count(), 4);
  EXPECT_EQ(read_text("备注"), "");
  faults.fail_nth(FileOp::Read, 1, FileCause::HardwareIo);
  EXPECT_EQ(record_count(), 0);
  EXPECT_EQ(db_last_error(), DbCode::HardwareFault);
  faults.fail_nth(FileOp::Lock, 1, FileCause::LockViolation);
  EXPECT_FALSE(ok(db_delete));
  EXPECT_EQ(db_last_error(), DbCode::LockFile);
  close_db();
  // A file error while the open validates the file is -21; the open itself maps its cause.
  faults.fail_nth(FileOp::Read, 1, FileCause::HardwareIo);
  EXPECT_FALSE(open_db(p_));
  EXPECT_EQ(db_last_error(), DbCode::OpenFailed);
  faults.fail_nth(FileOp::Open, 1, FileCause::TooManyFiles);
  EXPECT_FALSE(open_db(p_));
  EXPECT_EQ(db_last_error(), DbCode::TooManyFiles);
  faults.fail_nth(FileOp::Open, 2, FileCause::NotFound);  // the auxiliary file
  EXPECT_FALSE(open_db(p_));
  EXPECT_EQ(db_last_error(), DbCode::AuxReadFailed);
  faults.fail_nth(FileOp::Lock, 1, FileCause::LockViolation);  // the whole file at open
  EXPECT_FALSE(open_db(p_));
  EXPECT_EQ(db_last_error(), DbCode::LockFile);
  set_store_file_system(nullptr);
  check(expected_live(3, {}, 0), 4, 0);
}

}  // namespace
}  // namespace pennacle
