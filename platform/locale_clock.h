// The user's time-format setting, from the LC_TIME locale of the calling thread (the program entry
// takes the locale from the environment; Qt does so at start).
#pragma once

namespace pennacle {

// True when the locale's time format counts hours 0 to 23 (its T_FMT uses %H, %k, %T or %R),
// false for a 12-hour clock (%I, %l, %r).
bool locale_uses_24_hour_clock();

// Classifies one strftime time format the same way (exposed for tests).
bool time_format_is_24_hour(const char* t_fmt);

}  // namespace pennacle
