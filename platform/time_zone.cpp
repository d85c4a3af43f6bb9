#include "platform/time_zone.h"

#include <ctime>

namespace platform {
namespace {

static_assert(sizeof(time_t) == 8, "local time needs a 64-bit time_t");

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kSecondsPerWeek = 7 * kSecondsPerDay;

CalendarTime FromTm(const std::tm& tm) {
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
          tm.tm_min,         tm.tm_sec,     tm.tm_wday};
}

std::optional<std::tm> LocalTm(int64_t seconds) {
  const time_t t = seconds;
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return std::nullopt;
  return tm;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, month 1-12 (the
// well-known era arithmetic: 400-year eras of 146097 days, years starting in March).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

}  // namespace

std::optional<CalendarTime> ToLocalTime(int64_t seconds) {
  tzset();
  const std::optional<std::tm> tm = LocalTm(seconds);
  if (!tm) return std::nullopt;
  return FromTm(*tm);
}

std::optional<CalendarTime> ToUtcTime(int64_t seconds) {
  const time_t t = seconds;
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) return std::nullopt;
  return FromTm(tm);
}

std::optional<int64_t> FromLocalTime(const CalendarTime& local) {
  std::tm tm{};
  tm.tm_year = local.year - 1900;
  tm.tm_mon = local.month - 1;
  tm.tm_mday = local.day;
  tm.tm_hour = local.hour;
  tm.tm_min = local.minute;
  tm.tm_sec = local.second;
  tm.tm_isdst = -1;
  tm.tm_wday = -1;  // mktime sets it on success only, so -1 left over tells a failure
  const time_t seconds = mktime(&tm);
  if (seconds == -1 && tm.tm_wday == -1) return std::nullopt;
  return static_cast<int64_t>(seconds);
}

int64_t FromUtcTime(const CalendarTime& utc) {
  const int64_t months = static_cast<int64_t>(utc.month) - 1;
  const int64_t year = utc.year + FloorDiv(months, 12);
  const int64_t month = months - FloorDiv(months, 12) * 12 + 1;
  const int64_t days = DaysFromCivil(year, month, 1) + utc.day - 1;
  return days * kSecondsPerDay + int64_t{utc.hour} * 3600 + int64_t{utc.minute} * 60 + utc.second;
}

std::optional<TimeZoneRecord> QueryTimeZone(int64_t when) {
  tzset();
  const std::optional<std::tm> at = LocalTm(when);
  if (!at) return std::nullopt;
  const bool flaggedNow = at->tm_isdst > 0;

  // The nearest moment, week by week outwards, that lies in the other kind of time.
  std::optional<std::tm> other;
  for (int64_t week = 1; week <= 26 && !other; ++week) {
    for (const int64_t direction : {-1, 1}) {
      const std::optional<std::tm> probe = LocalTm(when + direction * week * kSecondsPerWeek);
      if (probe && probe->tm_isdst >= 0 && (probe->tm_isdst > 0) != flaggedNow) {
        other = probe;
        break;
      }
    }
  }

  TimeZoneRecord record;
  if (!other) {
    record.bias = static_cast<int32_t>(-at->tm_gmtoff / 60);
    record.standardName = record.daylightName = at->tm_zone ? at->tm_zone : "";
    return record;
  }
  // Windows knows daylight time only as the clock set forward. Ireland's zone data flags winter
  // (GMT) as the daylight period, with a saving of minus one hour below its summer time (IST),
  // so the period with the larger offset is daylight time, whatever the flag says; only two
  // periods of one offset go by the flag.
  const bool daylightNow =
      at->tm_gmtoff != other->tm_gmtoff ? at->tm_gmtoff > other->tm_gmtoff : flaggedNow;
  const std::tm& standard = daylightNow ? *other : *at;
  const std::tm& daylight = daylightNow ? *at : *other;
  record.state = daylightNow ? ZoneState::kDaylight : ZoneState::kStandard;
  record.bias = static_cast<int32_t>(-standard.tm_gmtoff / 60);
  record.daylightBias = static_cast<int32_t>(-(daylight.tm_gmtoff - standard.tm_gmtoff) / 60);
  record.standardName = standard.tm_zone ? standard.tm_zone : "";
  record.daylightName = daylight.tm_zone ? daylight.tm_zone : "";
  return record;
}

}  // namespace platform
