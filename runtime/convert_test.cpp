#include "runtime/convert.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <ctime>
#include <limits>
#include <optional>

#include "runtime/fatal.h"
#include "testing/fatal_capture.h"

namespace pennacle {
namespace {

struct NumberCase {
  double value;
  const char* text;
};

class DoubleToText : public ::testing::TestWithParam<NumberCase> {};

TEST_P(DoubleToText, GeneralFormWithThreeExponentDigits) {
  EXPECT_EQ(value_to_text(Value::of_double(GetParam().value)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DoubleToText,
    ::testing::Values(NumberCase{0.0, "0"}, NumberCase{-0.5, "-0.5"}, NumberCase{1234567.891, "1234567.891"},
                      NumberCase{1e-5, "1e-005"}, NumberCase{12.5, "12.5"}, NumberCase{100.0, "100"},
                      NumberCase{0.1 + 0.2, "0.3"}, NumberCase{-3.75, "-3.75"}, NumberCase{1e13, "1e+013"},
                      NumberCase{123456789012345.0, "1.234567890123e+014"}, NumberCase{0.0001, "0.0001"},
                      NumberCase{999999999999.0, "999999999999"}, NumberCase{1e100, "1e+100"},
                      NumberCase{-2.5e-300, "-2.5e-300"}));

TEST(ValueToText, EveryKind) {
  EXPECT_EQ(value_to_text(Value::of_int(-42)), "-42");
  EXPECT_EQ(value_to_text(Value::of_short(-7)), "-7");
  EXPECT_EQ(value_to_text(Value::of_byte(200)), "200");
  EXPECT_EQ(value_to_text(Value::of_int64(-9000000000LL)), "-9000000000");
  EXPECT_EQ(value_to_text(Value::of_logical(true)), "真");
  EXPECT_EQ(value_to_text(Value::make(Kind::Logical, 5)), "真");
  EXPECT_EQ(value_to_text(Value::of_logical(false)), "假");
  EXPECT_EQ(value_to_text(Value::of_float(0.25f)), "0.25");
  EXPECT_EQ(value_to_text(Value::of_float(1e-7f)), "1e-007");
  Text t("金额12");
  EXPECT_EQ(value_to_text(t.value()), "金额12");
  EXPECT_EQ(value_to_text(Value::of_date_time(make_date_time(2020, 8, 11, 9))), "2020年8月11日9时");
  EXPECT_EQ(value_to_text(Value::of_subroutine(nullptr)), "");
  EXPECT_EQ(value_to_text(Value{}), "");
  EXPECT_EQ(value_to_text(Value::make(Kind::WindowRef, 3)), "");
}

TEST(ValueToText, ByteSetsStopAtTheFirstZeroByte) {
  EXPECT_EQ(value_to_text(ByteSet().value()), "");
  ByteSet leading_zero(std::string_view("\0ab", 3));
  EXPECT_EQ(value_to_text(leading_zero.value()), "");
  ByteSet inner_zero(std::string_view("ab\0c", 4));
  EXPECT_EQ(value_to_text(inner_zero.value()), "ab");
  ByteSet no_zero("xyz");
  EXPECT_EQ(value_to_text(no_zero.value()), "xyz");
}

TEST(ValueToText, NumericArraysGiveTheirRawBytes) {
  ArrayHeader* a = new_array_block(Kind::Int, 2);
  auto* e = static_cast<int32_t*>(array_elements(a));
  e[0] = 0x44434241;  // "ABCD"
  e[1] = 0x00004645;  // "EF", then zero bytes
  Value v = Value::make(Kind::Int, reinterpret_cast<uintptr_t>(a));
  v.kind |= kArrayFlag;
  EXPECT_EQ(value_to_text(v), "ABCDEF");
  e[1] = 0x48474645;  // no zero byte: the whole element area
  EXPECT_EQ(value_to_text(v), "ABCDEFGH");
  release_value(v);
}

TEST(NormaliseWidth, ReplacesFullWidthForms) {
  EXPECT_EQ(normalise_width("\xA1\xA1", false), " ");
  EXPECT_EQ(normalise_width("\xA1\xAB", false), "~");
  EXPECT_EQ(normalise_width("\xA1\xEE\xA1\xEF", false), "**");
  EXPECT_EQ(normalise_width("１２．５", false), "12.5");
  EXPECT_EQ(normalise_width("\xA3\xA1\xA3\xFE", false), "!~");
  EXPECT_EQ(normalise_width("金额", false), "金额");  // no one-byte form
  EXPECT_EQ(normalise_width("\xA1\xA0", false), "\xA1\xA0");
}

TEST(NormaliseWidth, WalksByCharacters) {
  // B0 A1 is one character; the A1 A1 that straddles it and the next is no ideographic space.
  EXPECT_EQ(normalise_width("\xB0\xA1\xA1\xB0", false), "\xB0\xA1\xA1\xB0");
  // A3 B1 ("１") as the trail of another character is left alone.
  EXPECT_EQ(normalise_width("\xB0\xA3\xB1", true), "\xB0\xA3");  // then a lone lead byte: dropped
  EXPECT_EQ(normalise_width("ab\xB0", false), "ab");
}

TEST(NormaliseWidth, DroppingSpaces) {
  EXPECT_EQ(normalise_width(" a\xA1\xA1 b ", true), "ab");
  EXPECT_EQ(normalise_width(" a\xA1\xA1 b ", false), " a  b ");
}

struct ParseCase {
  const char* text;
  double value;
};

class TextToDouble : public ::testing::TestWithParam<ParseCase> {};

TEST_P(TextToDouble, ReadsTheLeadingNumber) { EXPECT_EQ(text_to_double(GetParam().text), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(Cases, TextToDouble,
                         ::testing::Values(ParseCase{"", 0}, ParseCase{"１２３", 123}, ParseCase{"1,000", 1},
                                           ParseCase{"１２．５", 12.5}, ParseCase{" 12.5元", 12.5},
                                           ParseCase{"abc", 0}, ParseCase{"\t\n-3.75", -3.75},
                                           ParseCase{"+.5", 0.5}, ParseCase{"7.", 7}, ParseCase{".", 0},
                                           ParseCase{"-", 0}, ParseCase{"1e3", 1000}, ParseCase{"1e", 1},
                                           ParseCase{"1e+", 1}, ParseCase{"2E-2x", 0.02},
                                           ParseCase{"\xA1\xA1 8", 8}, ParseCase{"－５", -5},
                                           ParseCase{"0x10", 0}, ParseCase{"0.1", 0.1}, ParseCase{"inf", 0},
                                           ParseCase{"nan", 0}));

TEST(TextToDouble, OutOfRangeGivesInfinityOrZero) {
  EXPECT_EQ(text_to_double("1e999"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(text_to_double("-1e999"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(text_to_double("1e-999"), 0.0);
  EXPECT_EQ(text_to_double(std::string(500, '9')), std::numeric_limits<double>::infinity());
  EXPECT_EQ(text_to_double("1" + std::string(300, '0')), 1e300);
  EXPECT_EQ(text_to_double("0." + std::string(400, '0') + "1"), 0.0);
}

TEST(TextToDouble, IgnoresTheProcessLocale) {
  struct Restore {
    std::string saved;
    ~Restore() { std::setlocale(LC_NUMERIC, saved.c_str()); }
  } restore{std::setlocale(LC_NUMERIC, nullptr)};
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
      std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") == nullptr)
    GTEST_SKIP() << "no locale with a decimal comma (scripts/install-deps.sh makes de_DE.UTF-8)";
  ASSERT_EQ(std::string(localeconv()->decimal_point), ",");
  EXPECT_EQ(text_to_double("12.5"), 12.5);
  EXPECT_EQ(text_to_double("12,5"), 12.0);
  EXPECT_EQ(value_to_text(Value::of_double(12.5)), "12.5");
  EXPECT_EQ(value_to_text(Value::of_float(0.5f)), "0.5");
}

TEST(TextToInt, WholeNumbersWrapIn32Bits) {
  EXPECT_EQ(text_to_int("  -42abc"), -42);
  EXPECT_EQ(text_to_int("4294967297"), 1);
  EXPECT_EQ(text_to_int("2147483648"), INT32_MIN);
  EXPECT_EQ(text_to_int("-2147483648"), INT32_MIN);
  EXPECT_EQ(text_to_int("+７"), 7);
  EXPECT_EQ(text_to_int("12.9"), 12);
  EXPECT_EQ(text_to_int("- 5"), 0);
  EXPECT_EQ(text_to_int(""), 0);
}

TEST(ValueToNumber, ByKind) {
  EXPECT_EQ(value_to_double(Value::of_byte(255)), 255.0);
  EXPECT_EQ(value_to_double(Value::of_short(-2)), -2.0);
  EXPECT_EQ(value_to_double(Value::of_int(-5)), -5.0);
  EXPECT_EQ(value_to_double(Value::of_int64(1LL << 53)), 9007199254740992.0);
  EXPECT_EQ(value_to_double(Value::of_float(1.5f)), 1.5);
  EXPECT_EQ(value_to_double(Value::make(Kind::Logical, 1)), 1.0);
  EXPECT_EQ(value_to_double(Value::of_date_time(40000.5)), 0.0);
  Text t("１２．５");
  EXPECT_EQ(value_to_double(t.value()), 12.5);

  EXPECT_EQ(value_to_int(Value::of_double(2.9)), 2);
  EXPECT_EQ(value_to_int(Value::of_double(-2.9)), -2);
  EXPECT_EQ(value_to_int(Value::of_double(4294967298.0)), 2);  // low 32 bits of the 64-bit result
  EXPECT_EQ(value_to_int(Value::of_float(-7.5f)), -7);
  EXPECT_EQ(value_to_int(Value::of_int64(0x100000005LL)), 5);
  EXPECT_EQ(value_to_int(Value::of_byte(250)), 250);
  EXPECT_EQ(value_to_int(Value::of_short(-3)), -3);
  EXPECT_EQ(value_to_int(Value::of_date_time(40000.0)), 0);
  Text n("  -42abc");
  EXPECT_EQ(value_to_int(n.value()), -42);
}

TEST(ValueToNumber, NonFiniteRealsGiveZeroNotUndefinedBehaviour) {
  EXPECT_EQ(value_to_int(Value::of_double(std::nan(""))), 0);
  EXPECT_EQ(value_to_int(Value::of_double(1e300)), 0);
  EXPECT_EQ(value_to_int(Value::of_double(-std::numeric_limits<double>::infinity())), 0);
  EXPECT_EQ(value_to_int(Value::of_double(-9223372036854775808.0)), 0);  // exactly INT64_MIN: low word 0
}

TEST(RequireNumber, AcceptsOnlyTheSixNumericKinds) {
  EXPECT_EQ(require_number(Value::of_short(9), 1, 2), 9.0);
  EXPECT_EQ(require_number(Value::of_double(0.5), 1, 2), 0.5);
  Text t("12");
  std::optional<FatalReport> r = testing::fatal_report_of([&] { require_number(t.value(), 0x1234, 7); });
  ASSERT_TRUE(r.has_value()) << "a text was taken as a number";
  EXPECT_EQ(r->code, kFaultNotNumeric);
  EXPECT_EQ(r->message, "未得到所需要的数值型数据");
  EXPECT_EQ(r->location, 0x1234);
  EXPECT_EQ(r->second, 7);
}

TEST(DateTimeParts, RoundsToTheNearestSecond) {
  double almost_new_year = make_date_time(2019, 12, 31, 23, 59, 59) + 0.6 / 86400;
  EXPECT_EQ(date_time_parts(almost_new_year), (DateTimeParts{2020, 1, 1, 0, 0, 0}));
  double just_after = make_date_time(2019, 12, 31, 23, 59, 58) + 0.4 / 86400;
  EXPECT_EQ(date_time_parts(just_after), (DateTimeParts{2019, 12, 31, 23, 59, 58}));
}

TEST(DateTimeParts, NegativeValuesAndClamping) {
  EXPECT_EQ(date_time_parts(-1.25), (DateTimeParts{1899, 12, 29, 6, 0, 0}));
  EXPECT_EQ(date_time_parts(-0.25), (DateTimeParts{1899, 12, 30, 6, 0, 0}));
  EXPECT_EQ(date_time_parts(0.5), (DateTimeParts{1899, 12, 30, 12, 0, 0}));
  EXPECT_EQ(date_time_parts(-1e9), (DateTimeParts{100, 1, 1, 0, 0, 0}));
  EXPECT_EQ(date_time_parts(1e9), (DateTimeParts{9999, 12, 31, 0, 0, 0}));
  EXPECT_EQ(date_time_parts(std::numeric_limits<double>::infinity()), (DateTimeParts{9999, 12, 31, 0, 0, 0}));
  EXPECT_EQ(date_time_parts(std::nan("")), (DateTimeParts{1899, 12, 30, 0, 0, 0}));
  EXPECT_EQ(make_date_time(100, 1, 1), kMinDateTime);
  EXPECT_EQ(make_date_time(9999, 12, 31), kMaxDateTime);
}

// The day of a value decides its date: values of one day, either side of day 0 and rounded into the
// next day, share one, and the second of the day is the time date_time_parts gives.
TEST(DateTimeParts, TheDayOfAValueDecidesItsDate) {
  const double values[] = {-1.25,
                           -1.0,
                           -0.25,
                           -0.0,
                           0.0,
                           0.5,
                           0.99999,
                           make_date_time(2023, 1, 31, 23, 59, 59),
                           make_date_time(2023, 1, 31, 23, 59, 59) + 0.6 / 86400,
                           kMinDateTime,
                           kMaxDateTime};
  for (double x : values) {
    const DaySecond at = date_time_day_second(x);
    const DateTimeParts p = date_time_parts(x);
    EXPECT_EQ(date_time_parts(at), p) << x;
    EXPECT_EQ(at.second, p.hour * 3600 + p.minute * 60 + p.second) << x;
    for (double y : values) {
      const DateTimeParts q = date_time_parts(y);
      EXPECT_EQ(date_time_day_second(y).day == at.day,
                q.year == p.year && q.month == p.month && q.day == p.day)
          << x << " " << y;
    }
  }
  EXPECT_EQ(date_time_day_second(-0.25).day, date_time_day_second(0.5).day);
  EXPECT_EQ(date_time_day_second(make_date_time(2023, 1, 31, 23, 59, 59) + 0.6 / 86400).day,
            date_time_day_second(make_date_time(2023, 2, 1)).day);
}

TEST(DateTimeParts, CalendarRoundTrip) {
  // Leap rules of the proleptic Gregorian calendar, either side of day 0.
  EXPECT_EQ(make_date_time(1900, 3, 1) - make_date_time(1900, 2, 28), 1.0);
  EXPECT_EQ(make_date_time(2000, 3, 1) - make_date_time(2000, 2, 28), 2.0);
  EXPECT_EQ(make_date_time(1970, 1, 1), 25569.0);
  EXPECT_EQ(make_date_time(1899, 12, 29, 6), -1.25);
  for (double day = kMinDateTime; day <= kMaxDateTime; day += 997) {
    DateTimeParts p = date_time_parts(day);
    ASSERT_EQ(make_date_time(p), day) << day;
    if (day == kMinDateTime) continue;  // a time on the first day lies below the range
    p.hour = 13;
    p.minute = 7;
    p.second = 59;
    ASSERT_EQ(date_time_parts(make_date_time(p)), p) << day;
  }
}

TEST(DateTimeToText, TimeDownToTheLastNonZeroPart) {
  EXPECT_EQ(date_time_to_text(make_date_time(2020, 8, 11, 9, 5, 3)), "2020年8月11日9时5分3秒");
  EXPECT_EQ(date_time_to_text(make_date_time(2020, 8, 11, 14, 30)), "2020年8月11日14时30分");
  EXPECT_EQ(date_time_to_text(make_date_time(2020, 8, 11, 9)), "2020年8月11日9时");
  EXPECT_EQ(date_time_to_text(make_date_time(2020, 8, 11)), "2020年8月11日");
  EXPECT_EQ(date_time_to_text(make_date_time(2020, 8, 11, 0, 0, 5)), "2020年8月11日0时0分5秒");
  EXPECT_EQ(date_time_to_text(make_date_time(2020, 8, 11, 10)), "2020年8月11日10时");
  EXPECT_EQ(date_time_to_text(kMaxDateTime + 100), "9999年12月31日");
}

TEST(CurrentDateTime, LocalTimeInWholeSeconds) {
  std::time_t before = std::time(nullptr);
  double a = current_date_time();
  double b = current_date_time();
  std::time_t after = std::time(nullptr);
  auto parts_of = [](std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return DateTimeParts{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  };
  DateTimeParts p = date_time_parts(a);
  EXPECT_TRUE(p == parts_of(before) || p == parts_of(after));
  double seconds = (a - std::floor(a)) * 86400;
  EXPECT_NEAR(seconds, std::round(seconds), 1e-4);
  if (before == after) {
    EXPECT_EQ(a, b);
  }
}

}  // namespace
}  // namespace pennacle
