// kdbtool: makes, checks, exports and fills record files from the terminal and scripts. UTF-8 on
// the terminal and in CSV; GBK inside the files.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/status.h"

namespace pennacle {

// The bytes of the file or pipe `path` names, counted as they arrive: Invalid, naming the path,
// when it is a directory or a device, cannot be read, or holds more than `limit` bytes.
Result<std::string> read_export_input(const std::string& path, size_t limit);

// Runs one command line (without the program name). Returns the exit status: 0 on success,
// 1 with a message on `err` otherwise.
int kdbtool_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace pennacle
