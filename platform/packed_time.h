// Packed MS-DOS date and time (the FAT directory-entry encoding), always local time.
//
// A packed date-time is 32 bits: the time word in the low 16 bits (bits 0-4 seconds / 2,
// 5-10 minute, 11-15 hour) and the date word in the high 16 bits (bits 16-20 day, 21-24 month,
// 25-31 year - 1980). It spans 1980-01-01 to 2107-12-31 with two-second steps. Example:
// 2024-05-17 13:45:30 is date word 0x58B1, time word 0x6DAF.
#ifndef LINDAVOX_PLATFORM_PACKED_TIME_H
#define LINDAVOX_PLATFORM_PACKED_TIME_H

#include <cstdint>
#include <optional>

#include "platform/time_zone.h"

namespace platform {

inline constexpr int kPackedFirstYear = 1980;
inline constexpr int kPackedLastYear = 2107;

// The fields as they are stored; nothing is checked (month 0 stays 0). The weekday is not set.
inline CalendarTime UnpackDateTime(uint32_t packed) {
  CalendarTime t;
  t.year = static_cast<int>(packed >> 25) + kPackedFirstYear;
  t.month = static_cast<int>((packed >> 21) & 0x0F);
  t.day = static_cast<int>((packed >> 16) & 0x1F);
  t.hour = static_cast<int>((packed >> 11) & 0x1F);
  t.minute = static_cast<int>((packed >> 5) & 0x3F);
  t.second = static_cast<int>(packed & 0x1F) * 2;
  return t;
}

// The same from separate words, of which only the low 16 bits count.
inline CalendarTime UnpackWords(uint32_t dateWord, uint32_t timeWord) {
  return UnpackDateTime(((dateWord & 0xFFFF) << 16) | (timeWord & 0xFFFF));
}

// Packs the fields, each cut to its width; odd seconds round down. REQUIRES: the year lies in
// kPackedFirstYear..kPackedLastYear (others wrap).
inline uint32_t PackDateTime(const CalendarTime& t) {
  const auto field = [](int value, unsigned bits, unsigned shift) {
    return (static_cast<uint32_t>(value) & ((1u << bits) - 1)) << shift;
  };
  return field(t.year - kPackedFirstYear, 7, 25) | field(t.month, 4, 21) | field(t.day, 5, 16) |
         field(t.hour, 5, 11) | field(t.minute, 6, 5) | field(t.second / 2, 5, 0);
}

// The number of days of `month` (1-12) in `year`, by the Gregorian calendar.
inline int DaysInMonth(int year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// True when every stored field lies in its range: seconds field 0-29, minute 0-59, hour 0-23,
// month 1-12, day from 1 to the month's last. Windows refuses to convert any other value (0,
// month 13, 30 February, hour 31), where the conversions below would carry it over.
inline bool IsPossiblePackedDateTime(uint32_t packed) {
  const CalendarTime t = UnpackDateTime(packed);
  return (packed & 0x1F) <= 29 && t.minute <= 59 && t.hour <= 23 && t.month >= 1 && t.month <= 12 &&
         t.day >= 1 && t.day <= DaysInMonth(t.year, t.month);
}

// Seconds since 1970 of a packed local date-time (seconds field included). Stored fields beyond
// their range (month 0, hour 31) carry over as FromLocalTime says.
inline std::optional<int64_t> PackedToSeconds(uint32_t packed) {
  return FromLocalTime(UnpackDateTime(packed));
}

// The packed local date-time of `seconds`, or nothing outside 1980..2107.
inline std::optional<uint32_t> SecondsToPacked(int64_t seconds) {
  const std::optional<CalendarTime> local = ToLocalTime(seconds);
  if (!local || local->year < kPackedFirstYear || local->year > kPackedLastYear) {
    return std::nullopt;
  }
  return PackDateTime(*local);
}

}  // namespace platform

#endif
