// The desktop's file associations: which program opens a file, and opening a file in it.
//
// Windows decides by a file's extension which program opens it. Here the desktop's own
// associations decide, through GIO: the file's type is guessed from its name alone (the shared
// MIME database's name patterns; the contents are never read, so no file is opened and nothing
// blocks), and the type's default application comes from the .desktop files and mimeapps.list
// of the user's and the system's data folders ($XDG_DATA_HOME, $XDG_DATA_DIRS,
// $XDG_CONFIG_HOME). A name whose type the database does not know has no association, as a
// file without a registered extension has none on Windows.
//
// GIO reads those folders once per process, when first asked.
#ifndef LINDAVOX_PLATFORM_ASSOCIATIONS_H
#define LINDAVOX_PLATFORM_ASSOCIATIONS_H

#include <string>

namespace platform {

// The absolute path of the program of the application that opens `path` by default, or ""
// when `path` names no ordinary file, its type is unknown, no application is registered for
// the type, or the application's program cannot be found on PATH.
std::string AssociatedProgram(const std::string& path);

// Opens the ordinary file `path` in the application that opens it by default, as that
// application's .desktop entry says (its own arguments included), in the file's folder (unless
// the entry names a working folder of its own), with no descriptor of the caller but standard
// input, output and error. Returns true when the application was started.
bool OpenWithAssociation(const std::string& path);

}  // namespace platform

#endif
