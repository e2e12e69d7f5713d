// A date-time value's date and time as journals write them: "YYYY-MM-DD" and "HH:MM:SS", the value's
// date_time_parts (clamped, rounded to the second).
#pragma once

#include <cstddef>
#include <cstdint>

namespace pennacle {

constexpr size_t kDateChars = 10, kTimeChars = 8;
struct Moment {
  char date[16];  // kDateChars, then a zero byte
  char time[16];  // kTimeChars, then a zero byte
};

Moment moment_of(double t);

// moment_of for many values in time order: the date is worked out once a day, only the time for
// the other values of that day.
class Moments {
 public:
  // The moment of `t`, valid until the next call.
  const Moment& operator()(double t);

 private:
  int64_t day_ = INT64_MIN;  // of moment_; none yet
  Moment moment_{};
};

}  // namespace pennacle
