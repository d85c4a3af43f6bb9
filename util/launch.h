/* Starting programs, opening documents and help files, and system texts.
 *
 * Programs start from Windows-style command lines without a shell (platform/spawn.h): the
 * program is the line's first token (an unquoted path may hold blanks), looked up on PATH when
 * it has no '/', and the rest is split by the Windows quoting rules. Which program opens a
 * document comes from the desktop's associations (platform/associations.h): the type follows
 * from the file's name, its default application from the .desktop files. A program is a file
 * whose name ends in ".EXE" or ".COM" (any case; a name without a dot counts whole) or an
 * ordinary file we may execute; programs have no associated program.
 *
 * Messages are shown only where `showErrors` asks for them, through the message-box hook, with
 * the stop icon and the path as caption (LIB_TestExecuteFile: the file name). Nobody waits for
 * a started program. `owner` is the window that would own a message box; the hook shows boxes
 * over the program's own windows, so it is not used. Texts are Windows-1252. The static results
 * of LIB_GetFileStarter and LIB_LastErrorString are replaced by the next call of the same
 * function; nothing here is reentrant. */
#ifndef LINDAVOX_UTIL_LAUNCH_H
#define LINDAVOX_UTIL_LAUNCH_H

#include <stdint.h>

#include "platform/export.h"

/* The owner that asks LIB_LastErrorString for no message box. */
#define LIB_NO_MESSAGE_BOX ((void*)(intptr_t)-1)

/* Opens the help file `helpFile` (with the language's help letter, see LS_Help) of `directory`
 * in the program associated with it, passing it "<directory>/<file>#<topic>" (without
 * "#<topic>" for a null or empty topic) as one argument. When no program is associated, shows
 * the file name with `captionNoViewer` if the file exists, else directory and name run together
 * with `captionNoFile`, and returns 0. 1 when the viewer was started. */
LV_API int32_t LIB_HelpOpen(void* owner, const char* directory, char* helpFile, const char* topic,
                            const char* captionNoViewer, const char* captionNoFile);

/* Starts `path` as a command line; when that is no program, opens the file in its associated
 * application, or starts the associated program with the path as its argument. 1 on success;
 * 0 when the file is missing ("Die angegebene Datei wurde nicht gefunden. ...") or nothing is
 * associated with it ("Es wurde keine passende Applikation ..."). */
LV_API int32_t LIB_ExecuteFile(void* owner, const char* path, uint8_t showErrors);

/* 1 when `path` is a program or has an associated program; else 0, with the no-application
 * message captioned with the file name. */
LV_API int32_t LIB_TestExecuteFile(void* owner, const char* path, uint8_t showErrors);

/* The absolute path of the program associated with `path`, or "" for a program, a missing file
 * or a file without association. Static text of at most 259 characters ("" when the program's
 * path is longer). */
LV_API char* LIB_GetFileStarter(const char* path);

/* Whether the system is Windows XP (5.1) or later: true for every Linux system. The user
 * profile's [Tarnwell] XP=1, read once per process, forces true as well. */
LV_API uint8_t LIB_isXP(void);

/* The system's text for the error number `code` (an errno value; 0 takes the calling thread's
 * errno), at most 1999 characters, in the language and in Windows-1252. Unless `owner` is
 * LIB_NO_MESSAGE_BOX the whole text is shown with the caption "Error" and the information icon.
 * Returns its first line, in a static text. */
LV_API char* LIB_LastErrorString(void* owner, uint32_t code);

#endif
