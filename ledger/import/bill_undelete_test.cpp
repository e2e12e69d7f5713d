#include "ledger/import/bill_undelete.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "ledger/bin_ledger.h"
#include "store/check.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr double kNow = 45500.25;

Bill nth_bill(int i) {
  static const size_t kRemarks[] = {0, 40, 500, 1300};
  return {i,
          std::string(i % 2 ? expense_type() : income_type()),
          i + 0.5,
          "bank",
          45000 + i / 24.0,
          std::string(kRemarks[i % 4], static_cast<char>('a' + i))};
}

// The live bills of the ledger at `db` that hold `want`'s values.
int copies_in_ledger(const std::string& db, const Bill& want) {
  EXPECT_TRUE(open_db(db)) << db_last_error();
  int copies = 0;
  const int32_t count = record_count();
  call_command(db_go_first, {});
  for (int32_t k = 0; k < count; ++k, call_command(db_skip, {})) {
    int32_t serial = 0;
    Bill b;
    if (db_current_serial(&serial) == DbCode::Ok && serial > 0 && !read_current_bill(&b))
      copies += same_bill_values(b, want);
  }
  close_db();
  return copies;
}

int env_int(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

class Undelete : public StoreTest {
 protected:
  // A ledger of bills 1..n with bill `deleted` deleted into the bin; closed.
  void make(int n, int32_t deleted) {
    db_ = ledger("data.kdb", bill_table_fields());
    ASSERT_TRUE(open_db(db_));
    std::vector<Bill> group;
    for (int i = 1; i <= n; ++i) group.push_back(nth_bill(i));
    std::vector<int32_t> serials;
    ASSERT_EQ(append_bills(group, &serials), DbCode::Ok);
    ASSERT_TRUE(ok(db_go_to, {Value::of_int(deleted)}));
    ASSERT_TRUE(delete_current_bill(posix_file_system(), kNow).ok());
    close_db();
  }
  int copies_in_bin(const Bill& want) {
    Result<std::vector<BinEntry>> listed = bin_bills_of(db_, nullptr);
    EXPECT_TRUE(listed.ok()) << listed.status().message();
    int copies = 0;
    for (const BinEntry& e : listed.ok() ? *listed : std::vector<BinEntry>{})
      copies += same_bill_values(e.bill, want);
    return copies;
  }
  std::string db_;
};

TEST_F(Undelete, EveryValueComesBackUnderANewSerial) {
  make(4, 3);
  Result<Undeleted> r = undelete_bill(db_, 3, nullptr);
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_TRUE(r->appended);
  EXPECT_EQ(r->serial, 5);
  EXPECT_TRUE(r->notes.empty());
  EXPECT_TRUE(same_bill_values(r->entry.bill, nth_bill(3)));
  EXPECT_EQ(copies_in_ledger(db_, nth_bill(3)), 1);
  EXPECT_EQ(copies_in_bin(nth_bill(3)), 0);
  EXPECT_FALSE(std::filesystem::exists(db_ + ".imports")) << "an undelete makes no import record";
}

// The bin took bill 2 and the power went before its record was deleted: an undelete appends nothing.
TEST_F(Undelete, ABillWhoseDeleteWasCutShortIsNotAppendedAgain) {
  make(3, 1);
  {
    RecycleBin bin;
    ASSERT_TRUE(bin.open(posix_file_system(), db_, true).ok());
    int64_t id = 0;
    ASSERT_TRUE(bin.put(nth_bill(2), kNow, &id).ok());
  }
  EXPECT_EQ(copies_in_bin(nth_bill(2)), 0) << "not listed: the ledger holds it";
  Result<Undeleted> r = undelete_bill(db_, 2, nullptr);
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_FALSE(r->appended);
  EXPECT_EQ(r->serial, 2);
  EXPECT_EQ(copies_in_ledger(db_, nth_bill(2)), 1);
  EXPECT_EQ(undelete_bill(db_, 2, nullptr).status().code(), StatusCode::NotFound);
}

// A power cut at every write and sync of an undelete: after each, the bill is in the ledger or in
// the bin's listing, exactly once; the next undelete settles what the cut left and never makes a
// second copy.
TEST_F(Undelete, APowerCutAnywhereNeitherLosesTheBillNorMakesItTwice) {
  make(4, 2);
  const Bill want = nth_bill(2);
  std::map<std::string, std::string> start;
  for (const std::string& p : {db_, path("data.KDT"), db_ + ".trash"}) start[p] = read_bytes(p);
  const int subsets = env_int("PENNACLE_CUT_SUBSETS", 6);
  int points = 0;
  for (int k = 0;; ++k, ++points) {
    for (const auto& [p, bytes] : start) write_bytes(p, bytes);
    FaultFileSystem faults(posix_file_system());
    set_store_file_system(&faults);
    faults.crash_after_writes(k);
    const bool done = undelete_bill(db_, 2, &faults).ok();
    set_store_file_system(nullptr);
    for (int s = -2; s < subsets; ++s) {
      SCOPED_TRACE("cut at write " + std::to_string(k) + ", subset " + std::to_string(s));
      // Files the undelete never opened are as they were; the cut rewrites the others.
      for (const auto& [p, bytes] : start) write_bytes(p, bytes);
      faults.apply_power_cut(s == -2   ? CutKeeps::Nothing
                             : s == -1 ? CutKeeps::Everything
                                       : CutKeeps::RandomSectors,
                             static_cast<uint32_t>(k * 131 + s + 2));
      const int in_ledger = copies_in_ledger(db_, want), in_bin = copies_in_bin(want);
      EXPECT_EQ(in_ledger + in_bin, 1) << "in the ledger " << in_ledger << ", in the bin " << in_bin;
      if (done) {
        EXPECT_EQ(in_ledger, 1);
      }
      // Undeleting again: appended when the bin still lists it, refused when the ledger has it.
      Result<Undeleted> again = undelete_bill(db_, 2, nullptr);
      EXPECT_EQ(again.ok(), in_bin == 1) << again.status().message();
      EXPECT_EQ(copies_in_ledger(db_, want), 1);
      EXPECT_EQ(copies_in_bin(want), 0);
      EXPECT_TRUE(check_database(db_).sound);
      if (HasFailure()) return;
    }
    if (!faults.crashed()) break;
    ASSERT_LT(k, 1000) << "the undelete never ends";
  }
  EXPECT_GT(points, 4);
}

}  // namespace
}  // namespace pennacle
