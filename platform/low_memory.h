// Memory reservations in the low 4 GiB of the address space, for images of 32-bit libraries whose
// relocations and import slots hold 32-bit addresses. Pages are never executable.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pennacle {

enum class PageAccess { None, Read, ReadWrite };

// Reserves `size` bytes (rounded up to whole pages) at `at` when it is not 0, without replacing
// anything mapped there, else anywhere below 4 GiB. Committed pages start zero-filled; uncommitted
// ones cannot be touched. Without `at` the base is a multiple of `alignment` (a power of two).
// Returns the base, or 0 when nothing could be reserved.
[[nodiscard]] uintptr_t low_reserve(uintptr_t at, size_t size, bool commit, PageAccess access,
                                    size_t alignment = 0);

// Makes the pages of [address, address + size) inside one reservation accessible (commit) or
// zero-filled and inaccessible again (decommit). False when the range is not inside one
// reservation.
bool low_commit(uintptr_t address, size_t size, PageAccess access);
bool low_decommit(uintptr_t address, size_t size);

// Releases the whole reservation that begins at `base`; false when no reservation begins there.
bool low_release(uintptr_t base);

// The reservation holding `address`: its base and size, or false.
bool low_find(uintptr_t address, uintptr_t* base, size_t* size);

size_t low_page_size();

}  // namespace pennacle
