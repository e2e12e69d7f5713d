// Paths of record files, GBK. Walked by characters, so the trail byte of a two-byte character is
// never taken for a '\' separator.
#pragma once

#include <string>
#include <string_view>

namespace pennacle {

// The longest full path a database may have, in bytes.
inline constexpr size_t kMaxPathBytes = 260;

// The full path the store opens for `name`: ".KDB" added when its last component has no extension
// ("data." keeps an empty one), resolved against the current directory, "." and ".." removed, '/'
// and '\' both separators. Empty for a name without a file component, one ending in a separator, a
// result longer than kMaxPathBytes, or a current directory GBK cannot hold.
std::string full_path_of(std::string_view name);

// The file name of a path without its directory and extension ("data" for "dir/data.kdb").
std::string stem_of(std::string_view path);

// The auxiliary file of a record file: its path with the extension (".KDB" when it has none)
// replaced by "KDT".
std::string aux_path_of(std::string_view gbk_file);

}  // namespace pennacle
