#include "store/record_read.h"

#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

// Bill k as the tests store it: every field follows from k, so a read that mixes two bills shows.
std::string channel_of(int k) { return "c" + std::to_string(k % 7); }
std::string remark_of(int k) {
  return std::string(static_cast<size_t>(k % 900 + 1), static_cast<char>('a' + k % 26));
}
bool append_numbered(int k) {
  return append_bill(k, k % 2 ? "支出" : "收入", k, channel_of(k), 45000 + k, remark_of(k));
}

// The five fields the record list reads, by name.
const Text kNames[] = {Text("类型"), Text("金额"), Text("付款方式"), Text("时间"), Text("备注")};
std::vector<Value> list_fields() {
  std::vector<Value> v;
  for (const Text& t : kNames) v.push_back(t.value());
  return v;
}

// A process that opens `path` and holds one byte of it until the object goes.
class ByteHolder {
 public:
  ByteHolder(const std::string& path, int64_t byte) {
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    EXPECT_EQ(pipe(release_), 0);
    pid_ = fork();
    if (pid_ == 0) {
      std::unique_ptr<File> f;
      const bool held =
          posix_file_system().open(path, FileAccess::ReadWrite, FileShare::DenyNone, &f) == FileCause::None &&
          f->lock(static_cast<uint64_t>(byte), 1) == FileCause::None;
      char c = held ? 'h' : 'x';
      if (write(ready[1], &c, 1) != 1 || read(release_[0], &c, 1) != 1) _exit(1);
      _exit(held ? 0 : 2);
    }
    char c = 0;
    EXPECT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, 'h');
    close(ready[0]);
    close(ready[1]);
  }
  ~ByteHolder() {
    EXPECT_EQ(write(release_[1], "r", 1), 1);
    int status = 0;
    waitpid(pid_, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(release_[0]);
    close(release_[1]);
  }

 private:
  int release_[2];
  pid_t pid_;
};

class RecordReads : public StoreTest {};

TEST_F(RecordReads, EveryKindOfFieldComesBackAsItsFieldReadGivesIt) {
  const std::string p = ledger("kinds.kdb", {{"b", FieldType::Byte, 0},
                                             {"s", FieldType::Short, 0},
                                             {"i", FieldType::Int, 0},
                                             {"l", FieldType::Int64, 0},
                                             {"f", FieldType::Float, 0},
                                             {"d", FieldType::Double, 0},
                                             {"o", FieldType::Logical, 0},
                                             {"t", FieldType::DateTime, 0},
                                             {"r", FieldType::Subroutine, 0},
                                             {"x", FieldType::Text, 8},
                                             {"y", FieldType::ByteSet, 0},
                                             {"m", FieldType::Memo, 0}});
  ASSERT_TRUE(open_db(p));
  const Text text("abc"), memo(std::string(1200, 'm'));
  const ByteSet bytes(std::string("\0\1\2", 3));
  ASSERT_TRUE(
      ok(db_append, {Value::of_byte(7), Value::of_short(-3), Value::of_int(40000), Value::of_int64(1LL << 40),
                     Value::of_float(1.5f), Value::of_double(-2.25), Value::of_logical(true),
                     Value::of_date_time(45000.5), Value::make(Kind::SubroutineRef, 9), text.value(),
                     Value::of_byteset_block(bytes.block()), memo.value()}));
  ASSERT_TRUE(ok(db_append, {Value::of_byte(1)}));  // every other field empty
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(2)}));
  ASSERT_TRUE(ok(db_delete));
  std::vector<Value> numbers;
  for (int i = 12; i >= 1; --i) numbers.push_back(Value::of_int(i));  // any order
  RecordRead read;
  for (int k = 1; k <= 2; ++k) {
    ASSERT_TRUE(ok(db_go_to, {Value::of_int(k)}));
    ASSERT_EQ(db_read_record(numbers, &read), DbCode::Ok);
    EXPECT_EQ(read.serial(), k == 1 ? 1 : -2);
    ASSERT_EQ(read.size(), 12u);
    for (size_t i = 0; i < read.size(); ++i) {
      Value batched = read.value(i);
      Value single = call_command(db_read_field, {numbers[i]});
      EXPECT_EQ(batched.kind, single.kind) << "field " << 12 - i;
      if (single.is(Kind::Text) || single.is(Kind::ByteSet)) {
        const std::string_view want =
            single.is(Kind::Text) ? single.text()
                                  : std::string_view(reinterpret_cast<const char*>(single.byteset() + 1),
                                                     single.byteset() ? single.byteset()->length : 0);
        EXPECT_EQ(read.bytes(i), want) << "field " << 12 - i;
      } else {
        EXPECT_EQ(batched.payload(), single.payload()) << "field " << 12 - i;
      }
      release_value(batched);
      release_value(single);
    }
  }
  EXPECT_EQ(read.bytes(0).size(), 0u);  // the empty memo of record 2
}

TEST_F(RecordReads, OneLockOneReadAndOneUnlockPerRecordAndOneReadPerChainRun) {
  full_protocol();  // counts the platform's calls
  FaultFileSystem counting(posix_file_system());
  set_store_file_system(&counting);
  ASSERT_TRUE(open_db(ledger()));
  ASSERT_TRUE(append_numbered(1));                                                // a one-block remark
  ASSERT_TRUE(append_bill(2, "支出", 2, "微信", 45000, std::string(1400, 'r')));  // three blocks in a row
  const std::vector<Value> names = list_fields();
  RecordRead read;
  call_command(db_go_first, {});
  counting.reset();
  ASSERT_EQ(db_read_record(names, &read), DbCode::Ok);
  EXPECT_EQ(counting.calls(FileOp::Lock), 1);
  EXPECT_EQ(counting.calls(FileOp::Unlock), 1);
  EXPECT_EQ(counting.calls(FileOp::Read), 2);  // the record, its chain
  EXPECT_EQ(read.bytes(4), remark_of(1));
  call_command(db_skip, {});
  counting.reset();
  ASSERT_EQ(db_read_record(names, &read), DbCode::Ok);
  EXPECT_EQ(counting.calls(FileOp::Lock), 1);
  EXPECT_EQ(counting.calls(FileOp::Read), 3);  // the record, the chain's first block, the rest in one run
  EXPECT_EQ(read.bytes(4), std::string(1400, 'r'));
}

TEST_F(RecordReads, AWalkOfLiveRecordsLearnsTheSerialAndLeavesADeletedRecordsChainsUnread) {
  full_protocol();
  FaultFileSystem counting(posix_file_system());
  set_store_file_system(&counting);
  ASSERT_TRUE(open_db(ledger()));
  ASSERT_TRUE(append_numbered(1));
  ASSERT_TRUE(append_numbered(2));
  call_command(db_go_first, {});
  ASSERT_TRUE(ok(db_delete));
  const std::vector<Value> names = list_fields();
  RecordRead read;
  counting.reset();
  ASSERT_EQ(db_read_record(names, &read, Records::Live), DbCode::Ok);
  EXPECT_LT(read.serial(), 0);
  EXPECT_EQ(counting.calls(FileOp::Lock), 1);
  EXPECT_EQ(counting.calls(FileOp::Read), 1);  // the record's bytes; its freed chain is never read
  EXPECT_EQ(read.bytes(4), "");
  EXPECT_EQ(read.scalar(1).double_payload(), 0);
  // Every record: the deleted one's fields as they stand.
  ASSERT_EQ(db_read_record(names, &read), DbCode::Ok);
  EXPECT_EQ(read.scalar(1).double_payload(), 1);
  call_command(db_skip, {});
  ASSERT_EQ(db_read_record(names, &read, Records::Live), DbCode::Ok);
  EXPECT_EQ(read.serial(), 2);
  EXPECT_EQ(read.scalar(1).double_payload(), 2);
  EXPECT_EQ(read.bytes(4), remark_of(2));
}

TEST_F(RecordReads, MeetTheLockCodeWhereFieldReadsMeetIt) {
  const std::string p = ledger();
  ASSERT_TRUE(open_db(p));
  for (int k = 1; k <= 3; ++k) ASSERT_TRUE(append_numbered(k));
  DatabaseInfo info;
  ASSERT_TRUE(db_current_info(&info));
  const std::vector<Value> names = list_fields();
  RecordRead read;
  {
    ByteHolder holder(p, info.data_start + info.record_length);  // record 2
    ASSERT_TRUE(ok(db_go_to, {Value::of_int(2)}));
    EXPECT_EQ(db_read_record(names, &read), DbCode::LockFile);  // at once: the wait time is 0
    EXPECT_EQ(db_last_error(), DbCode::LockFile);
    EXPECT_EQ(read.serial(), 0);
    EXPECT_EQ(read.kind(0), Kind::Text);  // every field the empty value of its kind
    EXPECT_EQ(read.bytes(0), "");
    EXPECT_EQ(read.scalar(1).double_payload(), 0);
    EXPECT_EQ(read.bytes(4), "");
    EXPECT_EQ(read_double("金额"), 0);
    EXPECT_EQ(db_last_error(), DbCode::LockFile);
    ASSERT_TRUE(ok(db_go_to, {Value::of_int(3)}));
    EXPECT_EQ(db_read_record(names, &read), DbCode::Ok);  // other records are free
    EXPECT_EQ(read.scalar(1).double_payload(), 3);
  }
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(2)}));
  EXPECT_EQ(db_read_record(names, &read), DbCode::Ok);
  EXPECT_EQ(read.bytes(4), remark_of(2));
  // A chain is read under the record's hold: a block lock another process holds meets neither read.
  const std::string aux = path("data.KDT");
  {
    ByteHolder holder(aux, 2 * 512);  // record 2's remark block
    EXPECT_EQ(db_read_record(names, &read), DbCode::Ok);
    EXPECT_EQ(read.bytes(4), remark_of(2));
    EXPECT_EQ(read_text("备注"), remark_of(2));
    EXPECT_EQ(db_last_error(), DbCode::Ok);
  }
}

// A walk that read the count once steps without the count slot: another process holding it (an
// append that is syncing) does not stop the walk, and the steps end where db_skip's would.
TEST_F(RecordReads, AWalkWithinItsCountStepsWithoutTheCountSlot) {
  full_protocol();
  const std::string p = ledger();
  ASSERT_TRUE(open_db(p));
  for (int k = 1; k <= 3; ++k) ASSERT_TRUE(append_numbered(k));
  const std::vector<Value> names = list_fields();
  RecordRead read;
  DatabaseInfo info;
  auto holder = std::make_unique<ByteHolder>(p, 16);  // the count slot
  call_command(db_go_first, {});
  for (int k = 1; k <= 3; ++k) {
    ASSERT_EQ(db_read_record(names, &read), DbCode::Ok);
    EXPECT_EQ(read.scalar(1).double_payload(), k);
    EXPECT_EQ(read.bytes(4), remark_of(k));
    EXPECT_EQ(db_skip_within(3), DbCode::Ok);
  }
  ASSERT_TRUE(db_current_info(&info));
  EXPECT_EQ(info.current, 3);  // the position after the last record, as db_skip reaches it
  EXPECT_EQ(db_read_record(names, &read), DbCode::SeekFailed);
  EXPECT_EQ(db_skip_within(3), DbCode::AfterLast);
  EXPECT_EQ(db_last_error(), DbCode::AfterLast);
  ASSERT_TRUE(db_current_info(&info));
  EXPECT_EQ(info.current, 3);
  // Within a shorter count the walk ends sooner; an empty count gives no step at all.
  call_command(db_go_first, {});
  EXPECT_EQ(db_skip_within(1), DbCode::Ok);
  EXPECT_EQ(db_skip_within(1), DbCode::AfterLast);
  call_command(db_go_first, {});
  EXPECT_EQ(db_skip_within(0), DbCode::AfterLast);
  ASSERT_TRUE(db_current_info(&info));
  EXPECT_EQ(info.current, 0);
  // From the position before the first record (db_skip needs the count slot) the step reaches the first.
  holder.reset();
  ASSERT_TRUE(ok(db_skip, {Value::of_int(-1)}));
  EXPECT_EQ(db_skip_within(3), DbCode::Ok);
  ASSERT_EQ(db_read_record(names, &read), DbCode::Ok);
  EXPECT_EQ(read.scalar(1).double_payload(), 1);
}

TEST_F(RecordReads, EdgesOfTheFileAndDamagedChainsGiveTheCodesOfFieldReads) {
  const std::string p = ledger();
  ASSERT_TRUE(open_db(p));
  ASSERT_TRUE(append_numbered(1));
  ASSERT_TRUE(append_numbered(2));
  const std::vector<Value> names = list_fields();
  RecordRead read;
  call_command(db_go_first, {});
  call_command(db_skip, {Value::of_int(-1)});
  EXPECT_EQ(db_read_record(names, &read), DbCode::NoCurrentRecord);
  call_command(db_skip, {Value::of_int(3)});  // one past the last record
  EXPECT_EQ(db_read_record(names, &read), DbCode::SeekFailed);
  read_field("金额");
  EXPECT_EQ(db_last_error(), DbCode::SeekFailed);
  close_db();
  // Record 2's remark block claims more bytes than a block holds: its other fields still read.
  std::string kdt = read_bytes(path("data.KDT"));
  put32(kdt, 2 * 512 + 8, 9999);
  write_bytes(path("data.KDT"), kdt);
  ASSERT_TRUE(open_db(p));
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(2)}));
  EXPECT_EQ(db_read_record(names, &read), DbCode::AuxAccess);
  EXPECT_EQ(read.scalar(1).double_payload(), 2);
  EXPECT_EQ(read.bytes(2), channel_of(2));
  EXPECT_EQ(read.bytes(4), "");
  EXPECT_EQ(read_text("备注"), "");
  EXPECT_EQ(db_last_error(), DbCode::AuxAccess);
}

TEST_F(RecordReads, NamesNoFieldHasEndTheProgramAsFieldReadsDo) {
  RecordRead read;
  const std::vector<Value> names = list_fields();
  std::optional<FatalReport> f = fatal_report_of([&] { std::ignore = db_read_record(names, &read); });
  ASSERT_TRUE(f);
  EXPECT_EQ(f->message, "未指定当前数据库或者指定数据库未打开");
  ASSERT_TRUE(open_db(ledger()));
  const Text wrong("金 额");
  for (const Value& bad : {wrong.value(), Value::of_int(7)}) {
    const Value asked[] = {names[0], bad};
    f = fatal_report_of([&] { std::ignore = db_read_record(asked, &read); });
    ASSERT_TRUE(f);
    EXPECT_EQ(f->message, "指定字段不存在");
  }
  const Value logical[] = {Value::of_logical(true)};
  f = fatal_report_of([&] { std::ignore = db_read_record(logical, &read); });
  ASSERT_TRUE(f);
  EXPECT_EQ(f->code, kFaultBadArgumentKind);
  EXPECT_EQ(record_count(), 0);  // the fault let the store's mutex go
}

// In the full protocol a record's bytes come from the file's mapping: a delete another process
// makes is seen by the next read, and a file cut shorter behind the store's back (by no process
// that follows the protocol) gives the codes of a read past the end instead of a bus error.
TEST_F(RecordReads, MappedReadsSeeAnotherProcessAndSurviveACutFile) {
  full_protocol();
  const std::string p = ledger();
  ASSERT_TRUE(open_db(p));
  for (int k = 1; k <= 200; ++k) ASSERT_TRUE(append_numbered(k));
  close_db();
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t pid = fork();
  if (pid == 0) {  // deletes bill 1 once this process has read it
    char c = 0;
    const bool deleted =
        read(go[0], &c, 1) == 1 && open_db(p) && ok(db_go_to, {Value::of_int(1)}) && ok(db_delete, {});
    close_db();
    _exit(deleted ? 0 : 1);
  }
  ASSERT_TRUE(open_db(p));
  const std::vector<Value> names = list_fields();
  RecordRead read;
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(1)}));
  ASSERT_EQ(db_read_record(names, &read, Records::Live), DbCode::Ok);
  EXPECT_GT(read.serial(), 0);
  ASSERT_EQ(write(go[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(go[0]);
  close(go[1]);
  ASSERT_EQ(db_read_record(names, &read, Records::Live), DbCode::Ok);
  EXPECT_LE(read.serial(), 0);

  ASSERT_TRUE(ok(db_go_to, {Value::of_int(200)}));
  ASSERT_EQ(db_read_record(names, &read), DbCode::Ok);  // the mapping has seen the whole file
  EXPECT_EQ(read.bytes(4), remark_of(200));
  ASSERT_EQ(truncate(p.c_str(), 4096), 0);
  EXPECT_EQ(db_read_record(names, &read), DbCode::SeekFailed);
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(2)}));  // still within the first page
  ASSERT_EQ(db_read_record(names, &read), DbCode::Ok);
  EXPECT_EQ(read.bytes(2), channel_of(2));
}

// A writer process appends, deletes and purges (a purge moves records, so a slot holds one bill,
// then another) while this one reads: every record read without a code is one bill, whole.
TEST_F(RecordReads, AWholeRecordWhileAnotherProcessDeletesAndPurges) {
  full_protocol();  // two processes have the files open: the protocol both of them run
  const std::string p = ledger();
  ASSERT_TRUE(open_db(p));
  for (int k = 1; k <= 60; ++k) ASSERT_TRUE(append_numbered(k));
  close_db();
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    char c = 0;
    if (!open_db(p) || write(ready[1], "r", 1) != 1 || read(go[0], &c, 1) != 1) _exit(1);
    std::mt19937 rng(11);
    for (int op = 0, k = 61; op < 400; ++op) {
      const int32_t n = record_count();
      if (op % 3 == 0) {
        std::ignore = append_numbered(k++);  // a conflict fails it at once: the wait time is 0
      } else if (op % 20 == 19) {
        call_command(db_purge, {});
      } else if (n > 0) {
        call_command(db_go_to, {Value::of_int(1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(n)))});
        call_command(db_delete, {});
      }
    }
    close_db();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_TRUE(open_db(p));
  ASSERT_EQ(write(go[1], "g", 1), 1);
  const std::vector<Value> names = list_fields();
  RecordRead read;
  int whole = 0, status = 0, walks = 0;
  do {  // at least one walk, however soon the writer is done
    // Every other walk steps within the count it read once, as the record list does.
    const bool within = walks++ % 2 == 1;
    call_command(db_go_first, {});
    for (int32_t k = 0, n = record_count(); k < n; ++k) {
      const DbCode rc = db_read_record(names, &read);
      if (within) {
        std::ignore = db_skip_within(n);  // past a purge's new end the next read fails
      } else {
        call_command(db_skip, {});
      }
      if (rc != DbCode::Ok) continue;
      const int bill = static_cast<int>(read.scalar(1).double_payload());
      ASSERT_EQ(read.bytes(0), bill % 2 ? "支出" : "收入") << "bill " << bill;
      ASSERT_EQ(read.bytes(2), channel_of(bill)) << "bill " << bill;
      ASSERT_EQ(read.scalar(3).double_payload(), 45000 + bill) << "bill " << bill;
      ASSERT_EQ(read.bytes(4), remark_of(bill)) << "bill " << bill;
      ++whole;
    }
  } while (waitpid(pid, &status, WNOHANG) == 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_GT(whole, 0);
  for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
}

}  // namespace
}  // namespace pennacle
