#include "platform/file_time.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <limits>

#include "platform/fault.h"

namespace platform {

int SetFileTime(int fd, std::string_view path, int64_t seconds, int32_t nanoseconds) {
  if (int fault = InjectedFault(FileOp::kWrite, path)) return fault;
  if (seconds > std::numeric_limits<time_t>::max() ||
      seconds < std::numeric_limits<time_t>::min() || nanoseconds < 0 || nanoseconds > 999999999) {
    return EOVERFLOW;
  }
  const timespec time{static_cast<time_t>(seconds), nanoseconds};
  const timespec both[2] = {time, time};
  return ::futimens(fd, both) == 0 ? 0 : (errno ? errno : EIO);
}

}  // namespace platform
