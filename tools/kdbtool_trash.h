// kdbtool's recycle bin commands: trash and undelete. Each takes the arguments after the command name
// and returns the exit status (0 on success, 1 with a message on `err`).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace pennacle {

int kdbtool_trash(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int kdbtool_undelete(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace pennacle
