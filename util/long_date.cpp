// The German long form of a file's last-write time ("Sonntag, 06 Dezember 2026 13:30:11"), in
// both generations: the card editor's takes weekday and month names from the language file,
// the balance query's uses the built-in German names.
//
// Windows refuses entries without a creation time here; every entry has one on Linux (its
// birth time, else its last-write time), so only a missing entry gives the empty text.
#include <cstdio>
#include <optional>

#include "lang/lang.h"
#include "platform/c_boundary.h"
#include "platform/dir_search.h"
#include "platform/time_zone.h"
#include "util/time_format.h"

namespace util {
namespace {

enum class NameSource { kLanguageFile, kBuiltIn };

// A weekday or month name keeps at most 19 characters.
constexpr size_t kNameFieldSize = 20;

// The result text, replaced by every call.
char g_longDate[100];

// The built-in names, keys 1-19 of the language file's section "lib": weekdays from Sunday,
// then months from January.
constexpr const char* kGermanNames[] = {
    "Sonntag", "Montag",    "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag",
    "Januar",  "Februar",   "März",     "April",    "Mai",        "Juni",    "Juli",
    "August",  "September", "Oktober",  "November", "Dezember"};
constexpr int kFirstMonthKey = 8;

// The name of key `key` of section "lib" in `field`; an unknown key gives the empty name.
void CopyName(char (&field)[kNameFieldSize], int key, NameSource source) {
  field[0] = '\0';
  if (key < 1 || key > 19) return;
  char fallback[kNameFieldSize];
  std::snprintf(fallback, sizeof fallback, "%s", kGermanNames[key - 1]);
  const char* name = fallback;
  if (source == NameSource::kLanguageFile) {
    name = LSS(LS_SECTION_LIB, key, fallback, 1, LS_COLON_KEEP, 0);
  }
  std::snprintf(field, sizeof field, "%s", name);
}

std::optional<platform::CalendarTime> LastWriteTime(const char* path) {
  platform::DirSearch search;
  if (!search.First(path, platform::kAllEntries)) return std::nullopt;
  return platform::ToLocalTime(search.entry().lastWriteTime);
}

char* LongDate(const char* path, NameSource source) {
  g_longDate[0] = '\0';
  if (!path) return g_longDate;
  const std::optional<platform::CalendarTime> t = LastWriteTime(path);
  if (!t) return g_longDate;
  const bool validWeekday = t->weekday >= 0 && t->weekday <= 6;
  const bool validMonth = t->month >= 1 && t->month <= 12;
  char weekday[kNameFieldSize];
  char month[kNameFieldSize];
  CopyName(weekday, validWeekday ? t->weekday + 1 : 0, source);
  CopyName(month, validMonth ? t->month + kFirstMonthKey - 1 : 0, source);
  std::snprintf(g_longDate, sizeof g_longDate, "%s, %02d %s %04d %02d:%02d:%02d", weekday, t->day,
                month, t->year, t->hour, t->minute, t->second);
  return g_longDate;
}

char* LongDateNoThrow(const char* path, NameSource source) {
  g_longDate[0] = '\0';
  return platform::CallNoThrow(static_cast<char*>(g_longDate),
                               [&] { return LongDate(path, source); });
}

}  // namespace
}  // namespace util

char* TIME_GetRFCDate_byFilename(const char* path) {
  return util::LongDateNoThrow(path, util::NameSource::kLanguageFile);
}

char* GetFileTimeString(const char* path) {
  return util::LongDateNoThrow(path, util::NameSource::kBuiltIn);
}
