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

}  // namespace pennacle
