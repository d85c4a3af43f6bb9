/* Editing text files line by line (declared with the rest of the line editing in line_edit.h,
 * which includes this header).
 *
 *   CONVERT_FileReplace            applies CONVERT_SwitchString (capacity 999) to every line,
 *                                  read in pieces of at most 299 characters; equal texts leave
 *                                  the file untouched.
 *   CONVERT_RemoveLineByKeyword    drops the lines, read in pieces of at most 499 characters,
 *                                  that contain `keyword`, compared without regard to the case
 *                                  of a-z; the keyword is upper-cased in the caller's buffer. The
 *                                  previous content stays under the work path `work`.
 *   CONVERT_RemoveLineByLinenumber keeps the first `keep` lines, drops the next one (the first
 *                                  when `keep` is 0 or negative) and keeps the rest; lines are
 *                                  read in pieces of at most 25999 bytes.
 *
 * A line ends after a line feed; the first two editors count a CR LF as one character, as a
 * text-mode read does. Every byte an edit does not change stays as it was: line ends (CR LF or
 * a lone LF), a Ctrl-Z and whatever follows it, zero bytes. A line the replacement changed gets
 * its own line end back, and a line feed the replacement put into it is written in the same way.
 *
 * The new content is written to a new file beside the file (a link's target, which is the file
 * edited), with the file's owner, group and permissions. Once it is complete and on the disk,
 * the file is renamed to the work path, replacing what lay there in one step, and the new file
 * takes the file's name; the replacement and the removal by number then remove the work file.
 * Each returns 1 on success and 0 on failure, always with the file as it was: no file touched
 * when an argument is null, the file is missing or both paths name the same file; nothing at the
 * work path changed when the file cannot be renamed there (another file system, a file held
 * open elsewhere through these libraries) or the new file cannot be made (no room, a file owner
 * or group this process cannot give the new file). */
#ifndef LINDAVOX_UTIL_FILE_EDIT_H
#define LINDAVOX_UTIL_FILE_EDIT_H

#include <stdint.h>

#include "platform/export.h"

LV_API uint8_t CONVERT_FileReplace(const char* path, const char* work, const char* find,
                                   const char* replacement);
LV_API uint8_t CONVERT_RemoveLineByKeyword(const char* path, const char* work, char* keyword);
LV_API uint8_t CONVERT_RemoveLineByLinenumber(const char* path, const char* work, int32_t keep);

#endif
