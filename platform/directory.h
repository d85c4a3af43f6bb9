// Creating and removing folders, through the fault hook like every other file operation.
//
// Folders carry no sharing announcements (share.h): only files are opened through that layer.
#ifndef LINDAVOX_PLATFORM_DIRECTORY_H
#define LINDAVOX_PLATFORM_DIRECTORY_H

#include <string>

namespace platform {

// True when `path` (symbolic links followed) names a folder.
bool IsDirectory(const std::string& path);

// Creates the folder `path` (mode 0777 less the umask); its parent must exist. Returns 0 or an
// errno value (EEXIST when anything is there already). Fault hook: FileOp::kOpen.
int MakeDirectory(const std::string& path);

// Removes the empty folder `path` (never a symbolic link to one). Returns 0 or an errno value
// (ENOTEMPTY while it holds anything). Fault hook: FileOp::kRemove.
int RemoveDirectory(const std::string& path);

}  // namespace platform

#endif
