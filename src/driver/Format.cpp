#include "Format.h"

#include <cmath>
#include <cstdio>

namespace vorka {

std::string FormatFixed(long double value, int width, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 18) decimals = 18;
  if (!std::isfinite(value)) value = 0;

  // Round once, in the scaled value, so that an exact half goes away from
  // zero (printf would round it to even).
  long double scaled = std::round(std::fabs(value) * std::pow(10.0L, static_cast<long double>(decimals)));
  int zeros = 0;
  if (!std::isfinite(scaled)) {
    // Only near the top of the range; such a value is a whole number, so its
    // decimals are zeros.
    scaled = std::fabs(value);
    zeros = decimals;
  }
  const bool negative = value < 0 && scaled != 0;

  // scaled is a whole number, so "%.0Lf" prints its exact digits with no
  // rounding and no separator of any locale.
  char buf[8192];
  const int n = std::snprintf(buf, sizeof buf, "%.0Lf", scaled);
  std::string digits = (n > 0 && static_cast<std::size_t>(n) < sizeof buf) ? std::string(buf, static_cast<std::size_t>(n))
                                                                           : std::string("0");
  digits.append(static_cast<std::size_t>(zeros), '0');
  if (digits.size() < static_cast<std::size_t>(decimals) + 1)
    digits.insert(0, static_cast<std::size_t>(decimals) + 1 - digits.size(), '0');

  std::string text;
  if (negative) text.push_back('-');
  const std::size_t whole = digits.size() - static_cast<std::size_t>(decimals);
  text.append(digits, 0, whole);
  if (decimals > 0) {
    text.push_back('.');
    text.append(digits, whole, std::string::npos);
  }
  if (text.size() < static_cast<std::size_t>(width > 0 ? width : 0))
    text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
  return text;
}

}  // namespace vorka
