#include "runtime/args.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pennacle {
namespace {

TEST(Args, EachReaderGivesItsFallbackForOmittedAndOtherKinds) {
  Text t("12abc");
  const Value values[] = {t.value(),
                          Value::of_double(-7.9),
                          Value::of_logical(true),
                          Value::of_date_time(45000.5),
                          Value::of_byte(200),
                          Value{}};
  Args a(6, values);
  EXPECT_EQ(a.text(0), "12abc");
  EXPECT_EQ(a.text(1), "");
  EXPECT_EQ(a.bytes(0), "");
  EXPECT_EQ(a.date_time(3), 45000.5);
  EXPECT_EQ(a.date_time(1), 0.0);
  // integer converts texts as numbers; number refuses them.
  EXPECT_EQ(a.integer(0, 5), 12);
  EXPECT_EQ(a.number(0, 5), 5);
  EXPECT_EQ(a.integer(1), -7);
  EXPECT_EQ(a.number(1, 0), -7);
  EXPECT_EQ(a.number(2, 0), 1);
  EXPECT_EQ(a.number(4, 0), 200);
  EXPECT_EQ(a.number(3, 9), 9);  // a date-time is not a number
  // Omitted, inside the count or past it.
  EXPECT_TRUE(a.omitted(5));
  EXPECT_TRUE(a.omitted(99));
  EXPECT_EQ(a.integer(5, -1), -1);
  EXPECT_EQ(a.number(99, -1), -1);
  EXPECT_EQ(a.integer(99, 3), 3);
  // A floating value beyond 64 bits converts as the hardware's indefinite integer: low word 0.
  const Value huge[] = {Value::of_double(1e30), Value::of_double(std::nan(""))};
  EXPECT_EQ(Args(2, huge).number(0, 7), 0);
  EXPECT_EQ(Args(2, huge).number(1, 7), 0);
  EXPECT_EQ(Args(-3, nullptr).count(), 0);
}

TEST(WordArgs, MissingWordsAreZeroAndNumbersKeepTheirLow32Bits) {
  const Word words[] = {Word{0xFFFFFFFF}, Word{42}};
  WordArgs w(words);
  EXPECT_EQ(w.int32(0), -1);
  EXPECT_EQ(w.int32(1), 42);
  EXPECT_EQ(w.word(2), 0u);
  EXPECT_EQ(w.pointer<char>(5), nullptr);
}

}  // namespace
}  // namespace pennacle
