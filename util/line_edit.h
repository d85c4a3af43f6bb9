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
 * The three file editors (CONVERT_FileReplace, CONVERT_RemoveLineByKeyword,
 * CONVERT_RemoveLineByLinenumber) are declared in file_edit.h, included here. */
#ifndef LINDAVOX_UTIL_LINE_EDIT_H
#define LINDAVOX_UTIL_LINE_EDIT_H

#include <stdint.h>
#include <stdio.h>

#include "platform/export.h"
#include "util/file_edit.h"

LV_API void CONVERT_RemoveCRLF(char* text);
LV_API char* CONVERT_AddCRLF(char* text);
LV_API int32_t CONVERT_fputs(char* text, FILE* stream);
LV_API uint8_t CONVERT_SwitchString(char* text, uint32_t capacity, const char* find,
                                    const char* replacement);

#endif
