// CRC-32 (the polynomial of zlib and Ethernet, reflected, 0xEDB88320), as the purge's copy trailer
// stores it. Files written by any version of the store must check out, so the value never changes;
// only the speed of computing it may.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pennacle {

// Continues `crc` (0 to start) over `n` bytes at `p`.
uint32_t crc32(uint32_t crc, const uint8_t* p, size_t n);

}  // namespace pennacle
