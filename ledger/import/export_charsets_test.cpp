#include "ledger/import/export_charsets.h"

#include <gtest/gtest.h>

#include "ledger/import/bill_text.h"
#include "platform/gbk.h"

namespace pennacle {
namespace {

// Texts converted many at a time come out as each converted alone: across batches, with a
// character GBK cannot hold in one batch, with line ends and other control characters inside.
TEST(GbkTexts, ManyAtATimeAsOneAtATime) {
  std::vector<std::string> texts;
  for (int i = 0; i < 1500; ++i) {
    // 示例 α: GBK holds both, the table only the first.
    std::string t = "\xE7\xA4\xBA\xE4\xBE\x8B \xCE\xB1" + std::to_string(i);
    if (i % 97 == 0) t += "\na\rb\x7F";
    if (i == 700) t += "\xF0\x9F\x8E\x81";  // an emoji
    if (i % 250 == 0) t.clear();
    texts.push_back(t);
  }
  std::vector<std::string> together = texts;
  std::vector<std::string*> pointers;
  for (std::string& t : together) pointers.push_back(&t);
  const std::vector<int> dropped = utf8_to_gbk_dropping_all(pointers);
  ASSERT_EQ(dropped.size(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    int alone = 0;
    EXPECT_EQ(together[i], utf8_to_gbk_dropping(texts[i], &alone)) << i;
    EXPECT_EQ(dropped[i], alone) << i;
  }
  EXPECT_EQ(dropped[700], 1);
  EXPECT_EQ(together[97].find('\n'), std::string::npos);
  EXPECT_TRUE(utf8_to_gbk_dropping_all({}).empty());
}

// Each character the remark table is made for, and those around it, converts as iconv converts it
// alone; a text with one the table lacks goes to iconv whole.
TEST(GbkTexts, TheTableIsIconv) {
  std::vector<std::string> texts;
  for (uint32_t cp = 0x80; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string t = "a";
    if (cp < 0x800) {
      t += {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
    } else {
      t += {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
            static_cast<char>(0x80 | (cp & 0x3F))};
    }
    texts.push_back(t + "\t\xE4\xB8\x80");  // and 一
  }
  std::vector<std::string> converted = texts;
  std::vector<std::string*> pointers;
  for (std::string& t : converted) pointers.push_back(&t);
  const std::vector<int> dropped = utf8_to_gbk_dropping_all(pointers);
  size_t held = 0;
  for (size_t i = 0; i < texts.size(); ++i) {
    int alone = 0;
    const std::string want = utf8_to_gbk_dropping(texts[i], &alone);
    ASSERT_EQ(converted[i], want) << i;
    ASSERT_EQ(dropped[i], alone) << i;
    held += alone == 0;
  }
  EXPECT_GT(held, 21000u);  // GBK's characters, about
}

// The table's text is iconv's: every two-byte character and every ASCII byte, next to each other
// and across the eight-byte steps; text with a four-byte character goes to iconv; text that is no
// GB18030 holds nothing.
TEST(GbkTexts, Gb18030ByTableAsByIconv) {
  std::string all;
  for (int c = 0; c < 0x80; ++c) all += static_cast<char>(c);
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      all += {static_cast<char>(lead), static_cast<char>(trail)};
      if (trail % 7 == 0) all += std::string(static_cast<size_t>(trail % 11), 'a');
    }
  }
  Gb18030Text text;
  for (const std::string& s : {all, all.substr(1), std::string("\x81\x30\x81\x30 x \xB0\xA1"),
                               std::string("0123456789\xB0\xA1"), std::string()}) {
    ASSERT_TRUE(text.convert(s));
    EXPECT_EQ(text.utf8(), gb18030_to_utf8(s).value());
  }
  for (const std::string& s : {std::string("abc\xB0"), std::string("\x80"), std::string("0123456789\xFF"),
                               std::string("\xB0\x7F"), std::string("\xB0\x20")}) {
    EXPECT_FALSE(gb18030_to_utf8(s).has_value());
    EXPECT_FALSE(text.convert(s));
    EXPECT_TRUE(text.utf8().empty());
  }
}

}  // namespace
}  // namespace pennacle
