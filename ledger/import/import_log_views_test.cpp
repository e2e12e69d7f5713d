// The log's entries are views of bytes it keeps: these tests move, grow and reread the log under
// views taken earlier, where a view into a moved or freed buffer would read the wrong text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ledger/checked_lines.h"
#include "ledger/import/import_log.h"
#include "runtime/convert.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

// Entry `i`, with texts of every kind a view can get wrong: empty, short enough for a string's own
// room, long, and escaped in the file (tab, line end, percent, zero byte).
ImportEntry varied(int i) {
  ImportEntry e;
  e.kind = static_cast<ImportEntry::Kind>(i % 4);
  const std::string n = std::to_string(i);
  const std::string orders[] = {"", "S" + n, "2023030122001400001" + n + std::string(12, '7'), "t\tab%" + n};
  e.key = {orders[i % 4], make_date_time(2023, 3, 1 + i % 28, 12, 30, i % 60), 1.25 + i};
  e.income = i % 3 == 0;
  e.serial = i * 3 - 7;
  e.fingerprint = 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(i + 1);
  e.merchant = i % 2 ? "M" + n : std::string(40, 'm') + n;
  e.refund = i % 5 == 0;
  e.channel = i % 3 ? "\xD6\xA7\xB8\xB6\xB1\xA6" : "";
  e.remark = i % 4 == 1 ? std::string("a\0b\nc", 5) + n : std::string(60 + i % 7, 'r');
  return e;
}

std::vector<ImportEntry> group(int first, int count) {
  std::vector<ImportEntry> g;
  for (int i = first; i < first + count; ++i) g.push_back(varied(i));
  return g;
}

void expect_entry(const LoggedEntry& got, const ImportEntry& want, const std::string& where) {
  EXPECT_EQ(got.kind, want.kind) << where;
  EXPECT_EQ(got.key.order, want.key.order) << where;
  EXPECT_EQ(got.key.time, want.key.time) << where;
  EXPECT_EQ(got.key.amount, want.key.amount) << where;
  EXPECT_EQ(got.income, want.income) << where;
  EXPECT_EQ(got.serial, want.serial) << where;
  EXPECT_EQ(got.fingerprint, want.fingerprint) << where;
  EXPECT_EQ(got.merchant, want.merchant) << where;
  EXPECT_EQ(got.refund, want.refund) << where;
  EXPECT_EQ(got.channel, want.channel) << where;
  EXPECT_EQ(got.remark, want.remark) << where;
}

// The log's entries, as views and as copies, are exactly `want`.
void expect_log(const ImportLog& log, const std::vector<ImportEntry>& want, const std::string& where) {
  ASSERT_EQ(log.logged().size(), want.size()) << where;
  const std::vector<ImportEntry>& copies = log.entries();
  ASSERT_EQ(copies.size(), want.size()) << where;
  for (size_t i = 0; i < want.size(); ++i) {
    expect_entry(log.logged()[i], want[i], where + " view " + std::to_string(i));
    expect_entry(logged_view(copies[i]), want[i], where + " copy " + std::to_string(i));
  }
}

class LoggedEntries : public StoreTest {
 protected:
  std::string log_path() { return path("data.kdb.imports"); }
};

TEST(LoggedEntryCopies, AViewAndItsCopyHoldTheSameEntry) {
  for (int i = 0; i < 8; ++i) {
    const ImportEntry e = varied(i);
    const LoggedEntry view = logged_view(e);
    EXPECT_EQ(view.key.order.data(), e.key.order.data()) << "a view, not a copy";
    const ImportEntry copy = view.entry();
    expect_entry(logged_view(copy), e, "entry " + std::to_string(i));
    EXPECT_NE(copy.remark.data(), e.remark.data());
  }
}

TEST_F(LoggedEntries, ViewsTakenEarlyStayRightWhileTheLogGrowsGroupByGroup) {
  ImportLog log;
  ASSERT_TRUE(log.open(posix_file_system(), log_path(), true).ok());
  std::vector<ImportEntry> all = group(0, 4);
  ASSERT_TRUE(log.append(group(0, 4), true).ok());
  // Copies of the first views: they point into the log's bytes, not into its vector of entries.
  const std::vector<LoggedEntry> early(log.logged().begin(), log.logged().end());
  for (int g = 1; g < 60; ++g) {  // no reserve: the entries move many times
    ASSERT_TRUE(log.append(group(g * 4, 1 + g % 5), g % 2 == 0).ok());
    const std::vector<ImportEntry> added = group(g * 4, 1 + g % 5);
    all.insert(all.end(), added.begin(), added.end());
  }
  for (size_t i = 0; i < early.size(); ++i) expect_entry(early[i], all[i], "early " + std::to_string(i));
  expect_log(log, all, "after the appends");
  // A reader of the file finds the same (the times are whole seconds).
  ImportLog reader;
  ASSERT_TRUE(reader.open(posix_file_system(), log_path(), false).ok());
  expect_log(reader, all, "read back");
  // Views of the reader's bytes outlive appends of the writer to the same file.
  const LoggedEntry read_first = reader.logged()[0];
  ASSERT_TRUE(log.append(group(1000, 3), true).ok());
  expect_entry(read_first, all[0], "reader's first");
}

TEST_F(LoggedEntries, CopiesAskedForBeforeAnAppendFollowItAndAFailedAppendAddsNothing) {
  FaultFileSystem faults(posix_file_system());
  ImportLog log;
  ASSERT_TRUE(log.open(faults, log_path(), true).ok());
  ASSERT_TRUE(log.append(group(0, 2), true).ok());
  const std::vector<ImportEntry>& copies = log.entries();
  ASSERT_EQ(copies.size(), 2u);
  ASSERT_TRUE(log.append(group(2, 3), false).ok());
  const std::vector<ImportEntry> want = group(0, 5);
  ASSERT_EQ(copies.size(), 5u) << "the same vector, kept up to date";
  for (size_t i = 0; i < want.size(); ++i) expect_entry(logged_view(copies[i]), want[i], std::to_string(i));
  faults.fail_nth(FileOp::Write, 1, FileCause::DiskFull);
  EXPECT_FALSE(log.append(group(5, 2), true).ok());
  expect_log(log, want, "after a failed append");
  ImportLog other;
  ASSERT_TRUE(other.open(posix_file_system(), log_path(), false).ok());
  expect_log(other, want, "read back");
}

TEST_F(LoggedEntries, ASecondOpenReadsTheFileAfreshWithNothingLeftOfTheFirst) {
  {
    ImportLog writer;  // three syncs: each append after the first begins with a mark
    ASSERT_TRUE(writer.open(posix_file_system(), log_path(), true).ok());
    ASSERT_TRUE(writer.append(group(0, 6), true).ok());
    ASSERT_TRUE(writer.append(group(6, 1), true).ok());
    ASSERT_TRUE(writer.append(group(7, 1), true).ok());
  }
  ImportLog log;
  ASSERT_TRUE(log.open(posix_file_system(), log_path(), false).ok());
  expect_log(log, group(0, 8), "first open");  // copies made: they must not survive the next open
  // A line below a mark damaged: the next open of the same object fails, a repair drops the line.
  std::string bytes = read_bytes(log_path());
  const std::string bad_line = import_entry_line(varied(2));
  const size_t at = bytes.find(bad_line);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 2] ^= 0x10;
  write_bytes(log_path(), bytes);
  EXPECT_EQ(log.open(posix_file_system(), log_path(), false).code(), StatusCode::Corrupt);
  ASSERT_TRUE(repair_import_log(posix_file_system(), log_path()).ok());
  ASSERT_TRUE(log.open(posix_file_system(), log_path(), false).ok());
  std::vector<ImportEntry> want = group(0, 8);
  want.erase(want.begin() + 2);
  expect_log(log, want, "after the repair");
}

TEST_F(LoggedEntries, ABadEscapeInAnyTextIsNoEntryAndLeavesTheEntriesBeforeItRight) {
  const ImportEntry good = varied(3);  // escaped order
  const std::string fields[] = {"D", "A%09", "2023-03-01 12:30:45", "28.16", "-", "4", "ff", "M", "p",
                                "",  ""};
  for (size_t field : {1u, 7u, 9u, 10u}) {
    for (const std::string& bad : {std::string("%G1"), std::string("x%4"), std::string("%")}) {
      std::vector<std::string> f(std::begin(fields), std::end(fields));
      f[field] = bad;
      const std::string line = checked_line(f);
      ImportEntry e;
      EXPECT_FALSE(parse_import_entry_line(line, &e)) << line;
      // As the last line of a log it is a torn end: dropped, the entry before it read whole.
      write_bytes(log_path(), "kdbtool imports 1\n" + import_entry_line(good) + line);
      ImportLog log;
      ASSERT_TRUE(log.open(posix_file_system(), log_path(), false).ok()) << line;
      expect_log(log, {good}, line);
      EXPECT_EQ(log.torn_bytes(), line.size());
    }
  }
  // The same fields escaped soundly read as their texts.
  std::vector<std::string> f(std::begin(fields), std::end(fields));
  f[9] = "%25%00%0A";
  f[10] = std::string(100, 'x') + "%09";
  ImportEntry e;
  ASSERT_TRUE(parse_import_entry_line(checked_line(f), &e));
  EXPECT_EQ(e.key.order, "A\t");
  EXPECT_EQ(e.channel, std::string("%\0\n", 3));
  EXPECT_EQ(e.remark, std::string(100, 'x') + "\t");
}

}  // namespace
}  // namespace pennacle
