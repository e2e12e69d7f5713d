// Bytes as lower-case hexadecimal text, two digits a byte: checksums, digests and byte sets shown.
#pragma once

#include <string>
#include <string_view>

namespace pennacle {

inline std::string lower_hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s;
  s.reserve(bytes.size() * 2);
  for (const unsigned char b : bytes) {
    s += kDigits[b >> 4];
    s += kDigits[b & 15];
  }
  return s;
}

}  // namespace pennacle
