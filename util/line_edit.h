/* Line ends, bounded text replacement, and editing text files line by line.
 *
 * CONVERT_RemoveCRLF(text) removes the first carriage return of the text, then its first line
 * feed ("a\r\nb\r\n" gives "ab\r\n").
 * CONVERT_AddCRLF(text) appends "\r\n" (the buffer needs room for two more) and returns the text.
 * CONVERT_fputs(text, stream) gives the text exactly one CR LF at its end (the caller's buffer
 * keeps it; it needs room for two more) and writes it to the stream unchanged: a binary stream
 * receives one CR LF, a text-mode stream turns the LF into CR LF once more. Returns the stream
 * write's result, EOF for a null argument.
 *
 * CONVERT_SwitchString(text, capacity, find, replacement) replaces the first occurrence of `find`
 * and searches again from the start, until `find` no longer occurs or the result with its
 * terminator would not fit in `capacity` bytes (at most 2000 are used). So a replacement that
 * contains `find` is replaced again until the buffer is full, and an empty `find` matches at the
 * start. Returns 1 when at least one replacement was made; 0 when none was, when `find` and
 * `replacement` are equal (nothing to do) and for null arguments.
 *
 * The file editors move the file to `work` (the work path; whatever lay there before is
 * removed), then write the new content under the file's own name:
 *   CONVERT_FileReplace            applies CONVERT_SwitchString (capacity 999) to every line,
 *                                  read in pieces of at most 299 characters; equal texts leave
 *                                  the file untouched.
 *   CONVERT_RemoveLineByKeyword    drops the lines, read in pieces of at most 499 characters,
 *                                  that contain `keyword`, compared without regard to the case
 *                                  of a-z; the keyword is upper-cased in the caller's buffer. The
 *                                  previous content stays under the work path.
 *   CONVERT_RemoveLineByLinenumber keeps the first `keep` lines, drops the next one (the first
 *                                  when `keep` is 0 or negative) and keeps the rest; lines are
 *                                  read in pieces of at most 25999 bytes.
 * The first two read and write in text mode (CR LF on disk, a lone LF written as CR LF, reading
 * ends at a Ctrl-Z); the removal by number copies byte for byte. Each returns 1 on success and
 * 0 on failure: with no file touched when an argument is null, the file is missing or both
 * paths name the same file; with only the work path cleared when the file cannot be moved
 * aside; and with the original back under its own name when anything fails after the move (the
 * new file cannot be created, a read or a write fails). */
#ifndef LINDAVOX_UTIL_LINE_EDIT_H
#define LINDAVOX_UTIL_LINE_EDIT_H

#include <stdint.h>
#include <stdio.h>

#include "platform/export.h"

LV_API void CONVERT_RemoveCRLF(char* text);
LV_API char* CONVERT_AddCRLF(char* text);
LV_API int32_t CONVERT_fputs(char* text, FILE* stream);
LV_API uint8_t CONVERT_SwitchString(char* text, uint32_t capacity, const char* find,
                                    const char* replacement);
LV_API uint8_t CONVERT_FileReplace(const char* path, const char* work, const char* find,
                                   const char* replacement);
LV_API uint8_t CONVERT_RemoveLineByKeyword(const char* path, const char* work, char* keyword);
LV_API uint8_t CONVERT_RemoveLineByLinenumber(const char* path, const char* work, int32_t keep);

#endif
