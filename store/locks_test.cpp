#include "store/locks.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class Locks : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    file_ = path("l.kdb");
    write_bytes(file_, std::string(4096, '\0'));
    mine_ = open_file();
    other_ = open_file();
  }
  std::unique_ptr<File> open_file() {
    std::unique_ptr<File> f;
    EXPECT_EQ(posix_file_system().open(file_, FileAccess::ReadWrite, FileShare::DenyNone, &f),
              FileCause::None);
    return f;
  }
  // Whether another open could take the byte (it gives it back at once).
  bool free_byte(int64_t b) {
    if (other_->lock(static_cast<uint64_t>(b), 1) != FileCause::None) return false;
    EXPECT_EQ(other_->unlock(static_cast<uint64_t>(b), 1), FileCause::None);
    return true;
  }
  std::string file_;
  std::unique_ptr<File> mine_, other_;
};

TEST_F(Locks, RepeatedLocksNestAndUnlockingWhatIsNotHeldFails) {
  LockTable t;
  ASSERT_EQ(t.lock(*mine_, 300, 0), DbCode::Ok);
  ASSERT_EQ(t.lock(*mine_, 300, 0), DbCode::Ok);
  EXPECT_EQ(t.nesting(300), 1);
  EXPECT_EQ(t.unlock(*mine_, 300), DbCode::Ok);
  EXPECT_FALSE(free_byte(300));  // still held once
  EXPECT_EQ(t.unlock(*mine_, 300), DbCode::Ok);
  EXPECT_TRUE(free_byte(300));
  EXPECT_EQ(t.unlock(*mine_, 300), DbCode::UnlockFailed);
  EXPECT_EQ(t.unlock(*mine_, kWholeFile), DbCode::UnlockFailed);
  // A conflict with another open fails at once (LockFile) and records nothing.
  ASSERT_EQ(other_->lock(16, 1), FileCause::None);
  EXPECT_EQ(t.lock(*mine_, 16, 0), DbCode::LockFile);
  EXPECT_FALSE(t.holds(16));
}

// Bytes taken in rising order (an append's records), others below them, and taken again: each
// nests, and each is let go at the platform on its last unlock, in any order.
TEST_F(Locks, ManyBytesNestWhateverTheOrderTheyAreTakenAndLetGo) {
  LockTable t;
  for (int64_t b : {100, 200, 300, 400, 50, 250, 300, 100, 400}) ASSERT_EQ(t.lock(*mine_, b, 0), DbCode::Ok);
  EXPECT_EQ(t.size(), 6u);
  EXPECT_EQ(t.nesting(100), 1);
  EXPECT_EQ(t.nesting(300), 1);
  EXPECT_EQ(t.nesting(400), 1);
  EXPECT_EQ(t.nesting(500), -1);
  for (int64_t b : {400, 50, 300, 400, 100}) ASSERT_EQ(t.unlock(*mine_, b), DbCode::Ok) << b;
  EXPECT_FALSE(free_byte(100));  // taken twice, let go once
  EXPECT_FALSE(free_byte(300));
  EXPECT_TRUE(free_byte(400));
  EXPECT_TRUE(free_byte(50));
  for (int64_t b : {100, 200, 250, 300}) ASSERT_EQ(t.unlock(*mine_, b), DbCode::Ok) << b;
  EXPECT_EQ(t.size(), 0u);
  for (int64_t b : {50, 100, 200, 250, 300, 400}) EXPECT_TRUE(free_byte(b)) << b;
  // After the table was empty, a lower byte is found again when taken twice.
  ASSERT_EQ(t.lock(*mine_, 10, 0), DbCode::Ok);
  ASSERT_EQ(t.lock(*mine_, 10, 0), DbCode::Ok);
  EXPECT_EQ(t.nesting(10), 1);
}

TEST_F(Locks, ThePrimitivesLockAndUnlockOnePositionOrTheWholeFile) {
  ASSERT_EQ(platform_lock(*mine_, 40, 0), DbCode::Ok);
  EXPECT_FALSE(free_byte(40));
  EXPECT_TRUE(free_byte(41)) << "one position is one byte";
  EXPECT_EQ(platform_unlock(*mine_, 40), DbCode::Ok);
  EXPECT_TRUE(free_byte(40));

  ASSERT_EQ(platform_lock(*mine_, kWholeFile, 0), DbCode::Ok);
  EXPECT_FALSE(free_byte(0));
  EXPECT_FALSE(free_byte(kWholeFileLength - 1));
  EXPECT_EQ(platform_lock(*other_, 7, 0), DbCode::LockFile) << "a conflict without a wait fails at once";
  EXPECT_EQ(platform_unlock(*mine_, kWholeFile), DbCode::Ok);
  EXPECT_TRUE(free_byte(kWholeFileLength - 1));

  // An unlock reports the file's failure (a closed file), never a conflict to wait out.
  mine_->close();
  EXPECT_EQ(platform_unlock(*mine_, 40), DbCode::BadHandle);
}

TEST_F(Locks, WholeFileEntryAndSingleBytesStayConsistent) {
  LockTable t;
  ASSERT_EQ(t.lock(*mine_, 16, 0), DbCode::Ok);
  ASSERT_EQ(t.lock(*mine_, kWholeFile, 0), DbCode::Ok);
  EXPECT_FALSE(free_byte(1000));
  ASSERT_EQ(t.lock(*mine_, 500, 0), DbCode::Ok);  // only recorded: the whole file is held
  EXPECT_EQ(t.unlock(*mine_, 500), DbCode::Ok);
  EXPECT_FALSE(free_byte(500));
  ASSERT_EQ(t.unlock(*mine_, kWholeFile), DbCode::Ok);
  EXPECT_TRUE(free_byte(1000));
  EXPECT_FALSE(free_byte(16));  // taken back after the whole file went
  // The whole file cannot be had while another open holds a byte: the single bytes stay.
  ASSERT_EQ(other_->lock(2000, 1), FileCause::None);
  EXPECT_EQ(t.lock(*mine_, kWholeFile, 0), DbCode::LockFile);
  EXPECT_FALSE(t.holds(kWholeFile));
  EXPECT_FALSE(free_byte(16));
  t.release_all(*mine_);
  EXPECT_TRUE(free_byte(16));
}

TEST_F(Locks, LockAllLeavesOutTheBytesTheTableHolds) {
  LockTable t;
  const int64_t record3 = 188 + 2 * 8;
  ASSERT_EQ(t.lock(*mine_, record3, 0), DbCode::Ok);
  int32_t exclusive = 0;
  ASSERT_EQ(t.lock_all(*mine_, &exclusive, 0), DbCode::Ok);
  EXPECT_EQ(exclusive, 1);
  // The record's byte is held by the table; its neighbours and the rest by lock_all.
  EXPECT_FALSE(free_byte(record3 - 1));
  EXPECT_FALSE(free_byte(record3 + 1));
  EXPECT_FALSE(free_byte(0));
  EXPECT_FALSE(free_byte(0x7FFFFFFE));
  ASSERT_EQ(t.lock_all(*mine_, &exclusive, 0), DbCode::Ok);  // nested: nothing more taken
  t.unlock_all(*mine_, &exclusive);
  EXPECT_FALSE(free_byte(0));
  t.unlock_all(*mine_, &exclusive);
  EXPECT_EQ(exclusive, 0);
  EXPECT_TRUE(free_byte(0));
  EXPECT_TRUE(free_byte(record3 + 1));
  EXPECT_FALSE(free_byte(record3));
  // lock_all against another holder fails and takes nothing.
  ASSERT_EQ(other_->lock(50, 1), FileCause::None);
  EXPECT_EQ(t.lock_all(*mine_, &exclusive, 0), DbCode::LockFile);
  EXPECT_EQ(exclusive, 0);
  ASSERT_EQ(other_->unlock(50, 1), FileCause::None);
  EXPECT_TRUE(free_byte(0));
}

TEST_F(Locks, AnExclusiveOpenTakesNoCountOrRecordLocks) {
  full_protocol();  // counts the platform's lock calls
  FaultFileSystem counting(posix_file_system());
  set_store_file_system(&counting);
  std::string p = path("x.kdb");
  ASSERT_EQ(create_database(p, {{"n", FieldType::Int, 0}}), DbCode::Ok);
  track(p);
  for (int share : {4, 1}) {
    ASSERT_TRUE(open_db(p, 0, share));
    counting.reset();
    ASSERT_TRUE(ok(db_append, {Value::of_int(5)}));
    EXPECT_EQ(record_count(), share == 4 ? 1 : 2);
    EXPECT_EQ(read_field("n").int_payload(), 5);
    ASSERT_TRUE(ok(db_delete));
    ASSERT_TRUE(ok(db_purge));
    EXPECT_EQ(counting.calls(FileOp::Lock) == 0, share == 4) << share;
    close_db();
    // Reopen without the record deleted above for the second round.
    if (share == 4) {
      ASSERT_TRUE(open_db(p));
      ASSERT_TRUE(ok(db_append, {Value::of_int(5)}));
      close_db();
    }
  }
}

TEST_F(Locks, AnExclusiveOpenStillLocksAuxiliaryBlocks) {
  full_protocol();  // counts the platform's lock calls
  FaultFileSystem counting(posix_file_system());
  set_store_file_system(&counting);
  std::string p = ledger("e.kdb");
  ASSERT_TRUE(open_db(p, 0, 4));
  counting.reset();
  ASSERT_TRUE(append_bill(1, "支出", 1, "微信", 44000, "memo"));
  EXPECT_EQ(counting.calls(FileOp::Lock), 2);  // the auxiliary header and the new block
}

// ---- Two processes ---------------------------------------------------------------------------

// Runs `body` in a child once the parent says go; the parent then waits for the child to signal
// back before going on, and finally lets it end.
class Child {
 public:
  explicit Child(std::function<int()> body) {
    EXPECT_EQ(pipe(to_child_), 0);
    EXPECT_EQ(pipe(to_parent_), 0);
    pid_ = fork();
    if (pid_ == 0) {
      char c;
      if (read(to_child_[0], &c, 1) != 1) _exit(90);
      int rc = body();
      if (write(to_parent_[1], "r", 1) != 1) _exit(91);
      if (read(to_child_[0], &c, 1) != 1) _exit(92);  // hold whatever it took until told
      _exit(rc);
    }
  }
  // Lets the child run its body and waits until it has.
  void start() {
    ASSERT_EQ(write(to_child_[1], "g", 1), 1);
    char c;
    ASSERT_EQ(read(to_parent_[0], &c, 1), 1);
  }
  int finish() {
    if (write(to_child_[1], "e", 1) != 1) return -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  int to_child_[2], to_parent_[2];
  pid_t pid_;
};

// Opens a raw file in the child and locks one byte: another instance holding a lock.
std::function<int()> hold_byte(std::string p, int64_t byte) {
  return [p, byte] {
    static std::unique_ptr<File> f;
    if (posix_file_system().open(p, FileAccess::ReadWrite, FileShare::DenyNone, &f) != FileCause::None)
      return 1;
    return f->lock(static_cast<uint64_t>(byte), 1) == FileCause::None ? 0 : 2;
  };
}

TEST_F(Locks, RecordAndCountSlotConflictsBetweenProcesses) {
  std::string p = ledger("two.kdb");
  const int64_t data_start = 116 + 72 * 6, reclen = 112;
  Child record_holder(hold_byte(p, data_start + 1 * reclen));
  Child count_holder(hold_byte(p, 16));
  ASSERT_TRUE(open_db(p));
  for (int i = 1; i <= 3; ++i) ASSERT_TRUE(append_bill(i, "支出", i, "微信", 44000, ""));
  record_holder.start();
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(2)}));
  EXPECT_EQ(read_double("金额"), 0);
  EXPECT_EQ(db_last_error(), DbCode::LockFile);  // at once: the wait time is 0
  EXPECT_FALSE(ok(db_delete));
  EXPECT_EQ(db_last_error(), DbCode::LockFile);
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(3)}));
  EXPECT_EQ(read_double("金额"), 3);  // other records are free
  EXPECT_FALSE(ok(db_purge));
  EXPECT_EQ(db_last_error(), DbCode::LockFile);
  EXPECT_EQ(record_holder.finish(), 0);
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(2)}));
  EXPECT_EQ(read_double("金额"), 2);

  count_holder.start();
  EXPECT_FALSE(append_bill(4, "支出", 4, "微信", 44000, ""));
  EXPECT_EQ(db_last_error(), DbCode::LockFile);
  EXPECT_EQ(record_count(), 0);  // after the 2-second retry of the count slot
  EXPECT_EQ(db_last_error(), DbCode::LockFile);
  EXPECT_EQ(count_holder.finish(), 0);
  EXPECT_EQ(record_count(), 3);
}

TEST_F(Locks, OpenFailsAgainstAHeldRecordLockInAnotherProcess) {
  std::string p = ledger("held.kdb");
  ASSERT_TRUE(open_db(p));
  ASSERT_TRUE(append_bill(1, "支出", 1, "微信", 44000, ""));
  close_db();
  Child holder(hold_byte(p, 116 + 72 * 6));
  holder.start();
  EXPECT_FALSE(open_db(p));
  EXPECT_EQ(db_last_error(), DbCode::LockFile);
  EXPECT_FALSE(open_db(p, 0, 2));  // deny read: the other process already reads
  EXPECT_EQ(db_last_error(), DbCode::Sharing);
  EXPECT_EQ(holder.finish(), 0);
  EXPECT_TRUE(open_db(p));
}

TEST_F(Locks, AWaitTimeRetriesUntilTheOtherProcessLetsGo) {
  std::string p = ledger("wait.kdb");
  ASSERT_TRUE(open_db(p));
  ASSERT_TRUE(append_bill(1, "支出", 7, "微信", 44000, ""));
  // The child holds record 1 for a moment and then ends, which releases it.
  pid_t pid = fork();
  if (pid == 0) {
    std::unique_ptr<File> f;
    if (posix_file_system().open(p, FileAccess::ReadWrite, FileShare::DenyNone, &f) != FileCause::None)
      _exit(1);
    if (f->lock(116 + 72 * 6, 1) != FileCause::None) _exit(2);
    usleep(300000);
    _exit(0);
  }
  // Wait until the child holds the lock.
  std::unique_ptr<File> probe;
  ASSERT_EQ(posix_file_system().open(p, FileAccess::ReadWrite, FileShare::DenyNone, &probe), FileCause::None);
  while (probe->lock(116 + 72 * 6, 1) == FileCause::None) {
    ASSERT_EQ(probe->unlock(116 + 72 * 6, 1), FileCause::None);
    usleep(1000);
  }
  set_db_wait_time(-1);
  EXPECT_EQ(read_double("金额"), 7);  // retried until the lock came free
  EXPECT_EQ(db_last_error(), DbCode::Ok);
  set_db_wait_time(0);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(Locks, DenyModesBetweenProcesses) {
  std::string p = ledger("deny.kdb");
  struct Case {
    int parent_share, child_read_only, child_share;
    bool child_opens;
  };
  const Case cases[] = {
      {1, 0, 1, true},  {3, 1, 1, true},  {3, 0, 1, false},
      {2, 1, 1, false}, {4, 1, 1, false}, {1, 0, 4, false},
  };
  for (const Case& c : cases) {
    Child child([&] {
      bool opened = open_db(p, c.child_read_only, c.child_share);
      return opened ? 0 : (db_last_error() == DbCode::Sharing ? 12 : 1);
    });
    ASSERT_TRUE(open_db(p, 0, c.parent_share));
    child.start();
    EXPECT_EQ(child.finish(), c.child_opens ? 0 : 12) << c.parent_share << " " << c.child_share;
    close_db();
  }
}

}  // namespace
}  // namespace pennacle
