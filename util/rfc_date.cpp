// The mail date line ("Date: Sun,  6 Dec 2026 14:30:11 +0100 (CET)").
//
// The zone part is worked out from the Windows time-zone record the way the product family has
// always done it: the names the record carries (here the C library's abbreviations, which hold
// no ')') are dropped, and Central European time and UTC get their fixed names. The record is
// the one in force at the time written, so a summer time written in winter says +0200.
#include <cstdio>
#include <string>

#include "platform/c_boundary.h"
#include "platform/little_endian.h"
#include "platform/packed_time.h"
#include "platform/time_zone.h"
#include "platform/wall_clock.h"
#include "util/time_format.h"
#include "util/time_format_internal.h"

namespace util {
namespace {

// The time of the last date line built, for unique lines. Process-wide, as callers expect.
int64_t g_lastStamp = 0;

constexpr size_t kZoneNameMax = 39;

struct ZoneStamp {
  char sign = '+';
  int32_t minutes = 0;  // magnitude of the offset from UTC
  std::string name;     // "(CET)", or empty
};

// A zone name is kept up to and including its first ')', at most 39 characters; a name
// without ')' is dropped.
std::string NameUpToParenthesis(const std::string& name) {
  const size_t close = name.find(')');
  if (close == std::string::npos) return "";
  return name.substr(0, close + 1 < kZoneNameMax ? close + 1 : kZoneNameMax);
}

void SetOffset(ZoneStamp* stamp, int32_t minutesEast, bool zeroIsWest) {
  if (minutesEast < 0 || (zeroIsWest && minutesEast == 0)) stamp->sign = '-';
  stamp->minutes = minutesEast < 0 ? -minutesEast : minutesEast;
}

ZoneStamp StampFor(const std::optional<platform::TimeZoneRecord>& zone) {
  ZoneStamp stamp;
  platform::TimeZoneRecord record;  // a failed query reads as UTC without rules
  if (zone) {
    record = *zone;
    switch (record.state) {
      case platform::ZoneState::kNoRules:
        SetOffset(&stamp, -record.bias, false);
        break;
      case platform::ZoneState::kStandard:
        record.daylightBias = 0;
        SetOffset(&stamp, -record.bias, true);
        stamp.name = NameUpToParenthesis(record.standardName);
        if (stamp.minutes == 60) stamp.name = "(CET)";
        break;
      case platform::ZoneState::kDaylight:
        SetOffset(&stamp, -(record.bias + record.daylightBias), false);
        stamp.name = NameUpToParenthesis(record.daylightName);
        if (stamp.minutes == 120) stamp.name = "(CEST)";
        break;
    }
  }
  if (stamp.minutes == 0) stamp.sign = '-';
  if (stamp.name.empty()) {
    if (record.bias == -60) {
      stamp.name = record.daylightBias == -60 ? "(CEST)" : "(CET)";
    } else if (record.bias == 0 && record.daylightBias == 0) {
      stamp.name = "(GMT)";
    }
  }
  return stamp;
}

// The time a line is built for: the packed local time, or now; moved past the last line's
// time when it must be unique. Every line's time becomes the last one.
int64_t StampTime(const PackedDateTime* packed, bool unique) {
  int64_t seconds = platform::Now().seconds;
  if (packed) {
    const uint32_t value = platform::LoadLE32(reinterpret_cast<const unsigned char*>(packed));
    seconds = platform::PackedToSeconds(value).value_or(seconds);
  }
  if (unique && seconds <= g_lastStamp) seconds = g_lastStamp + 1;
  g_lastStamp = seconds;
  return seconds;
}

void BuildDateLine(char* buffer, size_t size, bool withPrefix, bool unique,
                   const PackedDateTime* packed) {
  static const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  const int64_t seconds = StampTime(packed, unique);
  const platform::CalendarTime t =
      platform::ToLocalTime(seconds).value_or(platform::CalendarTime{});
  const ZoneStamp zone = StampFor(platform::QueryTimeZone(seconds));
  std::snprintf(buffer, size, "%s%s, %2d %s %04d %02d:%02d:%02d %c%02d%02d %s\r\n",
                withPrefix ? "Date: " : "", kWeekdays[t.weekday % 7], t.day, EnglishMonth(t.month),
                t.year, t.hour, t.minute, t.second, zone.sign, zone.minutes / 60, zone.minutes % 60,
                zone.name.c_str());
}

}  // namespace
}  // namespace util

void TIME_GetRFCDate(char* buffer, uint8_t withPrefix, uint8_t unique,
                     const PackedDateTime* packed) {
  if (!buffer) return;
  buffer[0] = '\0';
  platform::CallNoThrow(0, [&] {
    util::BuildDateLine(buffer, util::kDateLineSize, withPrefix, unique, packed);
    return 0;
  });
}

int32_t TIME_WriteRFCDate(FILE* stream, uint8_t withPrefix, uint8_t unique,
                          const PackedDateTime* packed) {
  if (!stream) return -1;
  char line[100];
  TIME_GetRFCDate(line, withPrefix, unique, packed);
  return std::fprintf(stream, "%s", line);
}
