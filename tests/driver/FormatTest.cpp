// The fixed-point numbers of the report.
#include "driver/Format.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace vorka {
namespace {

TEST(FormatFixed, WidthsDecimalsAndRounding) {
  const struct {
    long double Value;
    int Width, Decimals;
    const char* Expected;
  } cases[] = {
      {0.0L, 2, 2, "0.00"},
      {0.0L, 2, 0, " 0"},
      {5.0L, 2, 0, " 5"},           // a speed below 10 gets one blank
      {9.4L, 2, 0, " 9"},
      {9.5L, 2, 0, "10"},           // exact half goes up
      {10.0L, 2, 0, "10"},
      {2.5L, 2, 0, " 3"},           // not to even
      {0.125L, 2, 2, "0.13"},
      {0.375L, 2, 2, "0.38"},
      {13.0L, 2, 2, "13.00"},
      {1.0L / 3.0L, 2, 4, "0.3333"},
      {2.0L / 3.0L, 2, 4, "0.6667"},
      {0.39889L, 2, 4, "0.3989"},
      {0.00004L, 2, 4, "0.0000"},
      {0.03125L, 2, 4, "0.0313"},
      {1e-30L, 2, 4, "0.0000"},
      {1.0L, 10, 4, "    1.0000"},
      {123456.0L, 2, 0, "123456"},
      {4294967295.0L * 100.0L * 1000.0L, 2, 0, "429496729500000"},
      {4294967295.0L * 1000.0L, 2, 2, "4294967295000.00"},
      {4294967295.0L, 2, 4, "4294967295.0000"},
      {4611686018427387903.5L, 2, 0, "4611686018427387904"},  // 2^62 - 1/2: a half near the top
      {1e20L, 2, 0, "100000000000000000000"},
      {-1.5L, 2, 0, "-2"},
      {-0.001L, 2, 2, "0.00"},      // no minus before a zero
      {-0.25L, 6, 1, "  -0.3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Expected);
    EXPECT_EQ(FormatFixed(c.Value, c.Width, c.Decimals), c.Expected);
  }
}

TEST(FormatFixed, NeverInfinityOrNan) {
  EXPECT_EQ(FormatFixed(std::numeric_limits<long double>::infinity(), 2, 4), "0.0000");
  EXPECT_EQ(FormatFixed(-std::numeric_limits<long double>::infinity(), 2, 0), " 0");
  EXPECT_EQ(FormatFixed(std::numeric_limits<long double>::quiet_NaN(), 2, 2), "0.00");
  // The largest finite value has all its digits written out, no exponent.
  const std::string max = FormatFixed(std::numeric_limits<long double>::max(), 2, 0);
  EXPECT_EQ(max.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(max.size(), 4933u);
  const std::string maxDecimals = FormatFixed(std::numeric_limits<long double>::max(), 2, 4);
  EXPECT_EQ(maxDecimals, max + ".0000");
}

}  // namespace
}  // namespace vorka
