// A power cut at every write of every write path. What the disk keeps of the writes not yet synced
// is chosen in 512-byte sectors: none, all, and seeded random subsets (PENNACLE_CUT_SUBSETS of
// them per point, 6 by default; PENNACLE_CUT_SEED changes the seeds). After each cut the file opens
// for writing, passes the audit, holds every bill whose operation reported success with its values,
// holds no bill twice and none that was never appended, and takes a new bill.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <set>

#include "store/check.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

int env_int(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

std::string remark_for(int i) {
  static const int kSizes[] = {0, 10, 500, 501, 1300, 37};
  std::string r;
  for (int j = 0; j < kSizes[i % 6]; ++j) r += static_cast<char>('a' + (i + j) % 26);
  return r;
}

// Every field of the current record, as one string.
std::string current_values() {
  DatabaseInfo info;
  if (!db_current_info(&info)) return "no current database";
  std::string out;
  for (size_t i = 1; i <= info.fields.size(); ++i) {
    Value v = call_command(db_read_field, {Value::of_int(static_cast<int32_t>(i))});
    if (v.is(Kind::Text)) {
      out += Text::from_result(v).str();
    } else {
      out += std::to_string(v.payload());
    }
    out += '|';
  }
  return out;
}

using Records = std::map<int32_t, std::string>;  // live records by serial

// What must hold after a cut, by serial.
struct Expect {
  Records must;                    // there, whatever the cut
  Records if_done;                 // there when the operation reported success; may be there otherwise
  std::set<int32_t> gone_if_done;  // not live when the operation reported success
  bool whole_group = false;        // if_done comes all together or not at all
};

class PowerCut : public StoreTest {
 protected:
  // The starting files, built with the real file system and put back before every cut.
  void save_start() {
    start_kdb_ = read_bytes(p_);
    start_kdt_ = std::filesystem::exists(kdt()) ? read_bytes(kdt()) : std::string();
  }
  void restore_start() {
    write_bytes(p_, start_kdb_);
    if (!start_kdt_.empty()) write_bytes(kdt(), start_kdt_);
  }
  std::string kdt() const { return p_.substr(0, p_.size() - 3) + "KDT"; }

  // A ledger of bills 1..n (bill i has amount i and remark_for(i)); `deleted` marked deleted, then
  // purged when `purge` (so the free list has blocks).
  void build_ledger(int n, std::vector<int> deleted, bool purge, bool remarks = true) {
    p_ = path("data.kdb");
    ASSERT_EQ(create_database(p_, ledger_fields()), DbCode::Ok);
    ASSERT_TRUE(open_db(p_));
    for (int i = 1; i <= n; ++i)
      ASSERT_TRUE(append_bill(i, "支出", i, "微信", 44000 + i, remarks ? remark_for(i) : ""));
    for (int d : deleted) {
      ASSERT_TRUE(ok(db_go_to, {Value::of_int(d)}));
      ASSERT_TRUE(ok(db_delete));
    }
    if (purge) {
      ASSERT_TRUE(ok(db_purge));
    }
    start_ = live_records();
    close_db();
    save_start();
  }

  Records live_records(int* duplicates = nullptr) {
    Records out;
    if (duplicates) *duplicates = 0;
    const int32_t n = record_count();
    call_command(db_go_first, {});
    for (int32_t i = 0; i < n; ++i) {
      int32_t serial = 0;
      EXPECT_EQ(db_current_serial(&serial), DbCode::Ok);
      if (serial > 0) {
        if (out.count(serial) && duplicates) ++*duplicates;
        out[serial] = current_values();
        EXPECT_EQ(db_last_error(), DbCode::Ok) << "serial " << serial;
      }
      call_command(db_skip, {});
    }
    return out;
  }

  // The values `op` gives a new bill, read back in a scratch ledger.
  std::string values_of_bill(double number, double amount, const std::string& remark) {
    std::string scratch = path("scratch.kdb");
    EXPECT_EQ(create_database(scratch, ledger_fields()), DbCode::Ok);
    EXPECT_TRUE(open_db(scratch));
    EXPECT_TRUE(append_bill(number, "收入", amount, "银行卡", 45000, remark));
    std::string v = current_values();
    close_db();
    std::filesystem::remove(scratch);
    std::filesystem::remove(path("scratch.KDT"));
    return v;
  }

  // After a cut: opens, holds what `e` asks, takes a new bill, passes the audit.
  void verify(const Expect& e, bool done) {
    ASSERT_TRUE(open_db(p_)) << "open fails with " << db_last_error();
    int duplicates = 0;
    Records got = live_records(&duplicates);
    EXPECT_EQ(duplicates, 0);
    for (const auto& [serial, values] : e.must) {
      ASSERT_TRUE(got.count(serial)) << "lost serial " << serial;
      EXPECT_EQ(got[serial], values) << "serial " << serial;
    }
    size_t group = 0;
    for (const auto& [serial, values] : e.if_done) {
      if (!got.count(serial)) {
        EXPECT_FALSE(done) << "a reported bill is lost: serial " << serial;
        continue;
      }
      ++group;
      EXPECT_EQ(got[serial], values) << "serial " << serial;
    }
    if (e.whole_group) {
      EXPECT_TRUE(group == 0 || group == e.if_done.size()) << group << " of a group";
    }
    for (const auto& [serial, values] : got) {
      const bool known = e.must.count(serial) || e.if_done.count(serial) || e.gone_if_done.count(serial);
      EXPECT_TRUE(known) << "serial " << serial << " was never appended or was purged: " << values;
      if (done && e.gone_if_done.count(serial)) ADD_FAILURE() << "a deleted bill is back: " << serial;
    }
    ASSERT_TRUE(append_bill(900, "收入", 900, "银行卡", 45000, remark_for(4)));
    EXPECT_EQ(read_double("金额"), 900);
    EXPECT_EQ(read_text("备注"), remark_for(4));
    close_db();
    CheckReport report = check_database(p_);
    std::string lines;
    for (const std::string& l : report.lines) lines += l + "\n";
    EXPECT_TRUE(report.sound) << lines;
  }

  // Runs `op` from the starting files with the power cut after k writes, for every k until it
  // runs to its end, and verifies every cut the disk could show.
  void sweep(const std::function<bool()>& op, const Expect& e) {
    const int subsets = env_int("PENNACLE_CUT_SUBSETS", 6);
    const uint32_t seed = static_cast<uint32_t>(env_int("PENNACLE_CUT_SEED", 1));
    for (int k = 0;; ++k) {
      restore_start();
      FaultFileSystem faults(posix_file_system());
      set_store_file_system(&faults);
      faults.crash_after_writes(k);
      const bool done = op();
      close_db();
      set_store_file_system(nullptr);
      if (done) {
        EXPECT_EQ(faults.unsynced_writes(), 0u) << "success reported before a sync, k=" << k;
      }
      for (int s = -2; s < subsets; ++s) {
        const CutKeeps keeps = s == -2   ? CutKeeps::Nothing
                               : s == -1 ? CutKeeps::Everything
                                         : CutKeeps::RandomSectors;
        const uint32_t subset_seed =
            seed * 1000003u + static_cast<uint32_t>(k) * 131u + static_cast<uint32_t>(s + 2);
        SCOPED_TRACE("cut at write " + std::to_string(k) + ", subset " + std::to_string(s) + ", seed " +
                     std::to_string(subset_seed));
        faults.apply_power_cut(keeps, subset_seed);
        verify(e, done);
        if (HasFatalFailure() || HasFailure()) return;
      }
      ++points_;
      if (!faults.crashed()) break;
      ASSERT_LT(k, 10000) << "the operation never ends";
    }
    EXPECT_GT(points_, 1);
    std::printf("%d cut points, %d disk states checked\n", points_, points_ * (subsets + 2));
  }

  Expect all_start() {
    Expect e;
    e.must = start_;
    return e;
  }

  std::string p_;
  std::string start_kdb_, start_kdt_;
  Records start_;
  int points_ = 0;
};

TEST_F(PowerCut, AppendWithoutARemark) {
  build_ledger(6, {}, false);
  Expect e = all_start();
  e.if_done[7] = values_of_bill(7, 7.5, "");
  sweep([&] { return open_db(p_) && append_bill(7, "收入", 7.5, "银行卡", 45000, ""); }, e);
}

TEST_F(PowerCut, AppendWithARemarkChainFromTheFreeList) {
  build_ledger(8, {2, 5, 6}, true);  // the purge leaves blocks on the free list
  Expect e = all_start();
  const std::string remark(1300, 'r');  // three blocks
  e.if_done[9] = values_of_bill(9, 9.5, remark);
  sweep([&] { return open_db(p_) && append_bill(9, "收入", 9.5, "银行卡", 45000, remark); }, e);
}

TEST_F(PowerCut, AppendOfAGroupKeepsAllOrNothing) {
  build_ledger(3, {}, false);
  Expect e = all_start();
  e.whole_group = true;
  for (int i = 4; i <= 8; ++i) e.if_done[i] = values_of_bill(i, i + 0.5, remark_for(i));
  sweep(
      [&] {
        if (!open_db(p_)) return false;
        std::vector<Text> keep;
        std::vector<std::vector<Value>> rows;
        for (int i = 4; i <= 8; ++i) {
          keep.emplace_back("收入");
          const Value type = keep.back().value();
          keep.emplace_back("银行卡");
          const Value channel = keep.back().value();
          keep.emplace_back(remark_for(i));
          rows.push_back({Value::of_double(i), type, Value::of_double(i + 0.5), channel,
                          Value::of_date_time(45000), keep.back().value()});
        }
        return db_append_rows(rows) == DbCode::Ok;
      },
      e);
}

TEST_F(PowerCut, Delete) {
  build_ledger(5, {}, false);
  Expect e = all_start();
  e.gone_if_done.insert(3);
  e.must.erase(3);
  sweep([&] { return open_db(p_) && ok(db_go_to, {Value::of_int(3)}) && ok(db_delete); }, e);
}

TEST_F(PowerCut, PurgeWithoutRemarks) {
  build_ledger(12, {1, 4, 5, 9, 12}, false, false);
  sweep([&] { return open_db(p_) && ok(db_purge); }, all_start());
}

TEST_F(PowerCut, PurgeWithRemarksFreesChainsAndTrims) {
  // Bill 11 holds the last blocks of the auxiliary file, so freeing it trims the file.
  build_ledger(11, {2, 3, 7, 11}, false);
  sweep([&] { return open_db(p_) && ok(db_purge); }, all_start());
}

TEST_F(PowerCut, PurgeThatMovesRecordsOverManyBatches) {
  // Records of 100 KB: one record per batch.
  p_ = path("big.kdb");
  ASSERT_NO_FATAL_FAILURE(make_big_record_table(p_, 7, {1, 5}));
  start_ = live_records();
  close_db();
  save_start();
  Expect e = all_start();
  for (int k = 0;; ++k) {
    // The table is not the ledger's: check the records only, then the audit.
    restore_start();
    FaultFileSystem faults(posix_file_system());
    set_store_file_system(&faults);
    faults.crash_after_writes(k);
    const bool done = open_db(p_) && ok(db_purge);
    close_db();
    set_store_file_system(nullptr);
    for (CutKeeps keeps : {CutKeeps::Nothing, CutKeeps::Everything, CutKeeps::RandomSectors}) {
      SCOPED_TRACE("cut at write " + std::to_string(k));
      faults.apply_power_cut(keeps, static_cast<uint32_t>(k));
      ASSERT_TRUE(open_db(p_));
      int duplicates = 0;
      EXPECT_EQ(live_records(&duplicates), e.must);
      EXPECT_EQ(duplicates, 0);
      close_db();
      EXPECT_TRUE(check_database(p_).sound);
    }
    if (done || !faults.crashed()) break;
  }
}

TEST_F(PowerCut, OpenRepairOfACountAboveTheRecords) {
  build_ledger(4, {}, false);
  std::string s = start_kdb_;
  put32(s, 16, 9);
  start_kdb_ = s + "partial";
  sweep(
      [&] {
        const bool opened = open_db(p_);
        return opened;
      },
      all_start());
}

TEST_F(PowerCut, OpenFinishesAMoveACutLeftHalfDone) {
  build_ledger(10, {1, 2, 6}, false);
  // A purge cut in the middle of its moves: the copy and its trailer are synced behind the
  // records, the moves reached the disk in some sectors only.
  FaultFileSystem faults(posix_file_system());
  set_store_file_system(&faults);
  faults.crash_after_writes(4);  // the copy, the trailer, their sync, the moves
  ASSERT_TRUE(open_db(p_));
  EXPECT_FALSE(ok(db_purge));
  close_db();
  set_store_file_system(nullptr);
  faults.apply_power_cut(CutKeeps::RandomSectors, 7);
  save_start();
  const int64_t counted_end = 116 + 72 * 6 + int64_t{get32(start_kdb_, 16)} * get32(start_kdb_, 24);
  ASSERT_GT(static_cast<int64_t>(start_kdb_.size()), counted_end) << "the copy is behind the records";
  sweep([&] { return open_db(p_); }, all_start());
}

TEST_F(PowerCut, OpenDropsStaleCopiesAPurgeOfAnEarlierVersionLeft) {
  build_ledger(4, {2}, false);
  // Record 3 was moved into the slot of deleted record 2 and the cut came before anything else:
  // bill 3 shows twice.
  const int64_t data_start = 116 + 72 * 6;
  const int64_t reclen = get32(start_kdb_, 24);
  std::string s = start_kdb_;
  s.replace(static_cast<size_t>(data_start + reclen), static_cast<size_t>(reclen),
            s.substr(static_cast<size_t>(data_start + 2 * reclen), static_cast<size_t>(reclen)));
  start_kdb_ = s;
  start_.erase(2);
  sweep([&] { return open_db(p_); }, all_start());
}

TEST_F(PowerCut, CreateLeavesAFileThatSurvivesOnceReported) {
  p_ = path("new.kdb");
  for (int k = 0;; ++k) {
    std::filesystem::remove(p_);
    std::filesystem::remove(kdt());
    FaultFileSystem faults(posix_file_system());
    set_store_file_system(&faults);
    faults.crash_after_writes(k);
    const bool done = create_database(p_, ledger_fields()) == DbCode::Ok;
    set_store_file_system(nullptr);
    for (CutKeeps keeps : {CutKeeps::Nothing, CutKeeps::Everything, CutKeeps::RandomSectors}) {
      SCOPED_TRACE("cut at write " + std::to_string(k));
      faults.apply_power_cut(keeps, static_cast<uint32_t>(k));
      if (!done) continue;
      ASSERT_TRUE(std::filesystem::exists(p_));
      ASSERT_TRUE(open_db(p_));
      EXPECT_EQ(record_count(), 0);
      close_db();
      EXPECT_TRUE(check_database(p_).sound);
    }
    if (!faults.crashed()) break;
  }
}

}  // namespace
}  // namespace pennacle
