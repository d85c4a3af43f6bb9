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
