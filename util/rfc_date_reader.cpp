// Reading a mail date value back into a packed UTC date-time: the inverse of the date line.
//
// The text comes from outside (mail headers), so every field is checked and nothing is read
// beyond the first 259 characters. The stated moment is moved to UTC on the UTC time line
// itself, so no daylight-saving change of the local zone can shift it.
#include <climits>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/little_endian.h"
#include "platform/packed_time.h"
#include "platform/time_zone.h"
#include "platform/wall_clock.h"
#include "util/decimal.h"
#include "util/time_format_internal.h"

namespace util {
namespace {

constexpr size_t kReadLimit = 259;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Takes the fields of a date value from the front of the text.
class FieldReader {
 public:
  explicit FieldReader(std::string_view text) : rest_(text) {}

  // The characters before the first of `ends`; that character is consumed too and reported in
  // `*found`. Nothing when none of `ends` occurs: a field must be ended.
  std::optional<std::string_view> Take(std::string_view ends, char* found = nullptr) {
    const size_t end = rest_.find_first_of(ends);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view field = rest_.substr(0, end);
    if (found) *found = rest_[end];
    rest_.remove_prefix(end + 1);
    return field;
  }
  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
};

// A decimal field of at most `maxLength` characters whose value lies in low..high. The number
// is read as atoi reads it: blanks and a sign first, digits up to the first other character, 0
// without digits.
std::optional<int> Number(std::optional<std::string_view> field, size_t maxLength, int low,
                          int high) {
  if (!field || field->size() > maxLength) return std::nullopt;
  char digits[8] = {};
  std::memcpy(digits, field->data(), field->size());
  const int value = ParseDecimal32(digits);
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::optional<int> Month(std::optional<std::string_view> field) {
  static const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  if (!field || field->size() > 3) return std::nullopt;
  char upper[4] = {};
  for (size_t i = 0; i < field->size(); ++i) upper[i] = UpperAscii((*field)[i]);
  for (int month = 0; month < 12; ++month) {
    if (std::strcmp(upper, kMonths[month]) == 0) return month + 1;
  }
  return std::nullopt;
}

// Two-digit years: 81-99 are 1981-1999, below 81 is 2000 on. Only this year and the last count.
std::optional<int> Year(std::optional<std::string_view> field, int thisYear) {
  std::optional<int> year = Number(field, 4, INT_MIN, INT_MAX);
  if (!year) return std::nullopt;
  if (*year >= 81 && *year <= 99) {
    *year += 1900;
  } else if (*year < 81) {
    *year += 2000;
  }
  if (*year != thisYear && *year != thisYear - 1) return std::nullopt;
  return year;
}

// "+HHMM" / "-HHMM" (exactly four digits after the sign, wherever the sign stands; '+' is
// looked for first).
std::optional<int> NumericZone(std::string_view zone) {
  int direction = 1;
  size_t sign = zone.find('+');
  if (sign == std::string_view::npos) {
    direction = -1;
    sign = zone.find('-');
  }
  if (sign == std::string_view::npos) return std::nullopt;
  const std::string_view digits = zone.substr(sign + 1, 4);
  if (digits.size() != 4) return std::nullopt;
  for (const char c : digits) {
    if (!IsDigit(c)) return std::nullopt;
  }
  const int hours = (digits[0] - '0') * 10 + (digits[1] - '0');
  const int minutes = (digits[2] - '0') * 10 + (digits[3] - '0');
  return direction * (hours * 60 + minutes);
}

// Military letters (A-I and K-M west, N-Y east; J and Z are not zones), GMT, and the North
// American zones EST/EDT, CST/CDT, MST/MDT, PST/PDT, AST/ADT.
std::optional<int> NamedZone(std::string_view zone) {
  while (!zone.empty() && IsBlank(zone.front())) zone.remove_prefix(1);
  while (!zone.empty() && IsBlank(zone.back())) zone.remove_suffix(1);
  if (zone.size() > 3) return std::nullopt;
  char name[4] = {};
  for (size_t i = 0; i < zone.size(); ++i) name[i] = UpperAscii(zone[i]);

  if (zone.size() == 1) {
    const char letter = name[0];
    if (letter >= 'A' && letter <= 'I') return -(letter - 'A' + 1) * 60;
    if (letter >= 'K' && letter <= 'M') return -(letter - 'K' + 10) * 60;
    if (letter >= 'N' && letter <= 'Y') return (letter - 'N' + 1) * 60;
    return std::nullopt;
  }
  if (std::strcmp(name, "GMT") == 0) return 0;
  if (zone.size() == 3 && name[2] == 'T' && (name[1] == 'S' || name[1] == 'D')) {
    static constexpr std::string_view kRegions = "ECMPA";
    static constexpr int kStandardHoursWest[] = {5, 6, 7, 8, 4};
    const size_t region = kRegions.find(name[0]);
    if (region == std::string_view::npos) return std::nullopt;
    const int hoursWest = kStandardHoursWest[region] - (name[1] == 'D' ? 1 : 0);
    return -hoursWest * 60;
  }
  return std::nullopt;
}

std::optional<int> ZoneMinutesEast(std::string_view zone) {
  if (zone.find_first_of("+-") != std::string_view::npos) return NumericZone(zone);
  return NamedZone(zone);
}

// Day, month, year, hour, minute and the optional seconds, each field ended by exactly one
// blank (the hour by ':', the minute by ':' when seconds follow).
std::optional<platform::CalendarTime> DateAndTime(FieldReader& fields, int thisYear) {
  platform::CalendarTime t;
  const std::optional<int> day = Number(fields.Take(" "), 2, 1, 31);
  if (!day) return std::nullopt;
  const std::optional<int> month = Month(fields.Take(" "));
  if (!month) return std::nullopt;
  const std::optional<int> year = Year(fields.Take(" "), thisYear);
  if (!year) return std::nullopt;
  const std::optional<int> hour = Number(fields.Take(":"), 2, 0, 24);
  if (!hour) return std::nullopt;
  char minuteEnd = 0;
  const std::optional<int> minute = Number(fields.Take(": ", &minuteEnd), 2, 0, 59);
  if (!minute) return std::nullopt;
  t.second = 0;
  if (minuteEnd == ':') {
    // The seconds must be followed by a blank, so "13:30:11+0100" is refused.
    const std::optional<int> second = Number(fields.Take(" "), 2, 0, 59);
    if (!second) return std::nullopt;
    t.second = *second;
  }
  t.year = *year;
  t.month = *month;
  t.day = *day;
  t.hour = *hour;
  t.minute = *minute;
  return t;
}

}  // namespace

bool ParseRFCDate(PackedDateTime* result, const char* text) {
  if (!result || !text) return false;
  std::string_view value(text, strnlen(text, kReadLimit));
  const size_t comma = value.find(',');
  if (comma != std::string_view::npos) value.remove_prefix(comma + 1);
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  if (value.empty()) return false;

  const int thisYear =
      platform::ToLocalTime(platform::Now().seconds).value_or(platform::CalendarTime{}).year;
  FieldReader fields(value);
  const std::optional<platform::CalendarTime> stated = DateAndTime(fields, thisYear);
  if (!stated) return false;
  const std::optional<int> minutesEast = ZoneMinutesEast(fields.rest());
  if (!minutesEast) return false;

  // Hour 24 and a day beyond the month's end carry over here.
  const int64_t utcSeconds = platform::FromUtcTime(*stated) - int64_t{*minutesEast} * 60;
  const std::optional<platform::CalendarTime> utc = platform::ToUtcTime(utcSeconds);
  if (!utc || utc->year < platform::kPackedFirstYear || utc->year > platform::kPackedLastYear) {
    return false;
  }
  platform::StoreLE32(reinterpret_cast<unsigned char*>(result), platform::PackDateTime(*utc));
  return true;
}

}  // namespace util
