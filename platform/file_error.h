// The errors of this layer's file operations in words an operator understands. The sharing and
// file checks report their own conditions with errno values that the C library would word
// misleadingly ("Device or resource busy" for a file another program holds); every other value
// gets the C library's text.
#ifndef LINDAVOX_PLATFORM_FILE_ERROR_H
#define LINDAVOX_PLATFORM_FILE_ERROR_H

#include <string>

namespace platform {

// The reason of a failed file operation of share.h, file_io.h or shared_folder.h.
std::string FileErrorText(int error);

}  // namespace platform

#endif
