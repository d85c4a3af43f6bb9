// Local time: the C library's local-time rules (TZ, tzdata) seen as the Windows time-zone
// record, and the conversions between seconds since 1970 and calendar time.
//
// Seconds are 64-bit everywhere here, so nothing ends in 2038. Local conversions follow the
// rules in force at the date in question (a summer date read in winter keeps its summer
// offset). Each call picks up a changed TZ variable.
#ifndef LINDAVOX_PLATFORM_TIME_ZONE_H
#define LINDAVOX_PLATFORM_TIME_ZONE_H

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Calendar date and time of day. Month 1-12, weekday 0 = Sunday (as Windows counts).
struct CalendarTime {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 4;
};

// The local (or UTC) calendar time of `seconds`; nothing when the year does not fit an int.
std::optional<CalendarTime> ToLocalTime(int64_t seconds);
std::optional<CalendarTime> ToUtcTime(int64_t seconds);

// The seconds of a local calendar time. Fields beyond their range carry over (hour 24 is the
// next day, 31 February is early March, month 0 is December of the year before); the weekday
// is ignored. A local time that a daylight-saving change skips or repeats is resolved by the
// C library. Nothing when the C library cannot represent the result.
std::optional<int64_t> FromLocalTime(const CalendarTime& local);
// The same for a UTC calendar time: plain calendar arithmetic, which cannot fail.
int64_t FromUtcTime(const CalendarTime& utc);

// Whether the zone knows daylight-saving time around a moment, and which time is in force.
enum class ZoneState { kNoRules, kStandard, kDaylight };

// The Windows time-zone record. Biases are minutes west of UTC:
// UTC = local time + bias + (standardBias or daylightBias, whichever is in force).
struct TimeZoneRecord {
  ZoneState state = ZoneState::kNoRules;
  int32_t bias = 0;
  std::string standardName;  // the C library's abbreviation, e.g. "CET"
  int32_t standardBias = 0;  // always 0: bias is the standard offset
  std::string daylightName;  // e.g. "CEST"; the standard name in a zone without rules
  int32_t daylightBias = 0;  // e.g. -60; 0 in a zone without rules
};

// The record for the moment `when`. The zone has rules when its local time switches between
// standard and daylight time within half a year either side of `when` (so a zone that gave up
// daylight saving long ago, such as Asia/Tokyo, has none). Nothing when the C library cannot
// convert `when`.
std::optional<TimeZoneRecord> QueryTimeZone(int64_t when);

}  // namespace platform

#endif
