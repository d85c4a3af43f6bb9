/* Language text lookup: the card editor's user-interface texts from a language file.
 *
 * Every translatable text has a section index, a numeric text id and a built-in German default.
 * LS_init finds the language file "<directory><language>.<extension>" once at start (a file
 * whose name differs only in letter case counts, as it does on Windows); from then on LSS looks
 * each text up in that file (read anew on every call, nothing cached) and falls back to the
 * default for a missing section or key. While no language file is in use (before
 * LS_init, or when it found none) every function returns its default untouched.
 *
 * Language name. Given by the caller, else "Tarnwell"/"Language" of the user profile, else
 * "Common"/"Language" of "<directory>LINDAVOX.INI", else "<deutsch>". A name beginning with '<'
 * stands for the built-in texts; a name holding a character that cannot occur in a Windows
 * file name (< > : " / \ | ? *) never names a language file, so lookup stays inactive.
 *
 * Language file values: at most 511 characters; escapes are undone after each lookup in four
 * passes, in this order: "\\" -> '\', "\t" -> tab, "\r" -> CR, "\n" -> LF. A run of
 * backslashes therefore shrinks to one, and "\\n" in the file ends as a line feed.
 *
 * Results. LSS writes into one of four static buffers: slots 2, 3 and 4 have their own, every
 * other slot number shares the fourth. A result stays valid until the next LSS call on the same
 * buffer; none of this is reentrant. LS_Help returns its own static buffer, or its argument.
 * Texts are Windows-1252 bytes. Only the low byte of a uint8_t flag counts. Nothing here is
 * ever written to a file, and no function shows a message or throws.
 *
 * The functions that translate windows and menus (LSWW, LSM, LSMP) belong to the window half of
 * the language module; their text rules are in lang/lang_internal.h. */
#ifndef LINDAVOX_LANG_LANG_H
#define LINDAVOX_LANG_LANG_H

#include <stdint.h>

#include "platform/export.h"

/* Section indices of the texts of this system (valid indices are 0 to 51). */
#define LS_SECTION_COMMON 0   /* "common": captions, buttons and labels shared by dialogs */
#define LS_SECTION_LIB 1      /* "lib": weekday names (ids 1-7) and month names (ids 8-19) */
#define LS_SECTION_PREPAID 39 /* "PREPAID": texts of the card editor */

/* Colon modes of LSS. */
#define LS_COLON_KEEP (-1) /* leave the text alone */
#define LS_COLON_REMOVE 0  /* remove one trailing ':' */
#define LS_COLON_APPEND 1  /* any other value: end the text with ':' */

/* Finds the language file and makes lookup active when it exists. `product` and `unused` are
 * not used. `directory` is a folder prefix ending with '/' ("" for the current directory);
 * `extension` the language files' extension (the card editor passes "LX"). `language`: the
 * language name, or null (or "") for the configured one. With `autoPick` set and the configured
 * name standing for the built-in texts, and no choice ever stored in the user profile, the
 * first language file of the folder (by name) is taken. Reads "Common"/"Help" of the language
 * file as the help letter. Returns 1 when a language file was found (lookup active), else 0;
 * each call starts afresh, and a failed call also forgets an earlier help letter. A null
 * directory or extension gives 0. */
LV_API uint8_t LS_init(const char* product, const char* directory, const char* extension,
                       const char* language, uint8_t autoPick, int32_t unused);

/* 1 while a language file is in use, else 0. */
LV_API uint8_t LS_isActive(void);

/* The text to use for id `id` of section `section`. Inactive: `defaultText` itself (the same
 * pointer, not even unescaped). Active: the value of key "<id>" ("Info" for id 9999) of the
 * section, or `defaultText` (null counts as "") when the key, the section or a section of that
 * index is missing; cut to 511 characters and unescaped. Then the colon rule: mode -1 leaves
 * the text alone, 0 removes one trailing ':', any other mode appends ':' unless the text ends
 * with one (an empty text becomes ":") and unless the text already has 511 characters. Then,
 * with `stripAmpersand` nonzero, the first '&' is removed. Returns the slot buffer. The default
 * is never written to. */
LV_API char* LSS(int32_t section, int32_t id, char* defaultText, int32_t slot, int32_t colonMode,
                 int32_t stripAmpersand);

/* The help file name to use for `helpFile`. With a help letter and a '.' in the name: the part
 * before the first '.', the letter, then the rest from that '.' on ("x.hlp" with 'E' gives
 * "xE.hlp") in a static buffer valid until the next call. Otherwise `helpFile` itself. The
 * caller's text is never changed. */
LV_API char* LS_Help(char* helpFile);

/* The character set of the system's ANSI code page from section "charset" of
 * "<directory>CHARSET.INI" (key: the code page in decimal). `charset` needs room for 100
 * characters and receives the value up to its first blank (at most 99 characters); with a blank,
 * the rest after it goes to `extra` when that is not null (it needs the same room) and `extra`
 * is left alone otherwise. An empty result becomes "windows-<code page>" when `fallback` is set.
 * Returns the code page. A null `charset` receives nothing; a null `directory` reads no file. */
LV_API int32_t LS_GetCharset(char* charset, char* extra, const char* directory, uint8_t fallback);

#endif
