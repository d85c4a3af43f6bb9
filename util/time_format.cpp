// The numeric and English short date texts, the packed words, SYSTEMTIME and FILETIME, in both
// generations. The date lines are in rfc_date.cpp, the German long form in long_date.cpp.
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/c_boundary.h"
#include "platform/little_endian.h"
#include "platform/packed_time.h"
#include "platform/time_zone.h"
#include "platform/wall_clock.h"
#include "util/time_format.h"
#include "util/time_format_internal.h"

namespace util {
namespace {

using platform::CalendarTime;

// FILETIME counts 100-nanosecond steps from 1601-01-01 00:00 UTC, 11644473600 s before 1970.
constexpr int64_t kFileTimeEpochOffset = 11644473600;
constexpr uint64_t kFileTimeTicksPerSecond = 10000000;

// The local time of a moment the calendar can always hold (any 32-bit count, the current
// time, a packed date-time moved by a 32-bit offset).
CalendarTime LocalTimeOf(int64_t seconds) {
  return platform::ToLocalTime(seconds).value_or(CalendarTime{});
}

CalendarTime LocalNow() { return LocalTimeOf(platform::Now().seconds); }

// Writes a short text into the caller's buffer, never more than kShortTextSize bytes.
__attribute__((format(printf, 2, 3))) char* PrintShort(char* buffer, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(buffer, kShortTextSize, format, arguments);
  va_end(arguments);
  return buffer;
}

char* EmptyText(char* buffer) {
  if (buffer) buffer[0] = '\0';
  return buffer;
}

// "06.12.2026 13:30", or "06.12.26 13:30" with the year modulo 100.
char* DayMonthYearHourMinute(char* buffer, const CalendarTime& t, bool fourDigitYear) {
  if (fourDigitYear) {
    return PrintShort(buffer, "%02d.%02d.%04d %02d:%02d", t.day, t.month, t.year, t.hour, t.minute);
  }
  return PrintShort(buffer, "%02d.%02d.%02d %02d:%02d", t.day, t.month, t.year % 100, t.hour,
                    t.minute);
}

CalendarTime FromRecords(const DateRecord& date, const TimeRecord& time) {
  CalendarTime t;
  t.year = date.year;
  t.month = date.month;
  t.day = date.day;
  t.hour = time.hour;
  t.minute = time.minute;
  t.second = time.second;
  return t;
}

// The packed words as date, separator and time of day, cut to 40 characters. A separator may
// hold a zero byte (the character form allows any char), which then ends the text early.
char* PackedWordsText(char* buffer, uint32_t dateWord, uint32_t timeWord, bool withSeconds,
                      std::string_view separator, bool fourDigitYear) {
  const CalendarTime t = platform::UnpackWords(dateWord, timeWord);
  char date[16];
  char clock[16];
  if (withSeconds || !fourDigitYear) {
    std::snprintf(date, sizeof date, "%02d.%02d.%02d", t.day, t.month, t.year % 100);
  } else {
    std::snprintf(date, sizeof date, "%02d.%02d.%04d", t.day, t.month, t.year);
  }
  if (withSeconds) {
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  } else {
    std::snprintf(clock, sizeof clock, "%02d:%02d", t.hour, t.minute);
  }
  size_t length = 0;
  for (const std::string_view piece :
       {std::string_view(date), separator, std::string_view(clock)}) {
    const size_t room = kShortTextSize - 1 - length;
    const size_t count = piece.size() < room ? piece.size() : room;
    std::memcpy(buffer + length, piece.data(), count);
    length += count;
  }
  buffer[length] = '\0';
  return buffer;
}

char* FileTimeText(char* buffer, const FILETIME* time, int32_t* second) {
  *second = 0;
  if (!time) return EmptyText(buffer);
  const uint64_t ticks = (uint64_t{time->dwHighDateTime} << 32) | time->dwLowDateTime;
  const int64_t seconds =
      static_cast<int64_t>(ticks / kFileTimeTicksPerSecond) - kFileTimeEpochOffset;
  const std::optional<CalendarTime> local = platform::ToLocalTime(seconds);
  if (!local) return EmptyText(buffer);
  *second = local->second;
  return DayMonthYearHourMinute(buffer, *local, true);
}

}  // namespace

const char* EnglishMonth(int month) {
  static const char* const kMonths[] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  return month >= 1 && month <= 12 ? kMonths[month] : "";
}

int32_t ClampSeconds(int64_t seconds) {
  if (seconds > INT32_MAX) return INT32_MAX;
  if (seconds < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(seconds);
}

}  // namespace util

using util::PrintShort;

char* TIME_GetAktDateString(char* buffer, uint8_t withHundredths) {
  if (!buffer) return nullptr;
  const platform::WallTime now = platform::Now();
  const platform::CalendarTime t = util::LocalTimeOf(now.seconds);
  if (withHundredths) {
    return PrintShort(buffer, "%02d.%02d.%02d %02d:%02d:%02d.%02d", t.day, t.month, t.year % 100,
                      t.hour, t.minute, t.second, now.nanoseconds / 10000000);
  }
  return PrintShort(buffer, "%02d.%02d.%02d %02d:%02d:%02d", t.day, t.month, t.year % 100, t.hour,
                    t.minute, t.second);
}

void TIME_struct2ffblk(uint32_t* dateWord, uint32_t* timeWord, const DateRecord* date,
                       const TimeRecord* time) {
  if (!dateWord || !timeWord || !date || !time) return;
  *dateWord = uint32_t{date->day} | uint32_t{date->month} << 5 |
              (static_cast<uint32_t>(date->year) - 1980u) << 9;
  *timeWord = uint32_t{time->second} / 2 | uint32_t{time->minute} << 5 | uint32_t{time->hour} << 11;
}

void TIME_ffblk2struct(DateRecord* date, TimeRecord* time, uint32_t dateWord, uint32_t timeWord) {
  if (!date || !time) return;
  const platform::CalendarTime t = platform::UnpackWords(dateWord, timeWord);
  date->year = t.year;
  date->day = static_cast<uint8_t>(t.day);
  date->month = static_cast<uint8_t>(t.month);
  time->hour = static_cast<uint8_t>(t.hour);
  time->minute = static_cast<uint8_t>(t.minute);
  time->second = static_cast<uint8_t>(t.second);
  time->hundredths = 0;
}

char* TIME_struct2string(char* buffer, const DateRecord* date, const TimeRecord* time,
                         uint8_t fourDigitYear) {
  if (!buffer || !date || !time) return util::EmptyText(buffer);
  return util::DayMonthYearHourMinute(buffer, util::FromRecords(*date, *time), fourDigitYear);
}

char* TIME_unix2string(char* buffer, int32_t seconds, uint8_t fourDigitYear) {
  if (!buffer) return nullptr;
  return util::DayMonthYearHourMinute(buffer, util::LocalTimeOf(seconds), fourDigitYear);
}

char* TIME_ffblk2string(char* buffer, uint32_t dateWord, uint32_t timeWord, uint8_t withSeconds,
                        char separator, uint8_t fourDigitYear) {
  if (!buffer) return nullptr;
  return util::PackedWordsText(buffer, dateWord, timeWord, withSeconds,
                               std::string_view(&separator, 1), fourDigitYear);
}

char* TIME_ffblk2string2(char* buffer, uint32_t dateWord, uint32_t timeWord) {
  if (!buffer) return nullptr;
  const platform::CalendarTime t = platform::UnpackWords(dateWord, timeWord);
  return PrintShort(buffer, "%02d-%s-%04d %02d:%02d GMT", t.day, util::EnglishMonth(t.month),
                    t.year, t.hour, t.minute);
}

char* TIME_Datestring(char* buffer) {
  if (!buffer) return nullptr;
  const platform::CalendarTime t = util::LocalNow();
  return PrintShort(buffer, "%02d %s %04d", t.day, util::EnglishMonth(t.month), t.year);
}

int32_t ftimetounix(const PackedDateTime* packed) {
  if (!packed) return 0;
  const uint32_t value = platform::LoadLE32(reinterpret_cast<const unsigned char*>(packed));
  return util::ClampSeconds(platform::PackedToSeconds(value).value_or(0));
}

char* TIME_ftime2string(char* buffer, PackedDateTime packed, int32_t offsetSeconds) {
  if (!buffer) return nullptr;
  platform::CalendarTime t = platform::UnpackDateTime(packed);
  if (offsetSeconds != 0) {
    if (const std::optional<int64_t> seconds = platform::PackedToSeconds(packed)) {
      t = util::LocalTimeOf(*seconds + offsetSeconds);
    }
  }
  return util::DayMonthYearHourMinute(buffer, t, true);
}

int32_t TIME_GetMyTimeZoneDelay(void) {
  const std::optional<platform::TimeZoneRecord> zone =
      platform::CallNoThrow(std::optional<platform::TimeZoneRecord>(),
                            [] { return platform::QueryTimeZone(platform::Now().seconds); });
  if (!zone) return 0;
  if (zone->state == platform::ZoneState::kDaylight) return -(zone->bias + zone->daylightBias);
  return -zone->bias;
}

int32_t TIME_SYSTEMTIME2Unix(const SYSTEMTIME* time) {
  if (!time) return 0;
  platform::CalendarTime t;
  t.year = time->wYear;
  t.month = time->wMonth;
  t.day = time->wDay;
  t.hour = time->wHour;
  t.minute = time->wMinute;
  t.second = time->wSecond;
  return util::ClampSeconds(platform::FromLocalTime(t).value_or(0));
}

int32_t TIME_FILETIME2String(char* buffer, const FILETIME* time) {
  if (!buffer) return 0;
  int32_t second = 0;
  util::FileTimeText(buffer, time, &second);
  return second;
}

uint8_t TIME_GetRelativeSystemTime(SYSTEMTIME* time, int32_t days) {
  if (!time) return 0;
  // Whole days on the UTC time line: no local daylight-saving change can shift the hour.
  const int64_t moved = platform::Now().seconds + int64_t{days} * 86400;
  const platform::CalendarTime t = platform::ToUtcTime(moved).value_or(platform::CalendarTime{});
  time->wYear = static_cast<uint16_t>(t.year);
  time->wMonth = static_cast<uint16_t>(t.month);
  time->wDayOfWeek = 0;
  time->wDay = static_cast<uint16_t>(t.day);
  time->wHour = static_cast<uint16_t>(t.hour);
  time->wMinute = static_cast<uint16_t>(t.minute);
  time->wSecond = static_cast<uint16_t>(t.second);
  time->wMilliseconds = 0;
  return 1;
}

// The balance query's generation.

char* getdatestr(char* buffer, uint8_t withHundredths) {
  return TIME_GetAktDateString(buffer, withHundredths);
}

char* getemaildate(char* buffer) {
  if (!buffer) return nullptr;
  const platform::CalendarTime t = util::LocalNow();
  return PrintShort(buffer, "%02d.%02d.%02d %02d:%02d", t.day, t.month, t.year % 100, t.hour,
                    t.minute);
}

char* datetime2string(char* buffer, const DateRecord* date, const TimeRecord* time) {
  return TIME_struct2string(buffer, date, time, 0);
}

char* time2string(char* buffer, int32_t seconds) { return TIME_unix2string(buffer, seconds, 0); }

void Struct2ffblkTime(uint32_t* dateWord, uint32_t* timeWord, const DateRecord* date,
                      const TimeRecord* time) {
  TIME_struct2ffblk(dateWord, timeWord, date, time);
}

void ffblkTime2Struct(DateRecord* date, TimeRecord* time, uint32_t dateWord, uint32_t timeWord) {
  TIME_ffblk2struct(date, time, dateWord, timeWord);
}

char* ffblkTime2String(char* buffer, uint32_t dateWord, uint32_t timeWord, uint8_t withSeconds,
                       const char* separator) {
  if (!buffer) return nullptr;
  return util::PackedWordsText(buffer, dateWord, timeWord, withSeconds, separator ? separator : "",
                               false);
}

int32_t FileTime2String(char* buffer, const FILETIME* time) {
  return TIME_FILETIME2String(buffer, time);
}
