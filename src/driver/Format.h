// Fixed-point text of the report numbers.
#pragma once

#include <string>

namespace vorka {

// value with exactly decimals digits after a "." (no point for 0 decimals),
// rounded to nearest with halves away from zero, left-padded with blanks to
// at least width characters. Never an exponent, never the locale's
// separator; a value that is not finite prints as 0.
std::string FormatFixed(long double value, int width, int decimals);

}  // namespace vorka
