#include "platform/change_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace detail {

std::atomic<bool> g_change_recorder_installed{false};

namespace {

ChangeRecorder& Recorder() {
  static ChangeRecorder recorder;
  return recorder;
}

// Tells the recorder, keeping errno as the caller's system call left it.
void Tell(const FileChange& change) {
  const int saved = errno;
  if (Recorder()) Recorder()(change);
  errno = saved;
}

FileIdentity IdentityOf(int fd, struct stat* status) {
  if (::fstat(fd, status) != 0) return {};
  return {status->st_dev, status->st_ino};
}

// A change of `kind` to the file behind `fd` (none when fd is -1).
FileChange Change(ChangeKind kind, int fd) {
  FileChange change{};
  change.kind = kind;
  struct stat status;
  if (fd >= 0) change.file = IdentityOf(fd, &status);
  return change;
}

}  // namespace

void ReportOpen(int fd, std::string_view path, int flags) {
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    FileChange change = Change(ChangeKind::kCreateUnnamed, fd);
    change.path = path;
    Tell(change);
    return;
  }
  if (flags & O_CREAT) {
    FileChange change = Change(ChangeKind::kOpenCreating, fd);
    change.path = path;
    Tell(change);
  }
  if (flags & O_TRUNC) Tell(Change(ChangeKind::kTruncate, fd));
}

void ReportWrite(int fd, const void* data, size_t size, off_t offset) {
  FileChange change = Change(ChangeKind::kWrite, fd);
  const off_t length = static_cast<off_t>(size);
  struct stat status;
  if ((::fcntl(fd, F_GETFL) & O_APPEND) && ::fstat(fd, &status) == 0) {
    offset = status.st_size - length;
  } else if (offset < 0) {
    offset = ::lseek(fd, 0, SEEK_CUR) - length;
  }
  change.offset = offset;
  change.bytes = std::string_view(static_cast<const char*>(data), size);
  Tell(change);
}

void ReportTruncate(int fd, off_t length) {
  FileChange change = Change(ChangeKind::kTruncate, fd);
  change.length = length;
  Tell(change);
}

void ReportNames(ChangeKind kind, std::string_view path, std::string_view target) {
  FileChange change = Change(kind, -1);
  change.path = path;
  change.target = target;
  Tell(change);
}

void ReportLink(int fd, std::string_view target) {
  FileChange change = Change(ChangeKind::kLink, fd);
  change.target = target;
  Tell(change);
}

void ReportSyncFile(int fd) { Tell(Change(ChangeKind::kSyncFile, fd)); }

}  // namespace detail

ChangeRecorder SetChangeRecorder(ChangeRecorder recorder) {
  ChangeRecorder previous = std::move(detail::Recorder());
  detail::Recorder() = std::move(recorder);
  detail::g_change_recorder_installed.store(static_cast<bool>(detail::Recorder()),
                                            std::memory_order_relaxed);
  return previous;
}

}  // namespace platform
