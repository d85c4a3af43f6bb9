// Setting a file's time stamps on the open file.
//
// The file utilities give a file a packed MS-DOS time or another file's last-write time. Windows
// sets those on an open handle; here futimens(2) does the same on an open descriptor, so the
// time lands on the file that was opened, even when its path is replaced meanwhile.
#ifndef LINDAVOX_PLATFORM_FILE_TIME_H
#define LINDAVOX_PLATFORM_FILE_TIME_H

#include <cstdint>
#include <string_view>

namespace platform {

// Sets the last-write and the last-access time of the open file `fd` to `seconds` since 1970
// (UTC) and `nanoseconds`; the creation (birth) time stays. `path` names the file for the fault
// hook (FileOp::kWrite). Returns 0 or an errno value (EOVERFLOW when `seconds` does not fit the
// system's time type).
int SetFileTime(int fd, std::string_view path, int64_t seconds, int32_t nanoseconds = 0);

}  // namespace platform

#endif
