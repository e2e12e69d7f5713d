#include "loader/host_code_runner.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <map>

#include "platform/mutex.h"

namespace pennacle {
namespace {

constinit Mutex g_mutex;
std::map<Word, Word> g_regions GUARDED_BY(g_mutex);  // base -> size

// True when [address, address + n) lies inside one registered region.
bool readable(Word address, Word n) REQUIRES(g_mutex) {
  g_mutex.assert_held();
  auto it = g_regions.upper_bound(address);
  if (it == g_regions.begin()) return false;
  --it;
  const Word offset = address - it->first;
  return offset < it->second && n <= it->second - offset;
}

}  // namespace

void add_code_region(Word base, Word size) {
  assert(size > 0);
  MutexLock lock(g_mutex);
  g_regions[base] = size;
}

void remove_code_region(Word base) {
  MutexLock lock(g_mutex);
  g_regions.erase(base);
}

uint32_t CallExport(Word code, std::initializer_list<Word> args) {
  assert(args.size() <= 10);
  std::array<Word, 10> pushed{};
  std::copy_n(args.begin(), std::min<size_t>(args.size(), pushed.size()), pushed.begin());

  uint32_t token = 0;
  {
    MutexLock lock(g_mutex);
    uint8_t insn[6];
    if (!readable(code, sizeof insn)) return 0;
    std::memcpy(insn, reinterpret_cast<const void*>(code), sizeof insn);
    if (insn[0] != 0xFF || insn[1] != 0x25) return 0;
    uint32_t slot;
    std::memcpy(&slot, insn + 2, 4);
    if (!readable(slot, 4)) return 0;
    std::memcpy(&token, reinterpret_cast<const void*>(static_cast<Word>(slot)), 4);
  }
  // The lock is not held during the call: the callee may load or unload images itself.
  if (!is_host_address(token)) return 0;
  return static_cast<uint32_t>(call_host_address(token, pushed));
}

}  // namespace pennacle
