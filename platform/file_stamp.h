// What a file looks like from outside (which file it is, its size, its last change), to tell
// cheaply whether it changed since it was last read, whoever changed it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string_view>

namespace pennacle {

struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t modified_ns = 0;  // last change of the contents
  int64_t changed_ns = 0;   // last change of the contents or of the entry (a rename over it)
  bool operator==(const FileStamp&) const = default;
};

// The file system stamps changes with a clock that advances in ticks of a few milliseconds: two
// changes in one tick can carry the same time. A stamp taken at least this long after the file's
// last change is therefore different from any stamp after a later change.
inline constexpr int64_t kStampTickNs = 20'000'000;

// The stamp of `gbk_path`, taken once its last change is at least kStampTickNs old (waiting up to
// that long); a file that cannot be looked at gives a stamp that does not exist.
FileStamp settled_file_stamp(std::string_view gbk_path);

}  // namespace pennacle
