/* Strings, paths and profile helpers of the utility library.
 *
 * Paths split at '/' and '\\' alike, so Windows-style names from configuration files still
 * split. Functions that build a text return a static buffer of 260 characters (20 for the
 * country code), one per function, overwritten by the next call of the same function; they are
 * not reentrant. Inputs longer than a buffer are cut to fit: a result is never longer than 259
 * characters (19 for the country code). Comparisons work on copies of at most 999 characters,
 * upper-cased with the Windows-1252 letter case; LIB_strcmp and LIB_strncmp then order them as
 * the Windows locale comparison does (symbols before digits before letters, accents after the
 * letters). Null text arguments count as empty texts; a null destination gives a null result.
 *
 * The balance query exports six of them under older names with the same behaviour: sName,
 * sNameBody, mystrncpy, GetCountryCode, mymemcpy, mymemset. */
#ifndef LINDAVOX_UTIL_LIB_STRINGS_H
#define LINDAVOX_UTIL_LIB_STRINGS_H

#include <stdint.h>

#include "platform/export.h"

/* Writes a key of an INI file (bare names are looked up in the configuration directory) or of
 * the user profile. Leading spaces of `key` and `value` are skipped and their trailing spaces
 * cut off in the caller's text (terminators written over them). A null key deletes the
 * section, a null value the key. Nonzero on success. */
LV_API int32_t LIB_WritePrivateProfileString(const char* section, char* key, char* value,
                                             const char* file);
LV_API int32_t LIB_WriteProfileString(const char* section, char* key, char* value);

/* The text after the last `separator` in `path` (a pointer into `path`), or `path` itself when
 * it has none. A separator '/' or '\\' matches both. */
LV_API char* LIB_Filename(const char* path, char separator);
/* The directory part up to and including the last separator; "" without one. */
LV_API char* LIB_sPath(const char* path);
/* The file name without directory and extension; a dot at the start of the name does not begin
 * an extension. */
LV_API char* LIB_FilenameBody(const char* path);
/* The text after the last dot of the file name (a dot at its start not counted); the whole
 * name when it has no such dot. */
LV_API char* LIB_FilenameExtension(const char* path);

/* A pointer into `text` at the first case-insensitive occurrence of `pattern`, or null. Only the
 * first 999 characters of each take part; an empty pattern matches at the start. */
LV_API char* LIB_strstr(const char* text, const char* pattern);
/* Case-insensitive locale comparison: <0, 0 or >0. */
LV_API int32_t LIB_strcmp(const char* text1, const char* text2);
/* As LIB_strcmp over the first `count` characters (at most 999; none when negative). */
LV_API int32_t LIB_strncmp(const char* text1, const char* text2, int32_t count);
/* Copies at most `count` characters, fills the rest of the first `count` places with
 * terminators and writes one more at `count`: `dest` must hold count + 1 characters. A
 * negative count writes nothing. Returns `dest`. */
LV_API char* LIB_strncpy(char* dest, const char* source, int32_t count);

/* The user profile's [Tarnwell] CountryCode, "49" by default. */
LV_API char* LIB_GetCountryCode(void);

/* Copies `count` bytes (the areas may overlap); returns `dest`. */
LV_API void* LIB_memcpy(void* dest, const void* source, uint32_t count);
/* Fills `count` 16-bit words with `value`. */
LV_API void LIB_memset(uint16_t* dest, uint16_t value, uint32_t count);

/* 0 when `text` and `pattern` have the same length and agree at every position where the
 * pattern does not hold '?' (case-sensitive); -1 otherwise. */
LV_API int32_t LIB_wildstrcmp(const char* text, const char* pattern);

/* The log file name: TARNWELL.INI [Common] LogDirectory, or `defaultDir` when that is empty,
 * followed directly by `name`. `out` must hold 260 characters; a longer name is cut to 259.
 * Returns `out`. */
LV_API char* LIB_Logname(char* out, const char* defaultDir, const char* name);

/* Scrambles the first `length` bytes reversibly: each byte of 32 or more is combined with 0x15
 * by exclusive or; control characters pass unchanged. */
LV_API void LIB_xor(uint8_t* buffer, int32_t length);

/* The balance query's names. */
LV_API char* sName(const char* path, char separator);
LV_API char* sNameBody(const char* path);
LV_API char* mystrncpy(char* dest, const char* source, int32_t count);
LV_API char* GetCountryCode(void);
LV_API void* mymemcpy(void* dest, const void* source, uint32_t count);
LV_API void mymemset(uint16_t* dest, uint16_t value, uint32_t count);

#endif
