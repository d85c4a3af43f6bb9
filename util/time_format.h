/* Date and time texts: the current clock, packed MS-DOS date and time words, seconds since
 * 1970, Windows SYSTEMTIME and FILETIME values and a file's last-write time, written as the
 * texts of the product family: the German numeric form (06.12.26 13:30), mail date lines
 * ("Date: Sun,  6 Dec 2026 13:30:11 +0100 (CET)"), the German long form ("Sonntag, 06 Dezember
 * 2026 13:30:11") and an English short form (06 Dec 2026).
 *
 * Conventions. Texts are Windows-1252 bytes. Every function that takes a buffer writes a
 * terminated text of at most 40 characters into it (the date lines at most 79) and returns it;
 * a null buffer gives null and writes nothing. Any other null pointer leaves the empty text in
 * the buffer, or makes a function without a buffer do nothing (and return 0). Only the low byte of
 * a uint8_t flag counts. "Local time" follows the machine's zone rules (TZ, tzdata) for the date in
 * question. Seconds since 1970 are signed 32-bit here, so they end on 2038-01-19 03:14:07 UTC;
 * inside, every computation uses 64-bit time, and a function that must return a count beyond that
 * range returns INT32_MAX (or INT32_MIN before 1901-12-13). Date words and time words are packed
 * MS-DOS words in the low 16 bits of a uint32_t; a PackedDateTime holds the time word in its low
 * and the date word in its high 16 bits and is read from and written to memory as 4 little-endian
 * bytes.
 *
 * Two functions keep state for the whole process and are not reentrant: the date lines remember
 * the last time they wrote, and TIME_GetRFCDate_byFilename / GetFileTimeString return one
 * static text, replaced by each call.
 *
 * The card editor (vantor) exports the TIME_ names and ftimetounix; the balance query (quillet)
 * exports the older generation at the end of this header. */
#ifndef LINDAVOX_UTIL_TIME_FORMAT_H
#define LINDAVOX_UTIL_TIME_FORMAT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "platform/export.h"

typedef uint32_t PackedDateTime;

/* A calendar date: the full year (2026), day 1-31, month 1-12. */
typedef struct DateRecord {
  int32_t year;
  uint8_t day;
  uint8_t month;
} DateRecord;

/* A time of day. */
typedef struct TimeRecord {
  uint8_t minute;
  uint8_t hour;
  uint8_t hundredths;
  uint8_t second;
} TimeRecord;

/* As Windows lays them out: a date and time with the day of the week (0 = Sunday), and a count
 * of 100-nanosecond intervals since 1601-01-01 00:00 UTC. */
typedef struct SYSTEMTIME {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
} SYSTEMTIME;

typedef struct FILETIME {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
} FILETIME;

#ifdef __cplusplus
#define LV_TIME_ASSERT static_assert
#else
#define LV_TIME_ASSERT _Static_assert
#endif
LV_TIME_ASSERT(sizeof(PackedDateTime) == 4, "PackedDateTime is 32 bits");
LV_TIME_ASSERT(sizeof(DateRecord) == 8 && offsetof(DateRecord, day) == 4 &&
                   offsetof(DateRecord, month) == 5,
               "DateRecord layout");
LV_TIME_ASSERT(sizeof(TimeRecord) == 4 && offsetof(TimeRecord, hundredths) == 2 &&
                   offsetof(TimeRecord, second) == 3,
               "TimeRecord layout");
LV_TIME_ASSERT(sizeof(SYSTEMTIME) == 16 && offsetof(SYSTEMTIME, wDay) == 6 &&
                   offsetof(SYSTEMTIME, wMilliseconds) == 14,
               "SYSTEMTIME layout");
LV_TIME_ASSERT(sizeof(FILETIME) == 8 && offsetof(FILETIME, dwHighDateTime) == 4, "FILETIME layout");
#undef LV_TIME_ASSERT

/* The current local date and time, "06.12.26 13:30:11", or with hundredths
 * "06.12.26 13:30:11.42". */
LV_API char* TIME_GetAktDateString(char* buffer, uint8_t withHundredths);

/* Packs a date and a time into a date word (day | month << 5 | (year - 1980) << 9) and a time
 * word (second / 2 | minute << 5 | hour << 11). Fields are not checked or cut. */
LV_API void TIME_struct2ffblk(uint32_t* dateWord, uint32_t* timeWord, const DateRecord* date,
                              const TimeRecord* time);

/* Unpacks a date word and a time word; hundredths become 0. */
LV_API void TIME_ffblk2struct(DateRecord* date, TimeRecord* time, uint32_t dateWord,
                              uint32_t timeWord);

/* "06.12.2026 13:30" with fourDigitYear, else "06.12.26 13:30" (the year modulo 100). */
LV_API char* TIME_struct2string(char* buffer, const DateRecord* date, const TimeRecord* time,
                                uint8_t fourDigitYear);

/* The local time of `seconds` as TIME_struct2string writes it. */
LV_API char* TIME_unix2string(char* buffer, int32_t seconds, uint8_t fourDigitYear);

/* The words as "06.12.26<separator>13:30:11" with seconds (always the two-digit year), else
 * "06.12.2026<separator>13:30" or "06.12.26<separator>13:30". */
LV_API char* TIME_ffblk2string(char* buffer, uint32_t dateWord, uint32_t timeWord,
                               uint8_t withSeconds, char separator, uint8_t fourDigitYear);

/* The words unchanged as "06-Dec-2026 13:30 GMT"; a month outside 1-12 leaves its name empty. */
LV_API char* TIME_ffblk2string2(char* buffer, uint32_t dateWord, uint32_t timeWord);

/* Today's local date as "06 Dec 2026". */
LV_API char* TIME_Datestring(char* buffer);

/* Seconds since 1970 of the packed local date and time at `packed` (seconds field included);
 * INT32_MAX from 2038-01-19 03:14:08 UTC on. A null address gives 0. */
LV_API int32_t ftimetounix(const PackedDateTime* packed);

/* The packed date and time as "06.12.2026 13:30", moved by `offsetSeconds` first when that is
 * not 0 (through local time, so beyond 2038 too). */
LV_API char* TIME_ftime2string(char* buffer, PackedDateTime packed, int32_t offsetSeconds);

/* The mail date line "Date: Sun,  6 Dec 2026 14:30:11 +0100 (CET)\r\n" (without "Date: " when
 * withPrefix is 0) of the local time at `packed`, or of now when `packed` is null. The zone
 * offset and name are those in force at that time: -0000 (GMT) at UTC, +0100 (CET) and
 * +0200 (CEST) in Central Europe, no name elsewhere (the line then ends in a blank before the
 * CR LF). With `unique` set, a time not later than the last line's is moved to one second after
 * it, so successive unique lines carry strictly increasing times; any line remembers its time.
 * `buffer` needs 80 bytes. */
LV_API void TIME_GetRFCDate(char* buffer, uint8_t withPrefix, uint8_t unique,
                            const PackedDateTime* packed);

/* Writes the same line to `stream`. Returns the number of characters written, or a negative
 * number on a write error or a null stream. */
LV_API int32_t TIME_WriteRFCDate(FILE* stream, uint8_t withPrefix, uint8_t unique,
                                 const PackedDateTime* packed);

/* The last-write time of the first entry matching `path` (wildcards allowed in its last part)
 * as "Sonntag, 06 Dezember 2026 13:30:11", weekday and month names from section "lib" of the
 * language file (each cut to 19 characters), or "" when nothing matches. Returns a static text
 * of at most 99 characters, replaced by the next call. */
LV_API char* TIME_GetRFCDate_byFilename(const char* path);

/* Minutes that local time is ahead of UTC now (60 in Central European winter, -300 in New York
 * winter); 0 when the zone cannot be read. */
LV_API int32_t TIME_GetMyTimeZoneDelay(void);

/* Seconds since 1970 of the local date and time in the record (day of the week and
 * milliseconds ignored; fields beyond their range carry over); INT32_MAX / INT32_MIN beyond the
 * 32-bit range. A null record gives 0. */
LV_API int32_t TIME_SYSTEMTIME2Unix(const SYSTEMTIME* time);

/* The local time of the file time as "06.12.2026 13:30" in `buffer`; returns its seconds
 * (0-59). A file time the calendar cannot hold leaves "" and returns 0. */
LV_API int32_t TIME_FILETIME2String(char* buffer, const FILETIME* time);

/* The current UTC date and time moved by `days` whole days into `time` (day of the week and
 * milliseconds 0). Returns 1; 0 for a null record. */
LV_API uint8_t TIME_GetRelativeSystemTime(SYSTEMTIME* time, int32_t days);

/* The balance query's older generation. Each behaves as the function named beside it:
 * getdatestr         TIME_GetAktDateString
 * getemaildate       the current local date and time "06.12.26 13:30"
 * datetime2string    TIME_struct2string with the two-digit year
 * time2string        TIME_unix2string with the two-digit year
 * Struct2ffblkTime   TIME_struct2ffblk
 * ffblkTime2Struct   TIME_ffblk2struct
 * ffblkTime2String   TIME_ffblk2string with the two-digit year and a separator text (null: none;
 *                    the whole text is cut to 40 characters)
 * FileTime2String    TIME_FILETIME2String
 * GetFileTimeString  TIME_GetRFCDate_byFilename with the built-in German names */
LV_API char* getdatestr(char* buffer, uint8_t withHundredths);
LV_API char* getemaildate(char* buffer);
LV_API char* datetime2string(char* buffer, const DateRecord* date, const TimeRecord* time);
LV_API char* time2string(char* buffer, int32_t seconds);
LV_API void Struct2ffblkTime(uint32_t* dateWord, uint32_t* timeWord, const DateRecord* date,
                             const TimeRecord* time);
LV_API void ffblkTime2Struct(DateRecord* date, TimeRecord* time, uint32_t dateWord,
                             uint32_t timeWord);
LV_API char* ffblkTime2String(char* buffer, uint32_t dateWord, uint32_t timeWord,
                              uint8_t withSeconds, const char* separator);
LV_API int32_t FileTime2String(char* buffer, const FILETIME* time);
LV_API char* GetFileTimeString(const char* path);

#endif
