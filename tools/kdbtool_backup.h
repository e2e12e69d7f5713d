// kdbtool's snapshot commands: backup, restore and backups. Each takes the arguments after the
// command name and returns the exit status (0 on success, 1 with a message on `err`).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace pennacle {

int kdbtool_backup(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int kdbtool_restore(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int kdbtool_backups(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Run before every command: when an argument names a record file that is missing because a restore
// was cut short, says so on `err` with the command that finishes it. Returns 1 to stop the command,
// 0 to go on: restore goes on silently (it finishes the work), backups goes on after the message
// (it lists the snapshot to restore), help goes on.
int stop_after_interrupted_restore(const std::string& command, const std::vector<std::string>& args,
                                   std::ostream& err);

}  // namespace pennacle
