#include "ui/template/input_modes.h"

#include <gtest/gtest.h>

#include "ui/template/kind_settings.h"

namespace pennacle {
namespace {

bool accepts_all(int32_t mode, std::string_view s) {
  for (char c : s)
    if (!input_mode_accepts(mode, static_cast<unsigned char>(c))) return false;
  return true;
}

TEST(InputModes, TypingFilterChecksCharactersNotForm) {
  EXPECT_TRUE(accepts_all(kInputDecimalText, "1-2.3.4"));
  EXPECT_TRUE(accepts_all(kInputDouble, "--.."));
  EXPECT_FALSE(accepts_all(kInputDecimalText, "1e5"));
  EXPECT_TRUE(accepts_all(kInputIntegerText, "-12"));
  EXPECT_FALSE(accepts_all(kInputIntegerText, "1.5"));
  EXPECT_FALSE(accepts_all(kInputInt64, "a"));
  EXPECT_FALSE(accepts_all(kInputByte, "-1"));
  EXPECT_TRUE(accepts_all(kInputByte, "255"));
  for (int32_t mode : {0, 1, 2, 11}) EXPECT_TRUE(accepts_all(mode, "abc-.1 ")) << mode;
  EXPECT_TRUE(input_mode_accepts(kInputNormal, 0x4E2D));  // a Chinese character
  EXPECT_FALSE(input_mode_accepts(kInputShort, 0x4E2D));
  // Control characters (backspace, return, escape) pass in every mode.
  for (int32_t mode = 0; mode <= 11; ++mode)
    for (uint32_t ch : {8u, 13u, 27u, 1u}) EXPECT_TRUE(input_mode_accepts(mode, ch)) << mode << " " << ch;
}

TEST(InputModes, FocusLossRewrite) {
  EXPECT_EQ(canonical_input_text(kInputByte, "300"), "255");
  EXPECT_EQ(canonical_input_text(kInputByte, "007"), "7");
  EXPECT_EQ(canonical_input_text(kInputShort, "-40000"), "-32768");
  EXPECT_EQ(canonical_input_text(kInputShort, "40000"), "32767");
  EXPECT_EQ(canonical_input_text(kInputInt, "99999999999"), "2147483647");
  EXPECT_EQ(canonical_input_text(kInputInt, "-99999999999"), "-2147483648");
  EXPECT_EQ(canonical_input_text(kInputInt64, "99999999999999999999"), "9223372036854775807");
  EXPECT_EQ(canonical_input_text(kInputInt64, "-9223372036854775808"), "-9223372036854775808");
  EXPECT_EQ(canonical_input_text(kInputInt, "12-3"), "12");
  EXPECT_EQ(canonical_input_text(kInputDouble, "1-2.3.4"), "1");
  EXPECT_EQ(canonical_input_text(kInputDouble, "12.50"), "12.5");
  EXPECT_EQ(canonical_input_text(kInputDouble, "0.00001"), "1e-005");
  EXPECT_EQ(canonical_input_text(kInputDouble, "1e999"), "1.797693134862e+308");
  EXPECT_EQ(canonical_input_text(kInputFloat, "3.14159265"), "3.14159");
  EXPECT_EQ(canonical_input_text(kInputFloat, "1e100"), "3.40282e+038");
  // A canonical "0" becomes empty in the numeric modes.
  for (int32_t mode = kInputByte; mode <= kInputDouble; ++mode) {
    EXPECT_EQ(canonical_input_text(mode, "0"), "") << mode;
    EXPECT_EQ(canonical_input_text(mode, "-"), "") << mode;
    EXPECT_EQ(canonical_input_text(mode, ""), "") << mode;
  }
  // Modes without a canonical form keep the text, even one a numeric mode would rewrite.
  for (int32_t mode : {kInputNormal, kInputReadOnly, kInputPassword, kInputIntegerText, kInputDecimalText})
    EXPECT_EQ(canonical_input_text(mode, "1-2.3.4"), "1-2.3.4") << mode;
}

TEST(InputModes, DateTimeRewrite) {
  EXPECT_EQ(canonical_input_text(kInputDateTime, "2020-8-11"), "2020年8月11日");
  EXPECT_EQ(canonical_input_text(kInputDateTime, "2020/08/11 09:05:03"), "2020年8月11日9时5分3秒");
  EXPECT_EQ(canonical_input_text(kInputDateTime, "2020年8月11日14时30分"), "2020年8月11日14时30分");
  EXPECT_EQ(canonical_input_text(kInputDateTime, "2020-8-11 10:00"), "2020年8月11日10时");
  EXPECT_EQ(canonical_input_text(kInputDateTime, "2021-2-29"), "");   // no such day
  EXPECT_EQ(canonical_input_text(kInputDateTime, "1899-12-30"), "");  // zero
  EXPECT_EQ(canonical_input_text(kInputDateTime, "yesterday"), "");
  EXPECT_EQ(canonical_input_text(kInputDateTime, "2020-8-11 25:00"), "");
  double v = 0;
  ASSERT_TRUE(parse_date_time("2000-1-1", &v));
  EXPECT_EQ(v, 36526);
}

}  // namespace
}  // namespace pennacle
