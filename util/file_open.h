/* Shared file opening: standard streams opened with a Windows sharing mode.
 *
 * FILE_fopen(path, mode, exclusive) opens `path` as the characters in `mode` say, anywhere in
 * the string; the first row whose test holds decides:
 *
 *   mode has   exclusive   access           file missing   contents    others may
 *   '+'        true        read and write   fails          kept        nothing
 *   '+'        false       read and write   fails          kept        read and write
 *   'r'        true        read             fails          kept        nothing
 *   'r'        false       read             fails          kept        read and write
 *   'a'        -           append           created        kept        read
 *   other      -           write            created        truncated   nothing
 *
 * A 't' makes the stream a text-mode stream (CR LF on disk), otherwise it is binary. Only the
 * low byte of `exclusive` counts. Returns a standard stream (release it with fclose or
 * FILE_fclose), or null on any failure: missing file, sharing conflict, no access, a path that
 * names no ordinary file (a folder, named pipe or device: refused without waiting), a mode whose
 * first character is not 'r', 'w' or 'a' (refused before the file is touched, so "", "b" or
 * "Rb" never truncate). Null arguments give null.
 *
 * FILE_fclose(&stream) closes the stream held in the variable, if any, and sets it to null.
 * Always returns 0.
 *
 * myfopen and myfclose are the balance query's names for the same operations; in myfopen a
 * read-only open ('r' without '+') always shares read and write, whatever `exclusive` says. */
#ifndef LINDAVOX_UTIL_FILE_OPEN_H
#define LINDAVOX_UTIL_FILE_OPEN_H

#include <stdint.h>
#include <stdio.h>

#include "platform/export.h"

LV_API FILE* FILE_fopen(const char* path, const char* mode, uint8_t exclusive);
LV_API int32_t FILE_fclose(FILE** stream);

LV_API FILE* myfopen(const char* path, const char* mode, uint8_t exclusive);
LV_API int32_t myfclose(FILE** stream);

#endif
