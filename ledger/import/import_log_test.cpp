#include "ledger/import/import_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "ledger/checked_lines.h"
#include "ledger/import/bill_csv.h"
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

// An entry's line as the general line maker writes it from the escaped fields.
std::string line_of_fields(const ImportEntry& e) {
  char fingerprint[17];
  std::snprintf(fingerprint, sizeof fingerprint, "%016llx", static_cast<unsigned long long>(e.fingerprint));
  return checked_line({std::string(1, "IDCR"[static_cast<int>(e.kind)]), escape_field(e.key.order),
                       format_date_time(e.key.time), exact_number(e.key.amount), e.income ? "+" : "-",
                       std::to_string(e.serial), fingerprint, escape_field(e.merchant), e.refund ? "r" : "p",
                       escape_field(e.channel), escape_field(e.remark)});
}

TEST(ImportEntryLines, EachLineIsTheCheckedLineOfItsEscapedFieldsAndReadsBack) {
  std::vector<ImportEntry> entries;
  const double times[] = {make_date_time(100, 1, 1), make_date_time(999, 12, 31, 23, 59, 59),
                          make_date_time(1000, 1, 1), make_date_time(9999, 12, 31, 23, 59, 59),
                          make_date_time(2023, 3, 1, 12, 30, 45) + 0.4 / 86400};  // rounds to the second
  // The last has the longest shortest text a double has.
  const double amounts[] = {0.1 + 0.2, 1e-7, 123456789.125, 5, -2.2250738585072014e-308};
  const int32_t serials[] = {INT32_MIN, -1, 0, INT32_MAX};
  for (int i = 0; i < 20; ++i) {
    ImportEntry e = entry(static_cast<ImportEntry::Kind>(i % 4), i % 3 ? "2023 %x\t" : "", serials[i % 4]);
    e.key.time = times[i % 5];
    e.key.amount = amounts[i % 5];
    e.fingerprint = i % 2 ? UINT64_MAX : i;
    e.merchant = i % 2 ? "M\x7F\x01" : "";
    e.refund = i % 3 == 0;
    e.channel = i % 4 == 3 ? "\xD6\xA7 %" : "";
    e.remark = i % 5 == 1 ? std::string("a\0b\n", 4) : "";
    // Plain runs between escapes, longer than the usual line escaped.
    for (int k = 0; i % 5 == 2 && k < 80; ++k) e.remark += "ab\tc%";
    entries.push_back(e);
  }
  for (const ImportEntry& e : entries) {
    const std::string line = import_entry_line(e);
    EXPECT_EQ(line, line_of_fields(e));
    ImportEntry back;
    ASSERT_TRUE(parse_import_entry_line(line, &back)) << line;
    ImportEntry want = e;  // the log keeps whole seconds
    ASSERT_TRUE(parse_date_time(format_date_time(e.key.time), &want.key.time));
    expect_same({back}, {want});
    EXPECT_EQ(back.merchant, e.merchant);
    EXPECT_EQ(back.channel, e.channel);
    EXPECT_EQ(back.remark, e.remark);
    EXPECT_EQ(back.refund, e.refund);
  }
}

TEST(ImportEntryLines, AReusedEntryKeepsNothingOfTheLastLineAndOddLinesAreRefused) {
  ImportEntry full = entry(ImportEntry::Kind::Refund, "R1", 3);
  full.merchant = "M";
  full.channel = "c";
  full.remark = "r";
  full.refund = true;
  ImportEntry e;
  ASSERT_TRUE(parse_import_entry_line(import_entry_line(full), &e));
  // A first-format line into the same entry: no merchant, texts or refund role are left over.
  ASSERT_TRUE(
      parse_import_entry_line(checked_line({"D", "A1", "2023-03-01 12:30:45", "28.16", "-", "4", "ff"}), &e));
  EXPECT_EQ(e.kind, ImportEntry::Kind::Done);
  EXPECT_EQ(e.key.order, "A1");
  EXPECT_EQ(e.merchant, "");
  EXPECT_EQ(e.channel, "");
  EXPECT_EQ(e.remark, "");
  EXPECT_FALSE(e.refund);
  const std::vector<std::string> odd = {
      checked_line({"C", "A1", "2023-03-01 12:30:45", "28.16", "-", "4", "ff"}),  // no closed halves then
      checked_line({"D", "A1", "2023-03-01 12:30:45", "28.16", "-", "4", "ff", "M"}),
      checked_line({"D", "A1", "2023-03-01 12:30:45", "28.16", "-", "4", "ff", "M", "p", "", "", "x"}),
      checked_line({"D", "A1", "2023-03-01 12:30:45", "28.16", "-", "4", "ff", "M", "q", "", ""}),
      checked_line({"D", "A%1", "2023-03-01 12:30:45", "28.16", "-", "4", "ff"}),
      checked_line({"D", "A1", "2023-03-01 12:30:45", "inf", "-", "4", "ff"}),
      checked_line({"DD", "A1", "2023-03-01 12:30:45", "28.16", "-", "4", "ff"}),
      checked_line({"S", "7"}),
      import_mark_line(7)};
  for (const std::string& line : odd) EXPECT_FALSE(parse_import_entry_line(line, &e)) << line;
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
  // One line per entry after the header line, and a mark after the sync.
  const std::string bytes = read_bytes(log_path());
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 6);
  const size_t synced = 18 + import_entry_line(entries[0]).size() + import_entry_line(entries[1]).size();
  EXPECT_EQ(bytes.substr(synced, import_mark_line(synced).size()), import_mark_line(synced));
}

TEST_F(ImportLogTest, PairHalvesKeepTheirTextsAndTheFirstFormatStillReads) {
  ImportEntry closed = entry(ImportEntry::Kind::Closed, "2023030522001400001000000005", 0);
  closed.merchant = "T2023 0305";
  ImportEntry waiting = entry(ImportEntry::Kind::Refund, "2023030522001400001000000005_1", 0, 199);
  waiting.channel = "\xD6\xA7\xB8\xB6\xB1\xA6";
  waiting.remark = "a\tb\nc %20 \xCA\xBE\xC0\xFD";
  ImportEntry booked = entry(ImportEntry::Kind::Done, "R1", 9);
  booked.refund = true;
  {
    ImportLog log;
    ASSERT_TRUE(log.open(posix_file_system(), log_path(), true).ok());
    ASSERT_TRUE(log.append({closed, waiting, booked}, true).ok());
  }
  expect_same(reopen(), {closed, waiting, booked});
  const std::vector<ImportEntry> again = reopen();
  ASSERT_EQ(again.size(), 3u);
  EXPECT_EQ(again[0].merchant, closed.merchant);
  EXPECT_EQ(again[1].channel, waiting.channel);
  EXPECT_EQ(again[1].remark, waiting.remark);
  EXPECT_TRUE(again[2].refund);
  EXPECT_FALSE(again[0].refund);
  // A line of the first format (seven fields and a checksum) is a booked payment without a merchant.
  const std::string first = "D\tA1\t2023-03-01 12:30:45\t28.16\t-\t4\t00000000000000ff";
  char sum[9];
  uint32_t h = 2166136261u;
  for (unsigned char c : first) h = (h ^ c) * 16777619u;
  std::snprintf(sum, sizeof sum, "%08x", h);
  write_bytes(log_path(), "kdbtool imports 1\n" + first + "\t" + sum + "\n");
  const std::vector<ImportEntry> old = reopen();
  ASSERT_EQ(old.size(), 1u);
  EXPECT_EQ(old[0].kind, ImportEntry::Kind::Done);
  EXPECT_EQ(old[0].serial, 4);
  EXPECT_EQ(old[0].fingerprint, 0xFFu);
  EXPECT_TRUE(old[0].merchant.empty());
  // The first format has no closed or refund halves.
  write_bytes(log_path(), "kdbtool imports 1\nC" + first.substr(1) + "\t" + sum + "\n");
  EXPECT_TRUE(reopen().empty());
}

// A log of three syncs: entries a, b (synced), c, d (synced), e (not synced).
class DamagedLog : public ImportLogTest {
 protected:
  void SetUp() override {
    ImportLogTest::SetUp();
    for (int i = 0; i < 5; ++i)
      all_.push_back(entry(ImportEntry::Kind::Done, std::string(1, 'a' + i), i + 1));
    ImportLog log;
    ASSERT_TRUE(log.open(posix_file_system(), log_path(), true).ok());
    ASSERT_TRUE(log.append({all_[0], all_[1]}, true).ok());
    ASSERT_TRUE(log.append({all_[2], all_[3]}, true).ok());
    ASSERT_TRUE(log.append({all_[4]}, false).ok());
    bytes_ = read_bytes(log_path());
  }
  // The file with one byte of entry `i`'s line changed.
  std::string bent(int i) {
    std::string b = bytes_;
    b[b.find(import_entry_line(all_[i])) + 3] ^= 0x04;
    return b;
  }
  Status open_status() {
    ImportLog log;
    return log.open(posix_file_system(), log_path(), false);
  }
  std::vector<ImportEntry> all_;
  std::string bytes_;
};

TEST_F(DamagedLog, ALineBelowAMarkIsDamageAndStopsTheReader) {
  for (int i : {0, 1, 2, 3}) {
    write_bytes(log_path(), bent(i));
    const Status s = open_status();
    EXPECT_EQ(s.code(), StatusCode::Corrupt) << i;
    EXPECT_NE(s.message().find("line " + std::to_string(i + 2 + (i >= 2))), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("damaged"), std::string::npos) << s.message();
  }
  // A mark that itself fails its checksum is damage too when a later mark covers it.
  const size_t first_sync = 18 + import_entry_line(all_[0]).size() + import_entry_line(all_[1]).size();
  std::string b = bytes_;
  ASSERT_EQ(b.find(import_mark_line(first_sync)), first_sync);
  b[first_sync] = 'T';
  write_bytes(log_path(), b);
  EXPECT_EQ(open_status().code(), StatusCode::Corrupt);
  // Past the last mark it is a torn end: the sound lines before it are read.
  write_bytes(log_path(), bent(4));
  EXPECT_TRUE(open_status().ok());
  expect_same(reopen(), {all_[0], all_[1], all_[2], all_[3]});
}

TEST_F(DamagedLog, ARepairKeepsTheSoundLinesAndSaysWhatItDropped) {
  write_bytes(log_path(), bent(1));
  Result<LogRepair> r = repair_import_log(posix_file_system(), log_path());
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_EQ(r->kept, 4u);
  ASSERT_EQ(r->dropped.size(), 1u);
  EXPECT_EQ(r->dropped[0].first, 3);
  EXPECT_EQ(r->dropped[0].second.substr(0, 4), "D%09");  // the tab shown escaped
  EXPECT_EQ(read_bytes(log_path() + ".damaged"), bent(1));
  EXPECT_FALSE(std::filesystem::exists(log_path() + ".rebuilt"));
  expect_same(reopen(), {all_[0], all_[2], all_[3], all_[4]});
  // A sound log is left as it is; a missing one is named.
  const std::string rebuilt = read_bytes(log_path());
  r = repair_import_log(posix_file_system(), log_path());
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(r->dropped.empty());
  EXPECT_EQ(read_bytes(log_path()), rebuilt);
  EXPECT_EQ(repair_import_log(posix_file_system(), path("none.imports")).status().code(),
            StatusCode::NotFound);
  // A damaged header line is dropped too; the entries after it stay.
  std::string header = bytes_;
  header[3] = 'X';
  write_bytes(log_path(), header);
  EXPECT_EQ(open_status().code(), StatusCode::Corrupt);
  r = repair_import_log(posix_file_system(), log_path());
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->kept, 5u);
  ASSERT_EQ(r->dropped.size(), 1u);
  EXPECT_EQ(r->dropped[0].first, 1);
  expect_same(reopen(), all_);
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
  // The last: a power cut kept the length of the first write, none of its bytes.
  for (const std::string& start : {std::string(), std::string("kdbtool imp"), std::string(512, '\0')}) {
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

// A backup holds the log's lock byte only while it copies: an import waits for it instead of failing.
TEST_F(ImportLogTest, AnImportWaitsForAShortHoldOfTheLock) {
  auto holder = std::make_unique<ImportLog>();
  ASSERT_TRUE(holder->open(posix_file_system(), log_path(), true).ok());
  std::thread release([&holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    holder.reset();
  });
  ImportLog waiting;
  const Status s = waiting.open(posix_file_system(), log_path(), true);
  release.join();
  EXPECT_TRUE(s.ok()) << s.message();
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
