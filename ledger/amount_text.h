// Numbers written for other programs to read back: no format may lose a cent, or any digit a
// double holds.
#pragma once

#include <string>

namespace pennacle {

// The shortest fixed-point decimal that reads back to the same double ("0.1", "1e-7" as
// "0.0000001", "999999999999.99"). Never an exponent, never a locale's decimal comma. Infinities
// and NaN, which no format here can hold, give "inf", "-inf" and "nan".
std::string shortest_number_text(double d);

// An amount of money: two decimals when those read back to the same double ("28.16", "100.00",
// "35.50"), the shortest exact decimal otherwise ("0.001", "12.3456").
std::string exact_amount_text(double d);

// Appends exact_amount_text(d) to `out`; an amount in cents makes no string on the way.
void append_exact_amount(double d, std::string* out);

}  // namespace pennacle
