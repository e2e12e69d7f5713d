// What the daily backup adds to start-up: the program's start on a ledger of N bills (open the
// record file and fill the offscreen main window's list with the first refresh) with the day's
// snapshot copied first and finished (synced, checked, named) beside the start, against the same
// start without it, alternating in one run. Two lines: the whole start until the list is filled
// (fastest of each kind, medians beside), and the start until the window's handler is done, which
// is what waits for the copy. The target: no more than 100 ms slower at 100,000 bills. Each round
// starts with nothing waiting to be written (as a start on a new day does), the file itself in the
// page cache.
//
//   startup_backup_bench [--records N] [--rounds R] [--dir DIR]   (defaults 100000, 7, the temp dir)
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/ledger.h"
#include "app/window_view.h"
#include "ledger/bill.h"
#include "runtime/convert.h"
#include "store/backup.h"
#include "store/record_store.h"
#include "ui/main_window_template.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Bills over two years ending now, both sides; three in four with a remark (a chain each). Stored
// in groups of 1000, as kdbtool import stores them.
bool make_ledger(const std::string& kdb, int n) {
  constexpr int kGroup = 1000;
  if (create_database(kdb, bill_table_fields()) != DbCode::Ok) return false;
  const Text path(kdb), method("微信");
  if (!call_command(db_open, {path.value()}).lo) return false;
  const double now = current_date_time();
  for (int from = 0; from < n; from += kGroup) {
    std::vector<Text> texts;  // the rows' texts live until the group is stored
    std::vector<std::vector<Value>> rows;
    texts.reserve(2 * kGroup);
    for (int i = from; i < std::min(n, from + kGroup); ++i) {
      texts.emplace_back(i % 3 ? "支出" : "收入");
      texts.emplace_back(i % 4 ? "备注" + std::to_string(i) : std::string());
      rows.push_back({Value::of_double(i + 1.0), texts[texts.size() - 2].value(),
                      Value::of_double(1 + (i % 997) * 0.25), method.value(),
                      Value::of_date_time(now - (i % 730)), texts.back().value()});
    }
    if (db_append_rows(rows) != DbCode::Ok) return false;
  }
  call_command(db_close, {});
  return true;
}

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The start: open the ledger as MainWindow_Created does and run the first refresh to its end.
// `ready` receives the moment the window's handler is done (the list fills after it).
bool start_up(const std::string& kdb, Clock::time_point* ready) {
  const Text path(kdb);
  if (!call_command(db_open, {path.value()}).lo || !start_refresh()) return false;
  *ready = Clock::now();
  wait_for_refreshes();
  QCoreApplication::processEvents();
  call_command(db_close, {});
  return true;
}

int run(int n, int rounds, const fs::path& parent) {
  const fs::path dir = parent / ("startup_backup_bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string kdb = (dir / "data.kdb").string();
  if (!make_ledger(kdb, n)) {
    std::fprintf(stderr, "startup_backup_bench: cannot make %s\n", kdb.c_str());
    return 1;
  }
  MainWindowView view;
  start_ledger_window_runtime();
  create_ledger_state();
  set_ledger_view(&view);
  set_ledger_directory_for_test(dir.string());
  if (!load_window(kMainWindowId)) return std::fprintf(stderr, "startup_backup_bench: no main window\n"), 1;
  wait_for_refreshes();
  call_command(db_close, {});

  std::vector<double> plain, with_backup, ready_plain, ready_with, copy_ms, finish_ms;
  for (int r = 0; r < rounds * 2; ++r) {
    const bool backup = (r % 2 == 0) == (r / 2 % 2 == 0);  // ABBA: neither side always runs first
    std::error_code ec;
    fs::remove_all(dir / "backups", ec);
    // A start finds the disk quiet: yesterday's writes are long on it.
    ::sync();
    const Clock::time_point t0 = Clock::now();
    // As the program does it: the copy before the ledger opens, the rest beside the start.
    StartBackup start;
    std::thread finisher;
    DailyBackupResult finished;
    if (backup) {
      if (!start.begin(kdb, std::time(nullptr))) {
        std::fprintf(stderr, "startup_backup_bench: the backup failed: %s\n", start.result().message.c_str());
        return 1;
      }
      copy_ms.push_back(ms_since(t0));
      finisher = std::thread([&] {
        const Clock::time_point f0 = Clock::now();
        finished = start.finish();
        finish_ms.push_back(ms_since(f0));
      });
    }
    Clock::time_point ready;
    if (!start_up(kdb, &ready))
      return std::fprintf(stderr, "startup_backup_bench: the ledger does not open\n"), 1;
    (backup ? with_backup : plain).push_back(ms_since(t0));
    (backup ? ready_with : ready_plain)
        .push_back(std::chrono::duration<double, std::milli>(ready - t0).count());
    if (finisher.joinable()) finisher.join();
    if (backup && (finished.status != DailyBackup::Taken || !finished.message.empty())) {
      std::fprintf(stderr, "startup_backup_bench: the backup failed: %s\n", finished.message.c_str());
      return 1;
    }
  }
  // The fastest start of each kind: a machine busy with other work slows single rounds by more than
  // the backup costs. The medians follow for comparison.
  const double ours = *std::min_element(with_backup.begin(), with_backup.end());
  const double peer = *std::min_element(plain.begin(), plain.end());
  std::printf(
      "BENCH startup_%d_bills_with_daily_backup ours_ms=%.1f peer=startup_without_backup peer_ms=%.1f "
      "diff_ms=%.1f ratio=%.3f target_diff_ms=100 median_ours_ms=%.1f median_peer_ms=%.1f "
      "copy_before_window_ms=%.1f finish_beside_start_ms=%.1f\n",
      n, ours, peer, ours - peer, ours / peer, median(with_backup), median(plain), median(copy_ms),
      median(finish_ms));
  // Until the window's handler is done, before the list is filled: the part the copy delays.
  std::printf(
      "BENCH startup_%d_bills_window_ready_with_daily_backup ours_ms=%.1f peer=window_ready_without_backup "
      "peer_ms=%.1f diff_ms=%.1f ratio=%.3f target_diff_ms=100\n",
      n, median(ready_with), median(ready_plain), median(ready_with) - median(ready_plain),
      median(ready_with) / median(ready_plain));
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}

}  // namespace
}  // namespace pennacle

int main(int argc, char** argv) {
  int n = 100000, rounds = 7;
  std::filesystem::path dir = std::filesystem::temp_directory_path();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) {
      n = std::max(0, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
      dir = argv[++i];
    } else {
      std::fprintf(stderr, "usage: startup_backup_bench [--records N] [--rounds R] [--dir DIR]\n");
      return 2;
    }
  }
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  return pennacle::run(n, rounds, dir);
}
