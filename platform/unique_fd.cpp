#include "platform/unique_fd.h"

#include <unistd.h>

#include <cerrno>

#include "platform/fault.h"

namespace platform {

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) {
    const int saved = errno;
    ::close(fd_);
    errno = saved;
  }
  fd_ = fd;
}

int UniqueFd::Close(std::string_view path) {
  if (fd_ < 0) return 0;
  const int fault = InjectedFault(FileOp::kClose, path);
  // A failed close still frees the descriptor on Linux: retrying would close another file.
  const int error = ::close(release()) == 0 ? 0 : (errno ? errno : EIO);
  return fault ? fault : error;
}

}  // namespace platform
