#include "ledger/amount_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

namespace pennacle {
namespace {

// A double's fixed form has at most 309 digits before the point and 1074 after it.
constexpr size_t kFixedBuffer = 1100;

std::string to_text(double d, std::chars_format format, int precision = -1) {
  char buf[kFixedBuffer];
  const std::to_chars_result r = precision < 0 ? std::to_chars(buf, buf + sizeof buf, d, format)
                                               : std::to_chars(buf, buf + sizeof buf, d, format, precision);
  if (r.ec != std::errc()) return "nan";  // cannot happen with this buffer; never a partial number
  return std::string(buf, r.ptr);
}

bool reads_back(const std::string& text, double d) {
  double back = 0;
  const std::from_chars_result r = std::from_chars(text.data(), text.data() + text.size(), back);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && back == d;
}

}  // namespace

std::string shortest_number_text(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  if (d == 0) return "0";  // also -0: a sign on nothing would only confuse a reader
  return to_text(d, std::chars_format::fixed);
}

// Cents below this are whole numbers a double holds exactly.
constexpr double kExactCents = 9007199254740992.0;  // 2^53

std::string exact_amount_text(double d) {
  std::string text;
  append_exact_amount(d, &text);
  return text;
}

void append_exact_amount(double d, std::string* out) {
  if (!std::isfinite(d)) {
    out->append(shortest_number_text(d));
    return;
  }
  if (d == 0) {
    out->append("0.00");
    return;
  }
  // "X.YZ" reads back as the double nearest to the decimal, and cents / 100.0 is that double too:
  // when it is d, the two decimals are exact. Written from the whole cents, without a round trip.
  const double cents = std::round(d * 100);
  if (std::fabs(cents) < kExactCents && cents / 100.0 == d) {
    auto whole = static_cast<uint64_t>(std::fabs(cents));  // below 2^53: 16 digits at most
    char digits[24];
    char* at = digits + sizeof digits;
    for (int place = 0; place < 3 || whole != 0; ++place, whole /= 10) {
      if (place == 2) *--at = '.';
      *--at = static_cast<char>('0' + whole % 10);
    }
    if (cents < 0) *--at = '-';
    out->append(at, digits + sizeof digits);
    return;
  }
  const std::string two = to_text(d, std::chars_format::fixed, 2);
  out->append(reads_back(two, d) ? two : shortest_number_text(d));
}

}  // namespace pennacle
