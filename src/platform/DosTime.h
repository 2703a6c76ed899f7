// MS-DOS date-times, the header's Time field, apart from any system's clock:
// the fields of a value, and a value from fields. Both platform files use
// these; only the conversion to and from the system's time is theirs.
#pragma once

#include <cstdint>

namespace vorka::platform {

struct TDosFields {
  int Year{};  // 1980..2107
  int Month{};
  int Day{};
  int Hour{};
  int Minute{};
  int Second{};  // even
};

// The fields of v; false when v is no valid date and time (0, for example).
inline bool SplitDosTime(std::uint32_t v, TDosFields& f) {
  f.Year = static_cast<int>(v >> 25) + 1980;
  f.Month = static_cast<int>((v >> 21) & 0x0F);
  f.Day = static_cast<int>((v >> 16) & 0x1F);
  f.Hour = static_cast<int>((v >> 11) & 0x1F);
  f.Minute = static_cast<int>((v >> 5) & 0x3F);
  f.Second = static_cast<int>(v & 0x1F) * 2;
  static constexpr int daysIn[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (f.Month < 1 || f.Month > 12 || f.Day < 1 || f.Day > daysIn[f.Month - 1] || f.Hour > 23 || f.Minute > 59 ||
      f.Second > 59)
    return false;
  const bool leap = (f.Year % 4 == 0 && f.Year % 100 != 0) || f.Year % 400 == 0;
  return !(f.Month == 2 && f.Day == 29 && !leap);
}

// The value of fields whose year lies in 1980..2107 (else 0); seconds go in
// 2-second steps.
inline std::int32_t JoinDosTime(const TDosFields& f) {
  if (f.Year < 1980 || f.Year > 2107) return 0;
  const auto dos = (static_cast<std::uint32_t>(f.Year - 1980) << 25) | (static_cast<std::uint32_t>(f.Month) << 21) |
                   (static_cast<std::uint32_t>(f.Day) << 16) | (static_cast<std::uint32_t>(f.Hour) << 11) |
                   (static_cast<std::uint32_t>(f.Minute) << 5) | (static_cast<std::uint32_t>(f.Second / 2));
  return static_cast<std::int32_t>(dos);
}

}  // namespace vorka::platform
