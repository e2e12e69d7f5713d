// Where the ledger lives when no file is named: the window program opens it, and kdbtool uses it
// for a command given no FILE. One rule for both, checked in this order:
//
//   PENNACLE_HOME set and not empty   -> $PENNACLE_HOME/data.kdb
//   the program directory is writable -> <program directory>/data.kdb (the per-user install)
//   otherwise (a packaged program)    -> $XDG_DATA_HOME/pennacle/data.kdb, where an unset, empty or
//                                        relative XDG_DATA_HOME stands for $HOME/.local/share
//
// The ledger's side files (data.KDT, the import log, backups/) lie beside it, as for every record
// file. Messages are ASCII with the paths in UTF-8: both programs print them on a terminal.
#pragma once

#include <optional>
#include <string>

#include "platform/status.h"

namespace pennacle {

// What the rule reads from the running process.
struct LedgerEnvironment {
  std::string program_dir;  // UTF-8, no trailing '/'; "" is the root directory
  bool program_dir_writable = false;
  std::optional<std::string> pennacle_home;  // the variables, when set
  std::optional<std::string> xdg_data_home;
  std::optional<std::string> home;
};

struct LedgerLocation {
  std::string dir;       // UTF-8, no trailing '/' ("" only for the root directory)
  std::string file;      // dir + "/data.kdb", UTF-8
  std::string file_gbk;  // the same path in GBK, as the store takes it
  // Not beside the program: the packaged program's per-user data directory (or PENNACLE_HOME's).
  // Only there does a start make the first ledger.
  bool beside_program = false;
};

// The rule above on `env`. Invalid when PENNACLE_HOME is relative, when neither XDG_DATA_HOME nor
// HOME gives an absolute directory, or when GBK cannot hold the path.
Result<LedgerLocation> ledger_location_in(const LedgerEnvironment& env);

// The running program's environment: its directory from /proc/self/exe, whether this user may
// write there, and the three variables.
Result<LedgerEnvironment> current_ledger_environment();

// ledger_location_in(current_ledger_environment()).
Result<LedgerLocation> ledger_location();

// Makes the ledger's directory and any missing parents (mode 0700: a ledger is private).
Status make_ledger_directory(const LedgerLocation& where);

// The first start of a program whose ledger is not beside it: when there is no ledger yet, makes
// its directory and an empty one. True when it made one, false when there was one already or the
// ledger lives beside the program (that install makes its ledger when it installs). A restore cut
// short (data.kdb.restoring) makes nothing: Invalid, naming the command that finishes it.
Result<bool> make_first_ledger(const LedgerLocation& where);

}  // namespace pennacle
