/* File utilities: removing, probing, copying, truncating and appending files, their time
 * stamps, unused file names, the real spelling of a file name, folder trees and a word scan of
 * a text file.
 *
 * Paths. Folders are separated by '/'; a directory argument may end with '/' (or '\\'), and the
 * functions put one between a directory and a name only where the text says so. A path of 260
 * characters or more (also one the function builds from its arguments) is refused with the
 * function's failure result and never touches a file. Every file is opened through the sharing
 * layer (FILE_fopen's rules), so a file another process holds open exclusively is refused, and
 * a file these libraries hold open elsewhere is never removed, renamed or replaced. Only
 * ordinary files are opened: a named pipe, a device or a folder in the place of a file is
 * refused at once. "Matching" is the directory search: '*' and '?' in the last part of a path,
 * names compared with their case, hidden files (names beginning with '.') included unless a
 * function says otherwise.
 *
 * Times. A PackedDateTime is local time; setting one sets the file's last-write and last-access
 * time (the creation time stays) on the open file.
 *
 * Results are those below; no function throws or shows a message except FileCopy, whose
 * missing-file box goes through the message-box hook. Sizes and counts are 32 bits (sizes of
 * files beyond 4 GiB count with their low 32 bits). FILE_GetFullName returns one static text,
 * replaced by its next call; nothing here is reentrant.
 *
 * The card editor (vantor) exports the FILE_ names and FILES_TestExclusive; the balance query
 * (quillet) exports the older generation at the end. */
#ifndef LINDAVOX_UTIL_FILES_H
#define LINDAVOX_UTIL_FILES_H

#include <stdint.h>

#include "platform/export.h"
#include "util/time_format.h"

/* Removes the file. 0 when it is gone (removed, or never there), -1 when it is still there. */
LV_API int32_t FILE_saveremove(const char* path);

/* The size of the first entry matching `path` (a folder: 0), 0 when none matches. */
LV_API int32_t FILE_GetSize(const char* path);

/* The local last-write time of the first entry matching `path`, 0 when none matches or the time
 * lies outside 1980-2107. */
LV_API PackedDateTime FILE_GetTime(const char* path);

/* The seconds (0-59) of the local last-write time of the first entry matching `path`, or
 * `defaultValue` when none matches. */
LV_API int32_t FILE_GetSeconds(const char* path, int32_t defaultValue);

/* The number of files (not folders) matching `path`, or, with a `name`, `path` followed by a
 * '/' (unless it ends with a separator) and `name`. Adds each counted file's size to
 * `*sizeSum` when given; the caller sets its start value. */
LV_API int32_t FILE_Exist(const char* path, const char* name, int32_t* sizeSum);

/* 1 when `file` (if given) and every file directly in `directory` (if given; subfolders are not
 * entered) can be opened exclusively now, i.e. no other process of these libraries holds any of
 * them open; 0 at the first that cannot, or when `file` is missing. A folder that cannot be
 * searched counts as holding no files. */
LV_API int32_t FILES_TestExclusive(const char* file, const char* directory);

/* 1 when the folder `path` exists at the end, 0 otherwise. Mode 0 only tests; mode 1 creates
 * the folder when its parent exists; mode 2 also creates every missing parent; mode 3 first
 * removes an ordinary file (or symbolic link) in the place of a missing folder, then works as
 * mode 2. The caller's text is not changed. */
LV_API int32_t FILE_DirectoryTest(char* path, int32_t mode);

/* Copies `source` to `destination` (created or emptied), in blocks; with `scramble` each block
 * passes through LIB_xor. With `keepTime` the copy gets the source's last-write time. Returns
 * 1 and stores the copy's size through `copiedSize` (when given) when every byte arrived and
 * the copy has the source's size; 0 otherwise (a failed copy may leave a partial destination).
 * With `move`, when both lie on one file system, the source is renamed over the destination in
 * one step instead (2; 0 when that fails, and both files stay as they were). */
LV_API int32_t FILE_Copy(const char* destination, const char* source, uint8_t move,
                         uint8_t keepTime, uint8_t scramble, int32_t* copiedSize);

/* Cuts the file to its first `length` bytes (a shorter file stays whole), keeping its
 * last-write time and permissions: the bytes go to a temporary file in the same folder (the
 * file name with the text after its last dot replaced by "TRU", or "TRU" when the name has no
 * dot; when anything of that name exists already, that name with a random suffix: an existing
 * file is never touched), created anew and exclusively, which then replaces the file in one
 * step. 1 on success; 0 with the file unchanged and no temporary file left. */
LV_API uint8_t FILE_Truncate(const char* path, uint32_t length);

/* Appends the whole `source` (as large as it is when the call starts) to `destination`,
 * creating the destination when it is missing. The destination opened is the one the caller
 * named; afterwards the caller's text is upper-cased (Windows-1252 letters) in place. 1 when
 * every byte was appended; 0 when the source cannot be opened (nothing is created then) or a
 * read or write fails. */
LV_API int32_t FILE_Append(char* destination, const char* source);

/* Sets the file's last-write time; a seconds field of 30 or 31 (60 or 62 seconds) counts as 0
 * or 1. A missing file is created empty. 1 on success. */
LV_API uint8_t FILE_SetTime(const char* path, PackedDateTime time);

/* Sets the file's last-write time to now plus `offsetSeconds`, with the seconds field (in
 * two-second steps, 0-29) and the hour replaced unless they are -1 (each cut to its field's 5
 * bits). A missing file is created empty. 1 on success. */
LV_API uint8_t FILE_SetRelativeTime(const char* path, int32_t offsetSeconds, int32_t secondsField,
                                    int32_t hour);

/* Gives the file's last-write time the seconds `seconds` (rounded down to two): 1 when that
 * changed the time stamp, 0 when it already had them or the file is missing. */
LV_API uint8_t FILE_SetSeconds(const char* path, int32_t seconds);

/* An unused file name "<directory><prefix><counter>.<extension>" in `out` (260 bytes): the
 * counter in upper-case hexadecimal, zero-padded so that prefix and counter take 8 characters
 * (prefix length + 3 for prefixes of 7 characters or more), counting up from `firstCounter`.
 * With `anyExtension`, a name is used when no file has that name with any extension. With
 * `upperCase`, prefix and extension are upper-cased (the directory is kept as given). Makes
 * sure the directory exists first (FILE_DirectoryTest mode 2). Null when the counter outgrows
 * its digits or the name would be too long. */
LV_API char* FILE_FindNewName(char* out, char* directory, const char* prefix, const char* extension,
                              uint8_t anyExtension, uint8_t upperCase, int32_t firstCounter);

/* The same with one decimal digit: <prefix>0 to <prefix>9 from `firstCounter` on, the real
 * extension always, no case change. */
LV_API char* FILE_FindNewName_1(char* out, char* directory, const char* prefix,
                                const char* extension, int32_t firstCounter);

/* FILE_FindNewName with a prefix from the clock: `prefixLetter` and the low 20 bits of the
 * seconds since 1970 in five hexadecimal digits, or without a letter the low 24 bits in six,
 * followed by a two-digit counter; when all 256 counters are taken the next second's prefix is
 * tried. Returns `out`, which holds "" when no name can be had (a directory too long). */
LV_API char* FILE_FindNewNameT(char* out, char* directory, const char* extension,
                               uint8_t anyExtension, char prefixLetter);

/* The path with the file name spelled as the folder's entry spells it: the first ordinary file
 * of the folder whose name equals the argument's file name regardless of case (an exact match
 * first). The directory part stays as given. The argument itself when none matches. */
LV_API char* FILE_GetFullName(const char* path);

/* The total size of the files in the tree `directory`, subfolders included. Files directly in
 * `directory` are at depth + 1. Each file that passes `extensionFilter` (null or "": every file;
 * else ".LOG" passes files whose extension is LOG regardless of case) adds to `*matchCount`;
 * when `level` is not 0 and equals the file's depth, it also adds to `*fileCount`, to
 * `*outsideDaemonCount` when its folder's path does not contain "daemon" (any case), and lowers
 * `*oldest` to its last-write time when that is not later. Every pointer may be null; the
 * caller sets the start values. Symbolic links to folders inside the tree are not entered (a
 * link loop stays bounded) and add nothing. */
LV_API int32_t FILE_GetTreeSize(const char* directory, int32_t level, int32_t depth,
                                int32_t* fileCount, FILETIME* oldest, int32_t* outsideDaemonCount,
                                const char* extensionFilter, int32_t* matchCount);

/* Copies the tree `source` into `destination` (created when missing): folders as folders,
 * files with FILE_Copy keeping their times. 1 only when everything was copied; what was copied
 * stays otherwise. */
LV_API uint8_t FILE_CopyTree(const char* destination, const char* source);

/* Removes every folder of the tree `directory`, the top one included, that holds no file
 * (after its subfolders were handled). Symbolic links to folders are never entered, also when
 * `directory` itself is one (nothing is removed then). Always 1. */
LV_API uint8_t FILE_DelEmptyTree(char* directory);

/* Removes the whole tree `directory`: its files, its folders and the folder itself. Symbolic
 * links are removed, never entered, also when `directory` itself is one (the link goes, its
 * target stays; it counts as one file). Returns the bytes removed, or with `countFiles` the
 * number of files removed. The root folder "/" and "" are refused (0). */
LV_API int32_t FILE_DelFullTree(char* directory, uint8_t countFiles);

/* Reads the text file line by line (pieces of at most 999 characters), each upper-cased
 * (Windows-1252 letters), up to the first line that contains `word1` or `word2` (each only when
 * given; they are searched as passed, so letters must be capitals): 1 when that line contains
 * `word1`, else 2. 0 at the end of the file, or when it cannot be opened. */
LV_API int32_t FILE_ScanForWords(const char* path, const char* word1, const char* word2);

/* The balance query's older generation. Each behaves as the function named beside it:
 * saveremove          FILE_saveremove
 * MyGetFileSize       FILE_GetSize
 * MyGetFileTime       FILE_GetTime
 * ExistFile           1 when FILE_Exist would count at least one file, else 0
 * DirectoryTest       FILE_DirectoryTest, where a folder we may not enter counts as missing,
 *                     modes above 2 work as mode 2, and parents are created with mode 2
 * FileCopy            FILE_Copy in 1024-byte blocks, always keeping the time, without scramble
 *                     and size check; a move gives 1. 1 after a copy in which every read and
 *                     write succeeded. When the source cannot be opened, `reportMissing` is set
 *                     and no file matches it, the box "Folgende Datei fehlt:" (stop icon) shows
 *                     the source path.
 * TruncateFile        FILE_Truncate
 * FileAppend          FILE_Append
 * FindNewFileName     FILE_FindNewName with counter 0, 8 characters for prefix and counter
 *                     (prefixes of 8 characters or more give null), upper case always
 * FindNewFileNameT    FILE_FindNewNameT without a prefix letter
 * SetRelativeFileTime FILE_SetRelativeTime keeping the hour
 * SetFileSeconds      FILE_SetSeconds
 * GetFileSeconds      FILE_GetSeconds with the default 0
 * GetFullFilename     FILE_GetFullName (the same static text)
 * MySetFileTime       sets the file's last-write time to today at the given hour, minute and
 *                     seconds (two-second steps); -1 keeps that part of the current time. A
 *                     missing file is created empty. 1 on success. */
LV_API int32_t saveremove(const char* path);
LV_API int32_t MyGetFileSize(const char* path);
LV_API PackedDateTime MyGetFileTime(const char* path);
LV_API int32_t ExistFile(const char* path, const char* name);
LV_API int32_t DirectoryTest(char* path, int32_t mode);
LV_API int32_t FileCopy(const char* destination, const char* source, uint8_t move,
                        uint8_t reportMissing);
LV_API uint8_t TruncateFile(const char* path, uint32_t length);
LV_API int32_t FileAppend(char* destination, const char* source);
LV_API char* FindNewFileName(char* out, char* directory, const char* prefix, const char* extension,
                             uint8_t anyExtension);
LV_API char* FindNewFileNameT(char* out, char* directory, const char* extension,
                              uint8_t anyExtension);
LV_API uint8_t SetRelativeFileTime(const char* path, int32_t offsetSeconds, int32_t secondsField);
LV_API uint8_t SetFileSeconds(const char* path, int32_t seconds);
LV_API int32_t GetFileSeconds(const char* path);
LV_API char* GetFullFilename(const char* path);
LV_API uint8_t MySetFileTime(const char* path, int32_t hour, int32_t minute, int32_t seconds);

#endif
