// What kdbtool's tests share: a store test that runs command lines and keeps what they print.
#pragma once

#include <sstream>
#include <string>
#include <vector>

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

}  // namespace pennacle::testing
