// The program entry: the window runtime, the program-wide state, the exit routine, the skin
// engine, the main window and its message loop.
#include "app/ledger.h"
#include "app/skins.h"
#include "app/window_view.h"
#include "runtime/program_end.h"
#include "ui/main_window_template.h"
#include "ui/window_runtime.h"

namespace {

pennacle::MainWindowView g_view;

void exit_routine() {
  pennacle::ReleaseSkinEngine();
  pennacle::ReleaseLedgerState();
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
  load_start_window(kMainWindowId);
  run_message_loop();
  end_program(0);
}
