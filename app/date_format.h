// Date-time values as text in the program's own picture styles, rendered by the locale formatter
// (the outside functions GetDateFormatA and GetTimeFormatA), with the hour following the user's
// 12- or 24-hour setting.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "runtime/value.h"

namespace pennacle {

// `time` (now when left out) in style 0 to 3 (any other: 0) and part mode 0 to 5 (any other: 0):
//   mode 0 date and time, 1 date, 2 month and day, 3 time, 4 hours and minutes, 5 minutes and
//   seconds. Style 0 "2020年08月11日 14时03分05秒", 1 "2020-08-11 14:03:05", 2 "2020/08/11 14/03/05",
//   3 "20200811140305". The empty text when the time cannot be converted.
Text FormatDateTime(std::optional<double> time, int32_t style, int32_t mode);

// `time` rendered with a date picture and a time picture, date part first. Both left out: the empty
// text; a picture of 2 bytes or fewer counts as left out. A part the formatter cannot render is
// empty. `no_seconds` drops the seconds of the time part.
Text DateTimeToText(double time, std::optional<std::string_view> date_picture,
                    std::optional<std::string_view> time_picture, bool no_seconds);

// 1 when the user's time format counts hours 0 to 23, else 0.
int32_t IsTwentyFourHourClock();

}  // namespace pennacle
