// kdbtool edit: fixes one bill in place. Takes the arguments after the command name and returns the
// exit status (0 on success, 1 with a message on `err`).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace pennacle {

int kdbtool_edit(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace pennacle
