#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace pennacle {
namespace {

// The length and code point of the first sequence, or {0, 0} when it is refused.
std::pair<size_t, uint32_t> first(const std::string& s) {
  uint32_t cp = 0;
  const size_t n = utf8_sequence(s, 0, &cp);
  return {n, n ? cp : 0};
}

TEST(Utf8, EachLengthAtItsBoundsAndEveryMalformedKind) {
  EXPECT_EQ(first("A"), std::make_pair(size_t{1}, uint32_t{0x41}));
  EXPECT_EQ(first(std::string(1, '\0')), std::make_pair(size_t{1}, uint32_t{0}));
  EXPECT_EQ(first("\xC2\x80"), std::make_pair(size_t{2}, uint32_t{0x80}));
  EXPECT_EQ(first("\xE4\xB8\xAD"), std::make_pair(size_t{3}, uint32_t{0x4E2D}));
  EXPECT_EQ(first("\xEF\xBF\xBF"), std::make_pair(size_t{3}, uint32_t{0xFFFF}));
  EXPECT_EQ(first("\xF0\x9F\x98\x80"), std::make_pair(size_t{4}, uint32_t{0x1F600}));
  EXPECT_EQ(first("\xF4\x8F\xBF\xBF"), std::make_pair(size_t{4}, uint32_t{0x10FFFF}));
  for (const char* bad : {"\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",  // overlong
                          "\xED\xA0\x80", "\xED\xBF\xBF",                              // surrogates
                          "\xF4\x90\x80\x80",                                          // past U+10FFFF
                          "\x80", "\xBF", "\xF8\x88\x80\x80\x80", "\xFF",              // no lead byte
                          "\xE4\xB8", "\xF0\x9F\x98",                                  // cut short
                          "\xE4\x41\xAD", "\xC2\xC2"}) {                               // not a follower
    EXPECT_EQ(first(bad).first, 0u) << std::string(bad).size();
  }
  // A sequence is read where it starts, and the end of the view cuts it.
  const std::string text = "a\xE4\xB8\xAD";
  uint32_t cp = 0;
  EXPECT_EQ(utf8_sequence(text, 1, &cp), 3u);
  EXPECT_EQ(cp, 0x4E2Du);
  EXPECT_EQ(utf8_sequence(std::string_view(text).substr(0, 3), 1, &cp), 0u);
}

}  // namespace
}  // namespace pennacle
