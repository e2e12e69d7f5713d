// kdbtool: makes, checks, exports and fills record files from the terminal and scripts. UTF-8 on
// the terminal and in CSV; GBK inside the files.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/status.h"

namespace pennacle {

// Runs one command line (without the program name). Returns the exit status: 0 on success,
// 1 with a message on `err` otherwise.
int kdbtool_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace pennacle
