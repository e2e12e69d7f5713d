#include "platform/low_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <iterator>
#include <map>
#include <optional>

#include "platform/mutex.h"

namespace pennacle {
namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

constinit Mutex g_mutex;
// base -> size of every live reservation.
std::map<uintptr_t, size_t> g_reservations GUARDED_BY(g_mutex);

int prot_of(PageAccess access) {
  switch (access) {
    case PageAccess::None:
      return PROT_NONE;
    case PageAccess::Read:
      return PROT_READ;
    case PageAccess::ReadWrite:
      return PROT_READ | PROT_WRITE;
  }
  return PROT_NONE;
}

// The reservation holding all of [address, address + size).
bool find_locked(uintptr_t address, size_t size, uintptr_t* base, size_t* rsize) REQUIRES(g_mutex) {
  g_mutex.assert_held();
  auto it = g_reservations.upper_bound(address);
  if (it == g_reservations.begin()) return false;
  --it;
  if (address - it->first >= it->second || size > it->second - (address - it->first)) return false;
  *base = it->first;
  *rsize = it->second;
  return true;
}

struct PageSpan {
  uintptr_t first;
  size_t length;
};

// The whole pages under [address, address + size), when they lie inside one reservation; nothing
// for an empty or oversized range or one that is not reserved whole.
std::optional<PageSpan> reserved_pages_locked(uintptr_t address, size_t size) REQUIRES(g_mutex) {
  const size_t page = low_page_size();
  if (size == 0 || size > kFourGiB) return std::nullopt;
  const uintptr_t first = address & ~(page - 1);
  const size_t length = ((address + size + page - 1) & ~(page - 1)) - first;
  uintptr_t base;
  size_t rsize;
  if (!find_locked(first, length, &base, &rsize)) return std::nullopt;
  return PageSpan{first, length};
}

}  // namespace

size_t low_page_size() {
  static const size_t kPageSize = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return kPageSize;
}

uintptr_t low_reserve(uintptr_t at, size_t size, bool commit, PageAccess access, size_t alignment) {
  const size_t page = low_page_size();
  if (size == 0 || size > kFourGiB) return 0;
  size = (size + page - 1) & ~(page - 1);
  if (alignment < page || at != 0) alignment = page;
  if ((alignment & (alignment - 1)) != 0 || alignment > kFourGiB) return 0;
  const size_t extra = alignment - page;  // room to move the base up to the alignment
  if (at % page != 0 || at >= kFourGiB || size > kFourGiB - at) return 0;
  const int prot = commit ? prot_of(access) : PROT_NONE;
  int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
  void* want = reinterpret_cast<void*>(at);
  if (at != 0) {
    flags |= MAP_FIXED_NOREPLACE;
  } else {
#ifdef MAP_32BIT
    flags |= MAP_32BIT;  // below 2 GiB
#else
    want = reinterpret_cast<void*>(uintptr_t{0x10000000});  // a hint only
#endif
  }
  void* p = ::mmap(want, size + extra, prot, flags, -1, 0);
  if (p == MAP_FAILED) return 0;
  auto base = reinterpret_cast<uintptr_t>(p);
  if (extra != 0) {
    const uintptr_t aligned = (base + alignment - 1) & ~(alignment - 1);
    if (aligned > base) ::munmap(p, aligned - base);
    if (base + extra > aligned) ::munmap(reinterpret_cast<void*>(aligned + size), base + extra - aligned);
    base = aligned;
    p = reinterpret_cast<void*>(base);
  }
  // Old kernels treat MAP_FIXED_NOREPLACE as a hint; a hint may land anywhere.
  if ((at != 0 && base != at) || base >= kFourGiB || size > kFourGiB - base) {
    ::munmap(p, size);
    return 0;
  }
  MutexLock lock(g_mutex);
  g_reservations[base] = size;
  return base;
}

bool low_commit(uintptr_t address, size_t size, PageAccess access) {
  MutexLock lock(g_mutex);
  const std::optional<PageSpan> pages = reserved_pages_locked(address, size);
  return pages && ::mprotect(reinterpret_cast<void*>(pages->first), pages->length, prot_of(access)) == 0;
}

bool low_decommit(uintptr_t address, size_t size) {
  MutexLock lock(g_mutex);
  const std::optional<PageSpan> pages = reserved_pages_locked(address, size);
  if (!pages) return false;
  // A fresh inaccessible mapping over the range drops the pages' contents.
  void* p = ::mmap(reinterpret_cast<void*>(pages->first), pages->length, PROT_NONE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
  return p != MAP_FAILED;
}

bool low_release(uintptr_t base) {
  MutexLock lock(g_mutex);
  auto it = g_reservations.find(base);
  if (it == g_reservations.end()) return false;
  ::munmap(reinterpret_cast<void*>(it->first), it->second);
  g_reservations.erase(it);
  return true;
}

bool low_find(uintptr_t address, uintptr_t* base, size_t* size) {
  MutexLock lock(g_mutex);
  return find_locked(address, 1, base, size);
}

}  // namespace pennacle
