#include "ledger/import/import_log.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "runtime/convert.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

ImportEntry entry(ImportEntry::Kind kind, std::string order, int32_t serial, double amount = 28.16) {
  ImportEntry e;
  e.kind = kind;
  e.key = {std::move(order), make_date_time(2023, 3, 1, 12, 30, 45), amount};
  e.income = serial % 2 == 0;
  e.serial = serial;
  e.fingerprint = bill_fingerprint("\xD6\xA7\xB3\xF6", "x", std::to_string(serial));
  return e;
}

void expect_same(const std::vector<ImportEntry>& got, const std::vector<ImportEntry>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].kind, want[i].kind) << i;
    EXPECT_EQ(got[i].key, want[i].key) << i;
    EXPECT_EQ(got[i].income, want[i].income) << i;
    EXPECT_EQ(got[i].serial, want[i].serial) << i;
    EXPECT_EQ(got[i].fingerprint, want[i].fingerprint) << i;
  }
}

class ImportLogTest : public StoreTest {
 protected:
  std::string log_path() { return path("data.kdb.imports"); }
  std::vector<ImportEntry> reopen() {
    ImportLog log;
    EXPECT_TRUE(log.open(posix_file_system(), log_path(), false).ok());
    return log.entries();
  }
};

TEST_F(ImportLogTest, EntriesComeBackExactlyWhateverTheirOrderNumbers) {
  const std::vector<ImportEntry> entries = {
      entry(ImportEntry::Kind::Intent, "2023030122001400001000000001", 0),
      entry(ImportEntry::Kind::Done, "with space\tand tab\nand line%25", 7, 0.1 + 0.2),
      entry(ImportEntry::Kind::Done, "\xE7\xA4\xBA\xE4\xBE\x8B", INT32_MAX, 1e-7 * 3),
      entry(ImportEntry::Kind::Intent, "", 12, 123456789.123)};
  {
    ImportLog log;
    ASSERT_TRUE(log.open(posix_file_system(), log_path(), true).ok());
    EXPECT_TRUE(log.entries().empty());
    ASSERT_TRUE(log.append({entries[0], entries[1]}, true).ok());
    ASSERT_TRUE(log.append({entries[2], entries[3]}, false).ok());
    expect_same(log.entries(), entries);
  }
  expect_same(reopen(), entries);
  // One line per entry, after the header line.
  const std::string bytes = read_bytes(log_path());
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 5);
}

TEST_F(ImportLogTest, ATornEndIsIgnoredAndWrittenOver) {
  const ImportEntry a = entry(ImportEntry::Kind::Intent, "A", 1), b = entry(ImportEntry::Kind::Done, "B", 2),
                    c = entry(ImportEntry::Kind::Done, "C", 3);
  {
    ImportLog log;
    ASSERT_TRUE(log.open(posix_file_system(), log_path(), true).ok());
    ASSERT_TRUE(log.append({a, b}, true).ok());
  }
  const std::string sound = read_bytes(log_path());
  // Every way the last line can be torn: cut anywhere, or a byte of it changed.
  const std::string last = import_entry_line(b);
  for (size_t cut = 0; cut < last.size(); ++cut) {
    write_bytes(log_path(), sound.substr(0, sound.size() - last.size() + cut));
    expect_same(reopen(), {a});
  }
  for (size_t i = 0; i + 1 < last.size(); ++i) {
    std::string bent = sound;
    bent[sound.size() - last.size() + i] ^= 0x01;
    write_bytes(log_path(), bent);
    expect_same(reopen(), {a});
  }
  // Zeros where a sector never reached the disk, with a sound line after them: the rest is torn too.
  write_bytes(log_path(), sound.substr(0, sound.size() - last.size()) + std::string(20, '\0') + "\n" + last);
  {
    ImportLog log;
    ASSERT_TRUE(log.open(posix_file_system(), log_path(), true).ok());
    expect_same(log.entries(), {a});
    EXPECT_EQ(log.torn_bytes(), 21 + last.size());
    ASSERT_TRUE(log.append({c}, true).ok());
  }
  expect_same(reopen(), {a, c});
  EXPECT_EQ(read_bytes(log_path()), sound.substr(0, sound.size() - last.size()) + import_entry_line(c));
}

TEST_F(ImportLogTest, AFileBeingMadeIsEmptyAndAForeignOneIsRefused) {
  for (const char* start : {"", "kdbtool imp"}) {
    write_bytes(log_path(), start);
    ImportLog log;
    ASSERT_TRUE(log.open(posix_file_system(), log_path(), true).ok());
    EXPECT_TRUE(log.entries().empty());
    ASSERT_TRUE(log.append({entry(ImportEntry::Kind::Done, "A", 1)}, true).ok());
  }
  EXPECT_EQ(reopen().size(), 1u);
  write_bytes(log_path(), "my own notes\n");
  ImportLog log;
  const Status foreign = log.open(posix_file_system(), log_path(), true);
  EXPECT_EQ(foreign.code(), StatusCode::Corrupt);
  EXPECT_NE(foreign.message().find("not a record of imported bills"), std::string::npos) << foreign.message();
  EXPECT_EQ(read_bytes(log_path()), "my own notes\n");
  // Reading a ledger that never had an import finds an empty record and makes no file.
  ImportLog none;
  EXPECT_TRUE(none.open(posix_file_system(), path("other.imports"), false).ok());
  EXPECT_FALSE(std::filesystem::exists(path("other.imports")));
}

TEST_F(ImportLogTest, OneImportAtATimeAndFailuresAreReported) {
  ImportLog first;
  ASSERT_TRUE(first.open(posix_file_system(), log_path(), true).ok());
  ImportLog second;
  const Status busy = second.open(posix_file_system(), log_path(), true);
  EXPECT_NE(busy.message().find("another import"), std::string::npos) << busy.message();
  ImportLog reader;  // a dry run only reads
  EXPECT_TRUE(reader.open(posix_file_system(), log_path(), false).ok());

  FaultFileSystem faults(posix_file_system());
  ImportLog log;
  ASSERT_TRUE(log.open(faults, path("f.imports"), true).ok());
  faults.fail_nth(FileOp::Sync, 1, FileCause::HardwareIo);
  const Status unsynced = log.append({entry(ImportEntry::Kind::Done, "A", 1)}, true);
  EXPECT_NE(unsynced.message().find("disk"), std::string::npos) << unsynced.message();
  faults.fail_nth(FileOp::Write, 1, FileCause::DiskFull);
  const Status full = log.append({entry(ImportEntry::Kind::Done, "B", 2)}, true);
  // The message names the log and what the system said.
  EXPECT_EQ(full.path(), path("f.imports"));
  EXPECT_EQ(full.sys_errno(), ENOSPC);
  EXPECT_NE(full.message().find("cannot write"), std::string::npos) << full.message();
}

}  // namespace
}  // namespace pennacle
