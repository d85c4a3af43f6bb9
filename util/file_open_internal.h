// The C++ side of shared file opening, for the modules that open files like FILE_fopen.
#ifndef LINDAVOX_UTIL_FILE_OPEN_INTERNAL_H
#define LINDAVOX_UTIL_FILE_OPEN_INTERNAL_H

#include <cstdio>
#include <string>

#include "platform/share.h"

namespace util {

// The two generations of the mode table: the balance query's ignores `exclusive` for
// read-only opens.
enum class FopenGeneration { kCurrent, kBalanceQuery };

// The open request for a C runtime mode string and exclusive flag (see file_open.h).
platform::OpenRequest FopenRequest(const char* mode, bool exclusive,
                                   FopenGeneration generation = FopenGeneration::kCurrent);

// Opens `path` as FILE_fopen would, without attaching a stream. Returns 0 or an errno value
// (EINVAL for a mode no stream takes, before anything touches the file).
int OpenAsFopen(const std::string& path, const char* mode, bool exclusive,
                platform::SharedFile* file, FopenGeneration generation = FopenGeneration::kCurrent);

// FILE_fopen and FILE_fclose of the given generation.
std::FILE* Fopen(const char* path, const char* mode, bool exclusive, FopenGeneration generation);
int Fclose(std::FILE** stream);

}  // namespace util

#endif
