// The program entry: the window runtime, the program-wide state, the exit routine, the skin
// engine, the main window and its message loop.
#include <cstdio>
#include <ctime>

#include "app/ledger.h"
#include "app/skins.h"
#include "app/window_view.h"
#include "runtime/program_end.h"
#include "store/backup.h"
#include "ui/main_window_template.h"
#include "ui/window_runtime.h"

namespace {

pennacle::MainWindowView g_view;

void exit_routine() {
  pennacle::ReleaseSkinEngine();
  pennacle::ReleaseLedgerState();
}

// One snapshot a day of the ledger, taken before the window opens it. A failure never stops the
// program: it is one line on stderr.
void take_daily_backup() {
  const pennacle::DailyBackupResult r =
      pennacle::daily_backup(pennacle::ledger_data_path(), std::time(nullptr));
  if (!r.message.empty()) std::fprintf(stderr, "pennacle: daily backup: %s\n", r.message.c_str());
}

}  // namespace

int main() {
  using namespace pennacle;
  start_ledger_window_runtime();
  CreateSkinEngine();
  CreateLedgerState();
  register_exit_routine(exit_routine);
  StartUp();
  set_ledger_view(&g_view);
  take_daily_backup();
  load_start_window(kMainWindowId);
  run_message_loop();
  end_program(0);
}
