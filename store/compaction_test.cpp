// Purge moves records through a checksummed copy behind the counted records; these cases pin down
// when that copy is used, ignored or not made at all.
#include "store/compaction.h"

#include <gtest/gtest.h>

#include "store/check.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr int64_t kLedgerDataStart = 116 + 72 * 6;

class Compaction : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    p_ = ledger();
    ASSERT_TRUE(open_db(p_));
    for (int i = 1; i <= 8; ++i)
      ASSERT_TRUE(append_bill(i, "支出", i, "微信", 45000 + i, "r" + std::to_string(i)));
    reclen_ = get32(read_bytes(p_), 24);
  }

  void delete_bills(std::initializer_list<int> bills) {
    for (int b : bills) {
      ASSERT_TRUE(ok(db_go_to, {Value::of_int(b)}));
      ASSERT_TRUE(ok(db_delete));
    }
  }

  // Amounts of the live bills in file order.
  std::vector<double> live() {
    std::vector<double> out;
    const int32_t n = record_count();
    call_command(db_go_first, {});
    for (int32_t i = 0; i < n; ++i) {
      int32_t serial = 0;
      EXPECT_EQ(db_current_serial(&serial), DbCode::Ok);
      if (serial > 0) out.push_back(read_double("金额"));
      call_command(db_skip, {});
    }
    return out;
  }

  // A purge of bills 1 and 3 cut after the copy, its trailer and their sync, before any move.
  void purge_cut_after_the_copy() {
    delete_bills({1, 3});
    close_db();
    FaultFileSystem faults(posix_file_system());
    set_store_file_system(&faults);
    ASSERT_TRUE(open_db(p_));
    faults.crash_after_writes(3);
    EXPECT_FALSE(ok(db_purge));
    close_db();
    set_store_file_system(nullptr);
  }

  std::string p_;
  int32_t reclen_ = 0;
};

TEST_F(Compaction, DroppingOnlyTheLastRecordsMovesNothing) {
  delete_bills({7, 8});
  close_db();
  const uint64_t before = read_bytes(p_).size();
  FaultFileSystem faults(posix_file_system());
  set_store_file_system(&faults);
  ASSERT_TRUE(open_db(p_));
  faults.reset();
  ASSERT_TRUE(ok(db_purge));
  // No copy and so no trailer: one sync after the count and the cut, one after the chains are freed.
  EXPECT_EQ(faults.calls(FileOp::Sync), 2);
  EXPECT_EQ(live(), (std::vector<double>{1, 2, 3, 4, 5, 6}));
  close_db();
  set_store_file_system(nullptr);
  EXPECT_EQ(read_bytes(p_).size(), before - 2 * static_cast<uint64_t>(reclen_));
}

TEST_F(Compaction, TheNextWritableOpenFinishesTheMoveAndAReadOnlyOpenChangesNothing) {
  purge_cut_after_the_copy();
  const std::string cut = read_bytes(p_);
  ASSERT_GT(cut.size(), static_cast<size_t>(kLedgerDataStart + 8 * reclen_));
  ASSERT_TRUE(open_db(p_, 1));
  EXPECT_EQ(record_count(), 8);
  close_db();
  EXPECT_EQ(read_bytes(p_), cut);
  ASSERT_TRUE(open_db(p_));
  EXPECT_EQ(live(), (std::vector<double>{2, 4, 5, 6, 7, 8}));
  EXPECT_EQ(record_count(), 6);
  close_db();
  EXPECT_EQ(read_bytes(p_).size(), static_cast<size_t>(kLedgerDataStart + 6 * reclen_));
  EXPECT_TRUE(check_database(p_).sound);
}

TEST_F(Compaction, ACopyWithAWrongChecksumIsDroppedUnused) {
  purge_cut_after_the_copy();
  std::string s = read_bytes(p_);
  s[static_cast<size_t>(kLedgerDataStart + 8 * reclen_ + 20)] ^= 1;  // inside the copy
  write_bytes(p_, s);
  ASSERT_TRUE(open_db(p_));
  // Nothing had moved: the file is as before the purge, the deleted bills still deleted.
  EXPECT_EQ(record_count(), 8);
  EXPECT_EQ(live(), (std::vector<double>{2, 4, 5, 6, 7, 8}));
  close_db();
  EXPECT_EQ(read_bytes(p_).size(), static_cast<size_t>(kLedgerDataStart + 8 * reclen_));
}

TEST_F(Compaction, ATrailerAnAppendOverwroteIsIgnoredAndStaleCopiesGo) {
  // A purge killed after moving bill 2 into slot 1; then another process appended bill 9 over the
  // start of the copy and counted it.
  delete_bills({1});
  close_db();
  std::string s = read_bytes(p_);
  const size_t slot = static_cast<size_t>(reclen_);
  const std::string record2 = s.substr(static_cast<size_t>(kLedgerDataStart) + slot, slot);
  s.replace(static_cast<size_t>(kLedgerDataStart), slot, record2);  // slot 1 now holds bill 2 too
  std::string bill9 = record2;
  put32(bill9, 0, 9);    // serial 9
  put32(bill9, 108, 0);  // no remark
  s.replace(static_cast<size_t>(kLedgerDataStart + 8 * reclen_), slot, bill9);
  s += std::string(48, 'x');  // what remains of a trailer
  put32(s, 16, 9);
  put32(s, 20, 10);
  write_bytes(p_, s);
  ASSERT_TRUE(open_db(p_));
  EXPECT_EQ(live(), (std::vector<double>{2, 3, 4, 5, 6, 7, 8, 2}));
  close_db();
  EXPECT_TRUE(check_database(p_).sound);
}

}  // namespace
}  // namespace pennacle
