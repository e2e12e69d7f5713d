// One UTF-8 sequence at a time, strictly: no overlong forms, no surrogates, nothing past U+10FFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pennacle {

// The code point of the UTF-8 sequence at `s[i]` (i < s.size()) and its length in bytes; length 0
// when it is malformed or cut short by the end of `s`.
inline size_t utf8_sequence(std::string_view s, size_t i, uint32_t* cp) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return *cp = c, 1;
  size_t n = 0;
  uint32_t v = 0, min = 0;
  if ((c & 0xE0) == 0xC0) {
    n = 2, v = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, v = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b(i + k) & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return n;
}

}  // namespace pennacle
