#include "Format.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace vorka {
namespace {

// Rounds x (0 or more) to a whole number, an exact half away from zero. Done
// here rather than with the maths library, which the program then need not
// load at all: that costs every run about as much as a 1 MB unpack.
long double RoundHalfUp(long double x) {
  // From 2^63 on, every long double is a whole number (64-bit mantissa).
  if (!(x < 0x1p63L)) return x;
  const auto whole = static_cast<std::uint64_t>(x);
  return static_cast<long double>(whole) + (x - static_cast<long double>(whole) >= 0.5L ? 1 : 0);
}

}  // namespace

std::string FormatFixed(long double value, int width, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 18) decimals = 18;
  if (!std::isfinite(value)) value = 0;

  // Round once, in the scaled value, so that an exact half goes away from
  // zero (printf would round it to even).
  long double scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;  // exact: 10^18 < 2^64
  long double scaled = RoundHalfUp(std::fabs(value) * scale);
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
