// Conversions at the edges of the program: inside, every text is GBK (code page 936).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pennacle {

// nullopt when the input is not valid in its charset or holds a character GBK cannot hold.
std::optional<std::string> gbk_to_utf8(std::string_view gbk);
std::optional<std::string> utf8_to_gbk(std::string_view utf8);

// For diagnostics only: invalid bytes become U+FFFD instead of failing.
std::string gbk_to_utf8_lossy(std::string_view gbk);

}  // namespace pennacle
