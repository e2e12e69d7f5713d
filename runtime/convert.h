// Conversions between value kinds: numbers and texts, date-time values and their parts.
//
// Texts are GBK bytes, walked by whole characters (platform/gbk.h) so that a trail byte is never
// taken for an ASCII character. None of these conversions depends on the process locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/gbk.h"
#include "runtime/value.h"

namespace pennacle {

// ---- Numbers and texts -----------------------------------------------------------------------

// The general number form: "%.13g" with a sign and at least three exponent digits
// (0.00001 gives "1e-005", 1e13 gives "1e+013").
std::string double_to_text(double d);

// Any value as text by its kind; kinds without a text form give "".
std::string value_to_text(const Value& v);

// Copies `text` replacing the two-byte forms of space, "~", "*" and the printable ASCII range by
// their one-byte forms. With `drop_spaces`, spaces (either width) are left out. A lead byte without
// its trail byte ends the text. The result is never longer than `text`.
std::string normalise_width(std::string_view text, bool drop_spaces);

// A decimal number at the start of the text (after white space); 0 when there is none. Full-width
// digits and signs count. Never depends on LC_NUMERIC.
double text_to_double(std::string_view text);
// A whole number at the start of the text; accumulated in 32 bits, wrapping on overflow.
int32_t text_to_int(std::string_view text);

// Any value as a number; kinds without a numeric reading (DateTime included) give 0.
double value_to_double(const Value& v);
// Any value as a 32-bit number; reals are truncated toward zero.
int32_t value_to_int(const Value& v);

// A number from a value that must be numeric (one of the six numeric kinds, widened). Any other
// kind is runtime fault 2 at (location, check) and does not return.
double require_number(const Value& v, int32_t location, int32_t check);

// ---- Date-time values ------------------------------------------------------------------------

// Days since 1899-12-30 00:00 local time; the valid range is 0100-01-01 to 9999-12-31.
inline constexpr double kMinDateTime = -657434.0;
inline constexpr double kMaxDateTime = 2958465.0;

// Clamps to the valid range. NaN, which has no place in it, becomes 0 (1899-12-30 00:00).
double clamp_date_time(double d);

struct DateTimeParts {
  int year = 1899;  // 100..9999
  int month = 12;   // 1..12
  int day = 30;     // 1..31
  int hour = 0;     // 0..23
  int minute = 0;   // 0..59
  int second = 0;   // 0..59
  bool operator==(const DateTimeParts&) const = default;
};

// Parts of a date-time value, clamped first and rounded to the nearest second.
DateTimeParts date_time_parts(double d);

// A date-time value as date_time_parts reads it: its day (whole days from 1899-12-30, counted
// toward the value's sign, so -0.25 and 0.5 are both day 0) and the second of that day. Values of
// one day have one calendar date: a writer of many values works the date out once a day.
struct DaySecond {
  int64_t day = 0;
  int second = 0;  // 0..86399
};
DaySecond date_time_day_second(double d);
// The parts of a value read so: date_time_parts(d) is date_time_parts(date_time_day_second(d)).
DateTimeParts date_time_parts(const DaySecond& at);

// The value of a calendar moment (proleptic Gregorian). Out-of-range months, days and times are not
// normalised: callers pass real calendar parts. Dates before 1899-12-30 carry the time of day as a
// negative fraction, as date_time_parts reads it.
double make_date_time(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
double make_date_time(const DateTimeParts& p);

// "2020年8月11日" followed by the time down to its last non-zero part ("9时5分3秒", "14时30分",
// "9时"), nothing at midnight.
std::string date_time_to_text(double d);

// Now, in local time, as whole seconds.
double current_date_time();

}  // namespace pennacle
