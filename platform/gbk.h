// Text inside the program is GBK (code page 936): a byte 0x81 to 0xFE leads a two-byte character,
// every other byte is a character of its own (0x80 is the euro sign, 0xFF is no lead byte). This
// header walks such text by characters and converts it at the edges of the program.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pennacle {

// A byte that starts a two-byte character.
constexpr bool is_gbk_lead_byte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
constexpr bool is_gbk_lead_byte(char c) { return is_gbk_lead_byte(static_cast<unsigned char>(c)); }

// The bytes of the character at s[i] (i < s.size()): 2 for a lead byte with a byte after it, else 1.
// A lead byte that ends the text (a character cut in two) counts as 1; walks that treat it
// differently check gbk_cut_at.
constexpr size_t gbk_char_length(std::string_view s, size_t i) {
  return is_gbk_lead_byte(s[i]) && i + 1 < s.size() ? 2 : 1;
}

// True when s[i] is a lead byte that ends the text.
constexpr bool gbk_cut_at(std::string_view s, size_t i) {
  return is_gbk_lead_byte(s[i]) && i + 1 == s.size();
}

// nullopt when the input is not valid in its charset or holds a character GBK cannot hold.
std::optional<std::string> gbk_to_utf8(std::string_view gbk);
std::optional<std::string> utf8_to_gbk(std::string_view utf8);

// The whole text as UTF-8; nullopt when it is not valid GB18030 (a superset of GBK that bill
// exports may use).
std::optional<std::string> gb18030_to_utf8(std::string_view text);

// The longest head of a GBK text that fits in `max_bytes` without splitting a double-byte character.
std::string_view cut_gbk(std::string_view gbk, size_t max_bytes);

// For diagnostics only: invalid bytes become U+FFFD instead of failing.
std::string gbk_to_utf8_lossy(std::string_view gbk);

}  // namespace pennacle
