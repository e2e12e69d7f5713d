// The program entry: the window runtime, the program-wide state, the exit routine, the skin
// engine, the main window and its message loop.
#include <cstdio>
#include <ctime>
#include <thread>

#include "app/ledger.h"
#include "app/skins.h"
#include "app/window_view.h"
#include "ledger/ledger_location.h"
#include "runtime/program_end.h"
#include "store/backup.h"
#include "ui/main_window_template.h"
#include "ui/window_runtime.h"

namespace {

pennacle::MainWindowView g_view;

// One snapshot a day of the ledger: copied before the window opens the ledger, then synced, named
// and rotated beside the running program. The exit routine waits for that second half. A failure
// never stops the program: it is one line on stderr.
pennacle::StartBackup g_backup;
std::thread g_backup_finisher;

void report_backup(const pennacle::DailyBackupResult& r) {
  if (!r.message.empty()) std::fprintf(stderr, "pennacle: daily backup: %s\n", r.message.c_str());
}

void take_daily_backup() {
  if (!g_backup.begin(pennacle::ledger_data_path(), std::time(nullptr)))
    return report_backup(g_backup.result());
  g_backup_finisher = std::thread([] { report_backup(g_backup.finish()); });
}

// A packaged program keeps the ledger in the user's data directory, where nothing installed one:
// the first start makes an empty ledger there and says so (only then, so once). Beside the
// program nothing is made: the install did that. A failure is one line on stderr; the window's
// open then fails with its own box.
void first_start_ledger() {
  const pennacle::Result<pennacle::LedgerLocation> where = pennacle::ledger_location();
  const pennacle::Result<bool> made =
      where.ok() ? pennacle::make_first_ledger(*where) : pennacle::Result<bool>(where.status());
  if (!made.ok()) {
    std::fprintf(stderr, "pennacle: %s\n", made.status().message().c_str());
  } else if (*made) {
    std::fprintf(stderr, "pennacle: made an empty ledger: %s (snapshots go to %s/backups/)\n",
                 where->file.c_str(), where->dir.c_str());
  }
}

void exit_routine() {
  if (g_backup_finisher.joinable()) g_backup_finisher.join();
  pennacle::release_skin_engine();
  pennacle::release_ledger_state();
}

}  // namespace

int main() {
  using namespace pennacle;
  start_ledger_window_runtime();
  create_skin_engine();
  create_ledger_state();
  register_exit_routine(exit_routine);
  StartUp();
  set_ledger_view(&g_view);
  first_start_ledger();
  take_daily_backup();
  load_start_window(kMainWindowId);
  run_message_loop();
  end_program(0);
}
