#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/fault.h"

namespace platform {
namespace {

int Errno() { return errno ? errno : EIO; }

}  // namespace

FileKind KindOf(const struct stat& status) {
  if (S_ISREG(status.st_mode)) return FileKind::kRegular;
  if (S_ISDIR(status.st_mode)) return FileKind::kDirectory;
  return FileKind::kOther;
}

bool IsRegularFile(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && KindOf(status) == FileKind::kRegular;
}

bool PathExists(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

int StatOpenFile(int fd, std::string_view path, struct stat* status) {
  if (int fault = InjectedFault(FileOp::kStat, path)) return fault;
  return ::fstat(fd, status) == 0 ? 0 : Errno();
}

int OpenRegularFile(const std::string& path, int flags, mode_t mode, UniqueFd* fd,
                    struct stat* status) {
  fd->reset();
  if (int fault = InjectedFault(FileOp::kOpen, path)) return fault;
  UniqueFd opened;
  if (int error = OpenInFolder(path, flags, mode, &opened)) return error;
  struct stat own;
  if (int error = StatOpenFile(opened.get(), path, &own)) return error;
  if (KindOf(own) != FileKind::kRegular) return kNotRegularFile;
  const int statusFlags = ::fcntl(opened.get(), F_GETFL);
  if (statusFlags < 0 || ::fcntl(opened.get(), F_SETFL, statusFlags & ~O_NONBLOCK) != 0) {
    return Errno();
  }
  if (status) *status = own;
  *fd = std::move(opened);
  return 0;
}

ssize_t ReadAll(int fd, void* buffer, size_t size, std::string_view path, off_t offset) {
  if (int fault = InjectedFault(FileOp::kRead, path)) {
    errno = fault;
    return -1;
  }
  size_t done = 0;
  while (done < size) {
    char* at = static_cast<char*>(buffer) + done;
    const ssize_t n = offset == kAtCurrentPosition
                          ? ::read(fd, at, size - done)
                          : ::pread(fd, at, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool WriteAll(int fd, const void* data, size_t size, std::string_view path, off_t offset) {
  if (int fault = InjectedFault(FileOp::kWrite, path)) {
    errno = fault;
    return false;
  }
  size_t done = 0;
  while (done < size) {
    const char* at = static_cast<const char*>(data) + done;
    const ssize_t n = offset == kAtCurrentPosition
                          ? ::write(fd, at, size - done)
                          : ::pwrite(fd, at, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // no progress and no error: stop instead of spinning
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

int SyncFile(int fd, std::string_view path) {
  if (int fault = InjectedFault(FileOp::kSync, path)) return fault;
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return Errno();
  }
  return 0;
}

void StartWriteBack(int fd, off_t offset, size_t size) {
  ::sync_file_range(fd, offset, static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
}

void SyncDirectory(const std::string& directory) {
  UniqueFd fd(
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

}  // namespace platform
