// db_edit: what it changes and keeps, what it refuses, two processes on one record, and the repair
// of an edit a cut left torn.
#include <signal.h>
#include <sys/wait.h>

#include <thread>

#include "store/check.h"
#include "store/edit_journal.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

std::string letters(size_t n, char from) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + (from - 'a' + i) % 26);
  return s;
}

class EditTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    p_ = ledger();
    ASSERT_TRUE(open_db(p_));
    for (int i = 1; i <= 12; ++i)
      ASSERT_TRUE(append_bill(i, "支出", i, "微信", 45000 + i, letters(40 * i, 'a')));
    DatabaseInfo info;
    ASSERT_TRUE(db_current_info(&info));
    data_start_ = info.data_start;
    record_length_ = info.record_length;
  }

  // The first bill whose record straddles a sector boundary (or lies inside one).
  int bill_that_straddles(bool straddles) const {
    for (int k = 0;; ++k) {
      if (crosses_sector(data_start_ + k * int64_t{record_length_}, record_length_) == straddles)
        return k + 1;
    }
  }

  // Edits bill `serial` (its record at slot serial - 1): amount and remark, the rest kept.
  DbCode edit(int32_t serial, double amount, const std::string& remark) {
    EXPECT_TRUE(ok(db_go_to, {Value::of_int(serial)}));
    Text r(remark);
    return db_edit(serial, {Value{}, Value{}, Value::of_double(amount), Value{}, Value{}, r.value()});
  }

  CheckReport audit() {
    close_db();
    CheckReport r = check_database(p_);
    EXPECT_TRUE(r.sound);
    EXPECT_TRUE(open_db(p_));
    return r;
  }

  std::string p_;
  int64_t data_start_ = 0;
  int32_t record_length_ = 0;
};

TEST_F(EditTest, ChangesTheNamedFieldsAndKeepsSerialSlotAndTheOthers) {
  Text type("收入"), channel("银行卡");
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(3)}));
  ASSERT_EQ(db_edit(3, {Value{}, type.value(), Value::of_double(8.5), channel.value(),
                        Value::of_date_time(46000.25)}),
            DbCode::Ok);
  EXPECT_EQ(record_count(), 12);
  for (int i = 1; i <= 12; ++i) {
    ASSERT_TRUE(ok(db_go_to, {Value::of_int(i)}));
    int32_t serial = 0;
    ASSERT_EQ(db_current_serial(&serial), DbCode::Ok);
    EXPECT_EQ(serial, i);
    EXPECT_EQ(read_double("序号"), i);
    EXPECT_EQ(read_text("备注"), letters(40 * i, 'a')) << "an omitted remark stays";
    EXPECT_EQ(read_text("类型"), i == 3 ? "收入" : "支出");
    EXPECT_EQ(read_double("金额"), i == 3 ? 8.5 : i);
    EXPECT_EQ(read_text("付款方式"), i == 3 ? "银行卡" : "微信");
    EXPECT_EQ(read_double("时间"), i == 3 ? 46000.25 : 45000 + i);
  }
}

TEST_F(EditTest, RemarkChainsGrowShrinkAndGoWithoutLeakingBlocks) {
  const CheckReport before = audit();
  for (int bill : {bill_that_straddles(true), bill_that_straddles(false)}) {
    for (const std::string& remark :
         {letters(1400, 'x'), letters(3, 'y'), std::string(), letters(520, 'z')}) {
      ASSERT_EQ(edit(bill, 2.5, remark), DbCode::Ok) << bill;
      EXPECT_EQ(read_text("备注"), remark);
    }
  }
  // Every replaced chain was freed and its blocks used again: two remarks of one block became two of
  // two, and the file grew by no more than the longest remark it held at once.
  const CheckReport r = audit();
  EXPECT_EQ(r.chain_blocks, before.chain_blocks + 2);
  EXPECT_LE(r.blocks, before.blocks + 3);
}

TEST_F(EditTest, RefusesADeletedOrMovedRecordAReadOnlyOpenAndWrongKinds) {
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(2)}));
  ASSERT_TRUE(ok(db_delete));
  EXPECT_EQ(edit(2, 5, "x"), DbCode::NoSuchRecord) << "deleted";
  EXPECT_EQ(db_last_error(), DbCode::NoSuchRecord);
  EXPECT_EQ(edit(3, 5, "x"), DbCode::Ok);
  ASSERT_TRUE(ok(db_purge));
  // Bill 4 now sits in slot 3: an edit of "bill 3" there is refused.
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(3)}));
  EXPECT_EQ(db_edit(3, {Value{}, Value{}, Value::of_double(1)}), DbCode::NoSuchRecord);
  EXPECT_EQ(read_double("金额"), 4);
  Text wrong("not a number");
  EXPECT_EQ(db_edit(4, {Value{}, Value{}, wrong.value()}), DbCode::KindMismatch);
  EXPECT_EQ(read_double("金额"), 4);
  close_db();
  ASSERT_TRUE(open_db(p_, 1));
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(3)}));
  EXPECT_EQ(db_edit(4, {Value{}, Value{}, Value::of_double(1)}), DbCode::AccessDenied);
  close_db();
  EXPECT_EQ(db_edit(4, {}), DbCode::NoCurrentDatabase);
}

// The parent opens the file, then a child edits the bill and stands still at its first sync, holding
// the record's lock, until the parent has tried the same bill.
TEST_F(EditTest, TwoProcessesEditingOneBillOneWinsTheOtherGetsTheLockCode) {
  for (bool straddles : {true, false}) {
    const int bill = bill_that_straddles(straddles);
    close_db();
    int to_parent[2], to_child[2];
    ASSERT_EQ(pipe(to_parent), 0);
    ASSERT_EQ(pipe(to_child), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      char c = 0;
      if (read(to_child[0], &c, 1) != 1) _exit(2);
      // The lease watcher thread stays behind in the parent: a child keeps the full protocol.
      std::ignore = set_sole_opener_allowed(false);
      FaultFileSystem faults(posix_file_system());
      set_store_file_system(&faults);
      faults.pause_nth(FileOp::Sync, 1);
      std::thread releaser([&] {
        char p = faults.wait_until_paused(std::chrono::seconds(10)) ? 'p' : 'n';
        std::ignore = write(to_parent[1], &p, 1);
        if (p == 'p') std::ignore = read(to_child[0], &p, 1);
        faults.resume();
      });
      const bool edited = open_db(p_) && edit(bill, 1111, letters(900, 'c')) == DbCode::Ok;
      releaser.join();
      _exit(edited ? 0 : 1);
    }
    ASSERT_TRUE(open_db(p_));
    char c = 'o';
    ASSERT_EQ(write(to_child[1], &c, 1), 1);
    ASSERT_EQ(read(to_parent[0], &c, 1), 1);
    EXPECT_EQ(c, 'p');
    EXPECT_EQ(edit(bill, 2222, "parent"), DbCode::LockFile);
    ASSERT_EQ(write(to_child[1], &c, 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(ok(db_go_to, {Value::of_int(bill)}));
    EXPECT_EQ(read_double("金额"), 1111);
    EXPECT_EQ(read_text("备注"), letters(900, 'c'));
    audit();
    for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]}) close(fd);
  }
}

// The k-th write or sync of an edit fails (a full disk, an I/O error) for every k, and the process
// goes on: the edit reports the failure or success, the bill is as it was or as edited, whole, every
// other bill as it was, the new chains of a failed edit go back to the free list, and the file audits.
TEST_F(EditTest, AFailingWriteOrSyncLeavesTheOldOrTheNewBillAndNoLostBlocks) {
  close_db();
  const std::string kdb = read_bytes(p_), kdt = read_bytes(p_.substr(0, p_.size() - 3) + "KDT");
  for (bool straddles : {true, false}) {
    const int bill = bill_that_straddles(straddles);
    for (FileOp op : {FileOp::Write, FileOp::Sync}) {
      for (int k = 1;; ++k) {
        SCOPED_TRACE("bill " + std::to_string(bill) + ", op " + std::to_string(static_cast<int>(op)) +
                     ", k " + std::to_string(k));
        write_bytes(p_, kdb);
        write_bytes(p_.substr(0, p_.size() - 3) + "KDT", kdt);
        std::filesystem::remove(p_ + ".edits");
        ASSERT_TRUE(open_db(p_));
        FaultFileSystem faults(posix_file_system());
        set_store_file_system(&faults);
        close_db();
        ASSERT_TRUE(open_db(p_));
        faults.reset();
        faults.fail_nth(op, k, op == FileOp::Write ? FileCause::DiskFull : FileCause::HardwareIo);
        const DbCode rc = edit(bill, 1234, letters(1100, 'q'));
        const bool failed = faults.calls(op) >= k;
        faults.reset();
        for (int i = 1; i <= 12; ++i) {
          ASSERT_TRUE(ok(db_go_to, {Value::of_int(i)}));
          const bool edited = read_double("金额") == 1234;
          EXPECT_EQ(read_text("备注"), edited ? letters(1100, 'q') : letters(40 * i, 'a')) << i;
          EXPECT_TRUE(i == bill || !edited) << i;
          EXPECT_TRUE(i != bill || rc != DbCode::Ok || edited);
        }
        const CheckReport r = audit();
        // Lost space only where the edit stood and freeing the old chain failed, or a sync failed and
        // left what the cache holds unknown.
        for (const std::string& line : r.lines) {
          EXPECT_TRUE(op == FileOp::Sync || rc == DbCode::Ok ||
                      line.find("belong to nothing") == std::string::npos)
              << line;
        }
        close_db();
        set_store_file_system(nullptr);
        if (!failed) break;
      }
    }
  }
  ASSERT_TRUE(open_db(p_));
}

TEST(EditJournalTest, TornMeansASectorMixThatIsNeitherVersion) {
  // A 112-byte record at 460: its first 52 bytes in one sector, the rest in the next.
  EditJournal j{548, 0, 1, std::vector<uint8_t>(112, 'o'), std::vector<uint8_t>(112, 'n')};
  std::vector<uint8_t> now = j.old_bytes;
  EXPECT_FALSE(torn_between(now.data(), j, 460)) << "the old record";
  EXPECT_FALSE(torn_between(j.new_bytes.data(), j, 460)) << "the new record";
  std::fill(now.begin(), now.begin() + 52, 'n');
  EXPECT_TRUE(torn_between(now.data(), j, 460));
  now[60] = 'x';
  EXPECT_FALSE(torn_between(now.data(), j, 460)) << "a byte of neither: a later change";
  std::fill(now.begin(), now.begin() + 40, 'o');
  now[60] = 'n';
  EXPECT_FALSE(torn_between(now.data(), j, 460)) << "a split inside a sector is no cut";
  EditJournal back;
  EXPECT_TRUE(EditJournal::parse(j.encode(), 112, &back));
  EXPECT_EQ(back.new_bytes, j.new_bytes);
  std::string damaged = j.encode();
  damaged[30] ^= 1;
  EXPECT_FALSE(EditJournal::parse(damaged, 112, &back));
  EXPECT_FALSE(EditJournal::parse(j.encode(), 120, &back)) << "another record length";
  EXPECT_FALSE(EditJournal::parse(j.encode().substr(0, 200), 112, &back));
}

class TornEditTest : public EditTest {
 protected:
  // Edits the straddling bill, then leaves its record torn behind the store's back: the new bytes in
  // its first sector, the old in the rest, as a cut in the middle of the write leaves it. The
  // database stays open when `keep_open`.
  void tear(bool keep_open) {
    full_protocol();  // nothing read is kept in pages while the bytes change underneath
    // A record whose amount lies before the sector boundary and its remark's chain after it.
    int64_t at = 0;
    for (bill_ = 1;; ++bill_) {
      at = data_start_ + (bill_ - 1) * int64_t{record_length_};
      if (512 - at % 512 >= 36 && 512 - at % 512 <= 108) break;
    }
    close_db();
    const std::string before = read_bytes(p_);
    ASSERT_TRUE(open_db(p_));
    ASSERT_EQ(edit(bill_, 4321, letters(1200, 'n')), DbCode::Ok);
    if (!keep_open) close_db();
    std::string now = read_bytes(p_);
    const auto first = static_cast<size_t>(512 - at % 512),
               rest = static_cast<size_t>(record_length_) - first;
    now.replace(static_cast<size_t>(at) + first, rest, before.substr(static_cast<size_t>(at) + first, rest));
    ASSERT_NE(now, read_bytes(p_));
    write_bytes(p_, now);
  }
  double amount_of_bill() {
    EXPECT_TRUE(ok(db_go_to, {Value::of_int(bill_)}));
    return read_double("金额");
  }
  int bill_ = 0;
};

TEST_F(TornEditTest, AWritableOpenRepairsItAReadOnlyOneChangesNothing) {
  ASSERT_NO_FATAL_FAILURE(tear(false));
  ASSERT_TRUE(open_db(p_, 1));
  EXPECT_EQ(amount_of_bill(), 4321) << "a read-only open sees the torn record: the new amount";
  EXPECT_NE(read_text("备注"), letters(1200, 'n')) << "and the old remark";
  close_db();
  ASSERT_TRUE(open_db(p_));
  EXPECT_EQ(amount_of_bill(), 4321);
  EXPECT_EQ(read_text("备注"), letters(1200, 'n'));
  audit();
}

TEST_F(TornEditTest, TheNextJournaledEditRepairsItFirst) {
  ASSERT_NO_FATAL_FAILURE(tear(true));
  EXPECT_EQ(amount_of_bill(), 4321);
  const int other = bill_that_straddles(true);
  ASSERT_NE(other, bill_);
  ASSERT_EQ(edit(other, 55, "other"), DbCode::Ok);
  EXPECT_EQ(amount_of_bill(), 4321);
  EXPECT_EQ(read_text("备注"), letters(1200, 'n'));
  audit();
}

TEST_F(EditTest, TheJournalOfAnEndedEditDoesNotMakeTheNextEditWaitForItsBill) {
  const int first = bill_that_straddles(true);
  ASSERT_EQ(edit(first, 10, "first"), DbCode::Ok);  // the journal now names its slot
  // Another program holds that bill (a reader, a delete) while a second straddling bill is edited.
  std::unique_ptr<File> other;
  ASSERT_EQ(posix_file_system().open(p_, FileAccess::ReadWrite, FileShare::DenyNone, &other),
            FileCause::None);
  ASSERT_EQ(other->lock(static_cast<uint64_t>(data_start_ + (first - 1) * int64_t{record_length_}), 1),
            FileCause::None);
  int second = first + 1;
  while (!crosses_sector(data_start_ + (second - 1) * int64_t{record_length_}, record_length_)) ++second;
  ASSERT_LE(second, 12);
  EXPECT_EQ(edit(second, 20, "second"), DbCode::Ok);
  other->close();
  EXPECT_EQ(edit(first, 30, "first"), DbCode::Ok);
}

TEST_F(EditTest, AJournalLeftBehindUndoesNoLaterChange) {
  const int bill = bill_that_straddles(true);
  ASSERT_EQ(edit(bill, 10, "first"), DbCode::Ok);
  ASSERT_EQ(edit(bill, 5, "first"), DbCode::Ok);  // back to the old amount: a mix of the two versions
  close_db();
  ASSERT_TRUE(open_db(p_));
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(bill)}));
  EXPECT_EQ(read_double("金额"), 5);
  ASSERT_TRUE(ok(db_delete));
  close_db();
  ASSERT_TRUE(open_db(p_));
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(bill)}));
  int32_t serial = 0;
  ASSERT_EQ(db_current_serial(&serial), DbCode::Ok);
  EXPECT_EQ(serial, -bill) << "the delete stands";
}

}  // namespace
}  // namespace pennacle
