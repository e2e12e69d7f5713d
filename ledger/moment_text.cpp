#include "ledger/moment_text.h"

#include <array>
#include <cstring>

#include "runtime/convert.h"

namespace pennacle {
namespace {

// Digits written by hand, two at a time: snprintf twice a bill is a good part of a journal's time.
constexpr std::array<char, 200> kTwoDigits = [] {
  std::array<char, 200> digits{};
  for (int i = 0; i < 100; ++i) {
    digits[2 * i] = static_cast<char>('0' + i / 10);
    digits[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return digits;
}();

// `value` (0..99) as two digits.
void put_two(int value, char* out) { std::memcpy(out, &kTwoDigits[2 * value], 2); }

// "HH:MM:SS" of the second of a day.
void put_time(int second, char* out) {
  put_two(second / 3600, out);
  put_two(second / 60 % 60, out + 3);
  put_two(second % 60, out + 6);
}

}  // namespace

Moment moment_of(double t) {
  const DateTimeParts p = date_time_parts(t);  // year 100..9999, every part in range
  Moment m{"0000-00-00", "00:00:00"};
  put_two(p.year / 100, m.date);
  put_two(p.year % 100, m.date + 2);
  put_two(p.month, m.date + 5);
  put_two(p.day, m.date + 8);
  put_time(p.hour * 3600 + p.minute * 60 + p.second, m.time);
  return m;
}

const Moment& Moments::operator()(double t) {
  const DaySecond at = date_time_day_second(t);
  if (at.day != day_) {
    day_ = at.day;
    moment_ = moment_of(t);
  } else {
    put_time(at.second, moment_.time);
  }
  return moment_;
}

}  // namespace pennacle
