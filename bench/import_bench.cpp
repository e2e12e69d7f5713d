// kdbtool import of an Alipay export against SQLite storing the same bills, measured in one run:
//   import_first  an export of N rows into an empty ledger      vs SQLite inserts of the same N
//   import_again  the same export again: every bill already there  bills in transactions of 1000,
//                                                                 synchronous=FULL
// One line per figure: BENCH <figure> ours_ns=<total> peer=<name> peer_ns=<total> ratio=<ours/peer>
//
//   import_bench [--records N]
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/export_rows.h"
#include "ledger/bill.h"
#include "ledger/import/export_samples.h"
#include "store/record_store.h"
#include "tools/kdbtool.h"

using namespace pennacle;
namespace fs = std::filesystem;

namespace {

double now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

void die(const std::string& what) {
  std::fprintf(stderr, "import_bench: %s\n", what.c_str());
  std::exit(1);
}

void report(const char* figure, double ours, const char* peer, double theirs) {
  std::printf("BENCH %s ours_ns=%.0f peer=%s peer_ns=%.0f ratio=%.3f\n", figure, ours, peer, theirs,
              ours / theirs);
  std::fflush(stdout);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) die("cannot write " + path);
}

double time_import(const std::string& kdb, const std::string& export_path, const char* expect) {
  std::ostringstream out, err;
  const double t0 = now_ns();
  if (kdbtool_main({"import", kdb, export_path}, out, err) != 0) die("import: " + err.str());
  const double ns = now_ns() - t0;
  if (out.str().find(expect) == std::string::npos) die("import printed: " + out.str());
  return ns;
}

void sql(sqlite3* db, const char* s) {
  char* msg = nullptr;
  if (sqlite3_exec(db, s, nullptr, nullptr, &msg) != SQLITE_OK)
    die(std::string("sqlite: ") + (msg ? msg : s));
}

// The same bills into SQLite, 1000 to a transaction, each transaction on the disk at its commit.
double time_sqlite(const std::string& path, const std::vector<testing::SampleRow>& rows) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) die("sqlite open");
  sql(db, "PRAGMA synchronous=FULL");
  sql(db,
      "CREATE TABLE bills(n REAL, type TEXT, amount REAL, channel TEXT, time TEXT, remark TEXT, "
      "trade TEXT)");
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO bills VALUES(?,?,?,?,?,?,?)", -1, &ins, nullptr);
  const double t0 = now_ns();
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i % 1000 == 0) sql(db, "BEGIN");
    const std::string remark = rows[i].counterpart + " · " + rows[i].goods;
    sqlite3_bind_double(ins, 1, static_cast<double>(i + 1));
    sqlite3_bind_text(ins, 2, rows[i].direction.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_double(ins, 3, std::atof(rows[i].amount.c_str()));
    sqlite3_bind_text(ins, 4, "支付宝", -1, SQLITE_STATIC);
    sqlite3_bind_text(ins, 5, rows[i].time.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(ins, 6, remark.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(ins, 7, rows[i].order.c_str(), -1, SQLITE_STATIC);
    if (sqlite3_step(ins) != SQLITE_DONE) die("sqlite insert");
    sqlite3_reset(ins);
    if (i % 1000 == 999 || i + 1 == rows.size()) sql(db, "COMMIT");
  }
  const double ns = now_ns() - t0;
  sqlite3_finalize(ins);
  sqlite3_close(db);
  return ns;
}

}  // namespace

int main(int argc, char** argv) {
  int n = 100000;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) {
      n = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: import_bench [--records N]\n");
      return 2;
    }
  }
  if (n < 1) die("--records must be at least 1");
  char tmpl[] = "/var/tmp/import_bench_XXXXXX";
  if (!mkdtemp(tmpl)) die("cannot make a directory");
  const std::string dir = tmpl;
  std::vector<testing::SampleRow> rows;
  rows.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) rows.push_back(bench::export_row(i));
  const std::string export_path = dir + "/alipay.csv", kdb = dir + "/data.kdb";
  write_file(export_path, testing::alipay_2023_csv(rows));
  if (create_database(kdb, bill_table_fields()) != DbCode::Ok) die("cannot create the ledger");
  const std::string added = "added " + std::to_string(n) + ",";
  const double first = time_import(kdb, export_path, added.c_str());
  const double again = time_import(kdb, export_path, "added 0,");
  const double peer = time_sqlite(dir + "/peer.sqlite", rows);
  std::printf("import_bench: %d rows\n", n);
  report("import_first", first, "sqlite_full_1000", peer);
  report("import_again", again, "sqlite_full_1000", peer);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
