// Where a program finds its data: the directory it was started from.
#ifndef LINDAVOX_PLATFORM_PROGRAM_PATH_H
#define LINDAVOX_PLATFORM_PROGRAM_PATH_H

#include <string>

namespace platform {

// The directory part of `argv0` as given, up to and including its last '/': a program started
// through a symbolic link in a data folder works on that folder. When `argv0` holds no '/' (the
// program was found on the PATH), the directory of the running executable. Empty when neither
// gives a directory.
std::string ProgramDirectory(const char* argv0);

// The programs' start: ProgramDirectory into the data directory buffer of `size` bytes. When it
// is empty or does not fit, the buffer is left alone, the message box "Das Programmverzeichnis
// kann nicht als Datenverzeichnis dienen:" with the path is shown (caption "Fehler") and false
// is returned; the program then ends.
bool TakeDataDirectory(const char* argv0, char* buffer, size_t size);

}  // namespace platform

#endif
