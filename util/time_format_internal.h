// The C++ side of the date and time texts (time_format.h): what the module's files share, and
// the reader of mail date values.
#ifndef LINDAVOX_UTIL_TIME_FORMAT_INTERNAL_H
#define LINDAVOX_UTIL_TIME_FORMAT_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "platform/time_zone.h"
#include "util/time_format.h"

namespace util {

// Room of a caller's buffer for the short texts: 40 characters and the terminator.
inline constexpr size_t kShortTextSize = 41;
// Room for a mail date line: 79 characters and the terminator.
inline constexpr size_t kDateLineSize = 80;

// "Jan" to "Dec" for months 1-12, "" for any other month.
const char* EnglishMonth(int month);

// A count of seconds at the 32-bit interface: INT32_MAX / INT32_MIN beyond its range.
int32_t ClampSeconds(int64_t seconds);

// Reads a mail date value such as "Sun, 06 Dec 2026 13:30:11 +0100" (the weekday is optional,
// the seconds too) and stores the stated moment as a packed UTC date-time at `result` (all four
// bytes, little-endian). The date must lie in the current year or the year before, and every
// field must be well-formed; the zone is "+HHMM" or "-HHMM" anywhere after the time, "GMT", a
// military letter (A-I, K-M west, N-Y east) or a North American zone (EST, EDT, CST, ...).
// Returns false, leaving `result` alone, for anything else (a null argument included). Only
// the first 259 characters of `text` are read.
bool ParseRFCDate(PackedDateTime* result, const char* text);

}  // namespace util

#endif
