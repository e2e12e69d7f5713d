#include "ledger/amount_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <random>

namespace pennacle {
namespace {

double read(const std::string& s) {
  double d = 0;
  const std::from_chars_result r = std::from_chars(s.data(), s.data() + s.size(), d);
  EXPECT_EQ(r.ptr, s.data() + s.size()) << s;
  return d;
}

// Amounts in cents keep two decimals; amounts that two decimals cannot hold keep every digit they
// have; none takes an exponent, whatever its size.
TEST(AmountText, MoneyKeepsItsCentsAndNothingIsRounded) {
  EXPECT_EQ(exact_amount_text(28.16), "28.16");
  EXPECT_EQ(exact_amount_text(100), "100.00");
  EXPECT_EQ(exact_amount_text(35.5), "35.50");
  EXPECT_EQ(exact_amount_text(0), "0.00");
  EXPECT_EQ(exact_amount_text(999999999999.99), "999999999999.99");
  EXPECT_EQ(exact_amount_text(-12.3), "-12.30");
  EXPECT_EQ(exact_amount_text(0.001), "0.001");
  EXPECT_EQ(exact_amount_text(0.0000001), "0.0000001");
  EXPECT_EQ(exact_amount_text(12.3456), "12.3456");
  EXPECT_EQ(exact_amount_text(1e20), "100000000000000000000.00");
  // 0.1 + 0.2 is not 0.3: two decimals would read back as another double.
  EXPECT_EQ(exact_amount_text(0.1 + 0.2), "0.30000000000000004");
}

TEST(AmountText, ShortestFormHasNoExponentAndNoSignOnZero) {
  EXPECT_EQ(shortest_number_text(1), "1");
  EXPECT_EQ(shortest_number_text(35.5), "35.5");
  EXPECT_EQ(shortest_number_text(-0.0), "0");
  EXPECT_EQ(shortest_number_text(1e-7), "0.0000001");
  EXPECT_EQ(shortest_number_text(1e13), "10000000000000");
  EXPECT_EQ(shortest_number_text(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(shortest_number_text(-std::numeric_limits<double>::infinity()), "-inf");
}

// Every finite double, whatever its size, reads back to itself in both forms.
TEST(AmountText, EveryFormReadsBackToTheSameDouble) {
  std::mt19937_64 random(24);
  std::uniform_int_distribution<int64_t> cents(0, 99999999999999);
  std::uniform_real_distribution<double> any(-1e15, 1e15);
  for (int i = 0; i < 20000; ++i) {
    const double money = static_cast<double>(cents(random)) / 100;
    const double other = i % 2 ? any(random) : std::ldexp(any(random), -60);
    for (double d : {money, other, std::nextafter(money, 1e300)}) {
      EXPECT_EQ(read(exact_amount_text(d)), d) << exact_amount_text(d);
      EXPECT_EQ(read(shortest_number_text(d)), d) << shortest_number_text(d);
      EXPECT_EQ(exact_amount_text(d).find('e'), std::string::npos);
    }
  }
}

// The cents are written digit by digit: each place, the sign, amounts under one yuan, and the
// greatest cents a double holds exactly, against the library's two-decimal form.
TEST(AmountText, CentsAreWrittenAsTheLibraryRoundsThem) {
  auto library = [](double d) {
    char buf[64];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, 2);
    return std::string(buf, r.ptr);
  };
  const double limit = 9007199254740991.0 / 100;  // (2^53 - 1) cents
  for (double d :
       {0.01, 0.05, 0.1, 0.5, 1.0, 9.99, 10.0, 100.01, 1234567.8, -0.01, -0.5, -100.0, limit, -limit}) {
    EXPECT_EQ(exact_amount_text(d), library(d)) << d;
  }
  std::mt19937_64 random(53);
  std::uniform_int_distribution<int64_t> cents(-999999999999999, 999999999999999);
  for (int i = 0; i < 20000; ++i) {
    const double d = static_cast<double>(cents(random)) / 100;
    ASSERT_EQ(read(library(d)), d);  // cents below 2^53 read back from two decimals
    EXPECT_EQ(exact_amount_text(d), library(d)) << d;
  }
}

// Appending keeps what the text held and adds exactly what exact_amount_text gives, for amounts of
// every kind: cents, more decimals, huge, the smallest, zero of either sign, no number.
TEST(AmountText, AppendingAddsTheSameText) {
  for (double d : {28.16, -12.3, 0.0, -0.0, 0.1 + 0.2, 1e20, 1e300, 5e-324, 0.001,
                   std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    std::string text = "x ";
    append_exact_amount(d, &text);
    EXPECT_EQ(text, "x " + exact_amount_text(d)) << d;
  }
  EXPECT_EQ(exact_amount_text(-0.0), "0.00");
  EXPECT_EQ(read(exact_amount_text(5e-324)), 5e-324);
}

}  // namespace
}  // namespace pennacle
