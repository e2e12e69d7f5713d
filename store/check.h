// A read-only audit of a record file and its auxiliary file, for kdbtool check.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pennacle {

struct CheckReport {
  bool sound = true;
  // What was found, one line each, UTF-8. Lines starting "error:" make the file unsound; "note:"
  // lines are harmless leftovers (a partial record, leaked blocks) the store copes with.
  std::vector<std::string> lines;
  int32_t records = 0, live = 0, deleted = 0;
  int32_t blocks = 0, free_blocks = 0, chain_blocks = 0;
};

// Opens the database read-only with the program's locks, walks every record, chain and the free
// list, and closes it again. Nothing is written.
CheckReport check_database(std::string_view gbk_path);

}  // namespace pennacle
