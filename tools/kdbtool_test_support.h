// What kdbtool's tests share: a store test that runs command lines and keeps what they print.
#pragma once

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ledger/bin_ledger.h"
#include "ledger/import/bill_csv.h"
#include "ledger/import/export_samples.h"  // u8: literals in the tests are GBK, the tool speaks UTF-8
#include "store/test_support.h"
#include "tools/kdbtool.h"

namespace pennacle::testing {

// The records of CSV text that must read (a failure is the test's).
inline std::vector<CsvRecord> csv_records(std::string_view text) {
  Result<std::vector<CsvRecord>> rows = parse_csv(text);
  EXPECT_TRUE(rows.ok()) << rows.status().message();
  return rows.ok() ? std::move(*rows) : std::vector<CsvRecord>{};
}

class KdbtoolTest : public StoreTest {
 protected:
  // Runs one command line; what it printed is in out_ and err_.
  int run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return kdbtool_main(args, out_, err_);
  }
  std::ostringstream out_, err_;
};

// A store test that imports exports into ledgers it makes and reads their bills back.
class ImportTest : public KdbtoolTest {
 protected:
  std::string make_ledger(const std::string& name = "data.kdb") {
    const std::string db = path(name);
    EXPECT_EQ(run({"create", db}), 0) << err_.str();
    return db;
  }
  std::string write_export(const std::string& name, const std::string& bytes) {
    write_bytes(path(name), bytes);
    return path(name);
  }
  // The bills `kdbtool export` shows, one CSV line each without the running number and without the
  // last column, 分类 (UTF-8; categories_of gives that column).
  std::vector<std::string> bills(const std::string& db) {
    std::vector<std::string> lines;
    for (const std::string& line : export_lines(db)) {
      const size_t category = line.rfind(',');  // no category these tests give holds a comma
      lines.push_back(line.substr(0, category) + (line.back() == '\r' ? "\r" : ""));
    }
    return lines;
  }
  // The 分类 cell of each bill `kdbtool export` shows, in its order (UTF-8).
  std::vector<std::string> categories_of(const std::string& db) {
    std::vector<std::string> cells;
    for (std::string line : export_lines(db)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      cells.push_back(line.substr(line.rfind(',') + 1));
    }
    return cells;
  }
  // The lines of `kdbtool export` after the header, without the running number.
  std::vector<std::string> export_lines(const std::string& db) {
    EXPECT_EQ(run({"export", db}), 0) << err_.str();
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    std::string line;
    std::getline(in, line);  // the header
    EXPECT_NE(line.find(u8(",分类")), std::string::npos) << line;
    while (std::getline(in, line)) lines.push_back(line.substr(line.find(',') + 1));
    return lines;
  }
  // Deletes the bill with `serial` as the window does, at `deleted_at` plus the record's place in the
  // file (days), so that bills deleted one after another are apart in the bin.
  void delete_serial(const std::string& db, int32_t serial, double deleted_at) {
    ASSERT_TRUE(open_db(db));
    const int32_t count = record_count();
    call_command(db_go_first, {});
    Status deleted = Status::not_found("no record has serial " + std::to_string(serial));
    for (int32_t k = 0; k < count; ++k, call_command(db_skip, {})) {
      int32_t s = 0;
      if (db_current_serial(&s) == DbCode::Ok && s == serial) {
        deleted = delete_current_bill(posix_file_system(), deleted_at + k);
        break;
      }
    }
    close_db();
    ASSERT_TRUE(deleted.ok()) << deleted.message();
  }
  void expect_each_once(const std::string& db, const std::vector<std::string>& want) {
    std::vector<std::string> got = bills(db);
    std::multiset<std::string> a(got.begin(), got.end()), b(want.begin(), want.end());
    EXPECT_EQ(a, b);
  }
};

}  // namespace pennacle::testing
