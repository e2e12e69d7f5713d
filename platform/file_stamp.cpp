#include "platform/file_stamp.h"

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <optional>
#include <string>

#include "platform/gbk.h"

namespace pennacle {
namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;

int64_t ns_of(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * kNsPerSecond + t.tv_nsec; }

FileStamp stamp_of(const std::string& utf8_path) {
  struct stat st {};
  if (::stat(utf8_path.c_str(), &st) != 0) return {};
  return {true, st.st_dev, st.st_ino, st.st_size, ns_of(st.st_mtim), ns_of(st.st_ctim)};
}

int64_t now_ns() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return ns_of(t);
}

}  // namespace

FileStamp settled_file_stamp(std::string_view gbk_path) {
  const std::optional<std::string> path = gbk_to_utf8(gbk_path);
  if (!path || path->empty()) return {};
  // A file changed again while we waited is looked at again; one changed without pause for longer
  // is stamped as it is then, and its writer's next change is seen by the next look.
  constexpr int kLooks = 5;
  FileStamp stamp = stamp_of(*path);
  for (int look = 1; look < kLooks && stamp.exists; ++look) {
    const int64_t age = now_ns() - std::max(stamp.modified_ns, stamp.changed_ns);
    if (age >= kStampTickNs || age < 0) break;  // settled, or a clock set back: nothing to wait for
    const timespec rest{0, static_cast<long>(kStampTickNs - age)};
    nanosleep(&rest, nullptr);
    stamp = stamp_of(*path);
  }
  return stamp;
}

}  // namespace pennacle
