// kdbtool's default FILE: a command that takes the ledger's FILE and is given none works on the
// ledger Pennacle opens (ledger/ledger_location.h), so a packaged install needs no path typed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ledger/ledger_location.h"
#include "platform/status.h"

namespace pennacle {

struct DefaultLedger {
  std::vector<std::string> args;         // the command's arguments with the ledger filled in
  std::optional<LedgerLocation> ledger;  // set when it was filled in
};

// `args` (after the command name) with the default ledger's path put where `command` takes its
// FILE and none was given: first for create, check, export, report, backup, backups, trash,
// categorize, categories, import --repair-log, import EXPORT, undelete SERIAL, edit SERIAL and
// category SERIAL NAME; last for restore SNAPSHOT. Help requests and other
// commands pass unchanged. Fails only when the ledger is needed and its place cannot be told.
Result<DefaultLedger> with_default_ledger(const std::string& command, std::vector<std::string> args);

}  // namespace pennacle
