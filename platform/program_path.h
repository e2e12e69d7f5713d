// Where the program file lives, as the kernel reports it, and the current directory.
#pragma once

#include <string>
#include <string_view>

namespace pennacle {

// A directory in both encodings: UTF-8 for the file system, GBK for the program's own texts.
struct ProgramDirectory {
  bool ok = false;
  std::string utf8;   // no trailing '/'; "" for the root directory
  std::string gbk;    // the same path in GBK
  std::string error;  // GBK, when !ok
};

// The directory part of a UTF-8 program path: everything before its last '/' ("" when there is no
// '/' or only the leading one). Fails clearly when GBK cannot hold the path.
ProgramDirectory program_directory_of(std::string_view utf8_path);

// The directory of the running program, from /proc/self/exe.
ProgramDirectory read_program_directory();

// Makes a UTF-8 directory ("" is the root) the current directory. On failure `error` (GBK) says
// why and false is returned.
[[nodiscard]] bool set_current_directory(std::string_view utf8_dir, std::string& error);

}  // namespace pennacle
