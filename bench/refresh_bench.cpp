// One full refresh of the record list as the program runs it (store walk, list commands, period
// sums, status panes) in an offscreen main window, against the same bills read from SQLite and
// given to the same list commands with the same sums. Also the memory the shown rows take above
// the empty window.
//
//   refresh_bench [--records N] [--mode alone|full|shared]      (default 100000, alone;
//                                                                 bench/store_mode.h)
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/date_format.h"
#include "app/ledger.h"
#include "app/window_view.h"
#include "bench/resident_memory.h"
#include "bench/store_mode.h"
#include "ledger/bill.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "store/record_store.h"
#include "ui/main_window_template.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Bill {
  const char* type;
  double amount;
  const char* method;
  double time;
  std::string remark;
};

// The bills: a spread of dates over two years ending now, both sides, a few channels.
Bill bill(int i, double now) {
  static const char* methods[] = {"支付宝", "微信", "股票", "基金", "QQ钱包", "银行卡"};
  return {i % 3 ? "支出" : "收入", 1 + (i % 997) * 0.25, methods[i % 6],
          now - (i % 730) - (i % 86400) / 86400.0, i % 4 ? "备注" + std::to_string(i) : std::string()};
}

bool make_files(const fs::path& dir, int n, double now) {
  const std::string kdb = (dir / "data.kdb").string();
  if (create_database(kdb, bill_table_fields()) != DbCode::Ok) return false;
  const Text path(kdb);
  if (!call_command(db_open, {path.value()}).lo) return false;
  sqlite3* db = nullptr;
  if (sqlite3_open((dir / "peer.sqlite").string().c_str(), &db) != SQLITE_OK) return false;
  sqlite3_exec(
      db,
      "PRAGMA synchronous=OFF; CREATE TABLE bills(n REAL, type TEXT, amount REAL, method TEXT, time REAL, "
      "remark TEXT); BEGIN;",
      nullptr, nullptr, nullptr);
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO bills VALUES(?,?,?,?,?,?)", -1, &ins, nullptr);
  // The bills go in groups of 1000, as kdbtool import stores them: one pair of syncs a group.
  std::vector<Text> texts;
  std::vector<std::vector<Value>> rows;
  for (int i = 0; i < n; ++i) {
    const Bill b = bill(i, now);
    texts.emplace_back(b.type);
    const Value type = texts.back().value();
    texts.emplace_back(b.method);
    const Value method = texts.back().value();
    texts.emplace_back(b.remark);
    rows.push_back({Value::of_double(i + 1.0), type, Value::of_double(b.amount), method,
                    Value::of_date_time(b.time), texts.back().value()});
    if (rows.size() == 1000 || i + 1 == n) {
      if (db_append_rows(rows) != DbCode::Ok) return false;
      rows.clear();
      texts.clear();
    }
    sqlite3_bind_double(ins, 1, i + 1.0);
    sqlite3_bind_text(ins, 2, b.type, -1, SQLITE_STATIC);
    sqlite3_bind_double(ins, 3, b.amount);
    sqlite3_bind_text(ins, 4, b.method, -1, SQLITE_STATIC);
    sqlite3_bind_double(ins, 5, b.time);
    sqlite3_bind_text(ins, 6, b.remark.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(ins);
    sqlite3_reset(ins);
  }
  sqlite3_finalize(ins);
  sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  call_command(db_close, {});
  return true;
}

// The peer: the bills from SQLite into the same list commands, with the same sums and panes.
PeriodCounts peer_refresh(LedgerView& view, const fs::path& dir) {
  sqlite3* db = nullptr;
  sqlite3_open((dir / "peer.sqlite").string().c_str(), &db);
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db, "SELECT type, amount, method, time, remark FROM bills ORDER BY rowid", -1, &q,
                     nullptr);
  view.list_clear();
  PeriodTotals t;
  PeriodCounts c;
  while (sqlite3_step(q) == SQLITE_ROW) {
    const int32_t r = view.list_insert_row();
    view.list_set_cell_text(r, 0, double_to_text(r + 1.0));
    const std::string_view type(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)));
    const double amount = sqlite3_column_double(q, 1);
    const std::string_view method(reinterpret_cast<const char*>(sqlite3_column_text(q, 2)));
    const double time = sqlite3_column_double(q, 3);
    const unsigned char* remark = sqlite3_column_text(q, 4);
    const bool expense = type == "支出";
    const Value tv = Value::of_date_time(time);
    if (FormatDateTime(time, 2, 1).view() == FormatDateTime(std::nullopt, 2, 1).view()) {
      ++c.todayCount;
      (expense ? t.todayExpense : t.todayIncome) += amount;
    }
    const bool year = call_command(year_of, {tv}).int_payload() ==
                      call_command(year_of, {call_command(now, {})}).int_payload();
    if (year) {
      ++c.yearCount;
      (expense ? t.yearExpense : t.yearIncome) += amount;
    }
    if (year &&
        call_command(year_of, {tv}).int_payload() ==
            call_command(year_of, {call_command(now, {})}).int_payload() &&
        call_command(month_of, {tv}).int_payload() ==
            call_command(month_of, {call_command(now, {})}).int_payload()) {
      ++c.monthCount;
      (expense ? t.monthExpense : t.monthIncome) += amount;
    }
    view.list_set_cell_text(r, 1, type);
    view.list_set_cell_text(r, 2, value_to_text(Value::of_double(amount)));
    view.list_set_cell_text(r, 3, method);
    view.list_set_cell_text(r, 4, value_to_text(tv));
    view.list_set_cell_text(r, 5, remark ? reinterpret_cast<const char*>(remark) : "");
  }
  view.set_status_pane(1, double_to_text(c.todayCount));
  view.set_status_pane(3, double_to_text(c.monthCount));
  view.set_status_pane(5, double_to_text(c.yearCount));
  sqlite3_finalize(q);
  sqlite3_close(db);
  return c;
}

void settle() {
  wait_for_refreshes();
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

int run(int n, bench::StoreMode mode) {
  const fs::path base = fs::temp_directory_path() / ("refresh_bench-" + std::to_string(getpid()));
  const fs::path empty = base / "empty", full = base / "full";
  fs::create_directories(empty);
  fs::create_directories(full);
  const double now_value = current_date_time();
  if (create_database((empty / "data.kdb").string(), bill_table_fields()) != DbCode::Ok ||
      !make_files(full, n, now_value)) {
    std::fprintf(stderr, "refresh_bench: cannot make the files in %s\n", base.c_str());
    return 1;
  }

  bench::apply_mode(mode);
  bench::SecondOpener second(mode);
  MainWindowView view;
  start_ledger_window_runtime();
  create_ledger_state();
  set_ledger_view(&view);
  set_ledger_directory_for_test(empty.string());
  if (!load_window(kMainWindowId)) {
    std::fprintf(stderr, "refresh_bench: the main window does not load\n");
    return 1;
  }
  settle();
  const long long empty_rss = bench::rss_bytes();

  // The full file becomes the current database, as if the program had started on it.
  call_command(db_close, {});
  const Text path((full / "data.kdb").string());
  second.hold((full / "data.kdb").string());
  call_command(db_open, {path.value()});

  long long ours = 0, peer = 0, rows_rss = 0;
  PeriodCounts ours_counts, peer_counts;
  for (int round = 0; round < 3; ++round) {
    auto t0 = Clock::now();
    if (!start_refresh()) {
      std::fprintf(stderr, "refresh_bench: no thread for the refresh\n");
      return 1;
    }
    wait_for_refreshes();
    auto t1 = Clock::now();
    ours_counts = last_period_counts();
    QCoreApplication::processEvents();
    if (round == 0) rows_rss = bench::rss_bytes() - empty_rss;
    const long long o = std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count();
    ours = round == 0 ? o : std::min(ours, o);

    t0 = Clock::now();
    peer_counts = peer_refresh(view, full);
    t1 = Clock::now();
    QCoreApplication::processEvents();
    const long long p = std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count();
    peer = round == 0 ? p : std::min(peer, p);
  }
  if (ours_counts.yearCount != peer_counts.yearCount || ours_counts.todayCount != peer_counts.todayCount) {
    std::fprintf(stderr, "refresh_bench: the two refreshes disagree\n");
    return 1;
  }
  const double per = n > 0 ? n : 1;
  std::printf("BENCH mode %s alone=%d\n", bench::mode_name(mode), db_current_alone() ? 1 : 0);
  std::printf("BENCH refresh_%d_rows ours_ns=%.0f peer=sqlite_same_list_and_sums peer_ns=%.0f ratio=%.3f\n",
              n, ours / per, peer / per, static_cast<double>(ours) / static_cast<double>(peer));
  const double mb = rows_rss / (1024.0 * 1024.0);
  std::printf("BENCH refresh_%d_rows_memory ours_mb=%.1f peer=limit peer_mb=60.0 ratio=%.3f\n", n, mb,
              mb / 60.0);
  call_command(db_close, {});
  std::error_code ec;
  fs::remove_all(base, ec);
  return 0;
}

}  // namespace
}  // namespace pennacle

int main(int argc, char** argv) {
  int n = 100000;
  pennacle::bench::StoreMode mode = pennacle::bench::StoreMode::Alone;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) {
      n = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--mode") == 0 && i + 1 < argc) {
      mode = pennacle::bench::parse_mode(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: refresh_bench [--records N] [--mode alone|full|shared]\n");
      return 2;
    }
  }
  if (n < 0) n = 0;
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  return pennacle::run(n, mode);
}
