// The process's resident memory, for the benchmarks' memory figures.
#pragma once

#include <unistd.h>

#include <fstream>

namespace pennacle::bench {

// Bytes of this process resident in memory now (/proc/self/statm); 0 when it cannot be read.
inline long long rss_bytes() {
  std::ifstream in("/proc/self/statm");
  long long size = 0, resident = 0;
  in >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace pennacle::bench
