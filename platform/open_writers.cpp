#include "platform/open_writers.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/unique_fd.h"

namespace platform {
namespace {

struct CloseDir {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, CloseDir>;

bool IsNumber(const char* name) {
  if (*name == '\0') return false;
  for (; *name; ++name) {
    if (*name < '0' || *name > '9') return false;
  }
  return true;
}

// The text of a small file under /proc (relative to `dir`), "" when it cannot be read.
std::string ReadSmall(int dir, const char* name) {
  UniqueFd fd(openat(dir, name, O_RDONLY | O_CLOEXEC));
  if (!fd) return "";
  char buffer[4096];
  const ssize_t got = read(fd.get(), buffer, sizeof buffer - 1);
  return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
}

// True when the process's real, effective, saved or file system user is `uid`.
bool RunsAs(int processDir, uid_t uid) {
  const std::string status = ReadSmall(processDir, "status");
  const size_t at = status.find("\nUid:");
  if (at == std::string::npos) return true;  // cannot tell: assume it may
  unsigned long ids[4] = {};
  if (std::sscanf(status.c_str() + at + 5, "%lu %lu %lu %lu", &ids[0], &ids[1], &ids[2], &ids[3]) !=
      4) {
    return true;
  }
  for (const unsigned long id : ids) {
    if (id == uid) return true;
  }
  return false;
}

// True when descriptor `name` of the process is open for writing (its fdinfo "flags:" line).
bool OpenForWriting(int processDir, const char* name) {
  const std::string info = ReadSmall(processDir, ("fdinfo/" + std::string(name)).c_str());
  const size_t at = info.find("flags:");
  if (at == std::string::npos) return false;  // closed meanwhile
  const unsigned long flags = std::strtoul(info.c_str() + at + 6, nullptr, 8);
  return (flags & O_ACCMODE) != O_RDONLY;
}

enum class Look { kNotOpen, kWriting, kClosed };

// Looks through the open files of one process for a write open of `target`; kClosed when the
// process's files may not be looked into.
Look LookIntoProcess(int processDir, const struct stat& target) {
  UniqueFd fds(openat(processDir, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fds) return errno == ENOENT ? Look::kNotOpen : Look::kClosed;
  const int fdsFd = fds.get();
  DirPtr list(fdopendir(fds.release()));
  if (!list) {
    close(fdsFd);
    return Look::kClosed;
  }
  while (const dirent* entry = readdir(list.get())) {
    struct stat file;
    if (!IsNumber(entry->d_name) || fstatat(fdsFd, entry->d_name, &file, 0) != 0) continue;
    if (file.st_dev == target.st_dev && file.st_ino == target.st_ino &&
        OpenForWriting(processDir, entry->d_name)) {
      return Look::kWriting;
    }
  }
  return Look::kNotOpen;
}

}  // namespace

WriterCheck CheckOpenWritersInProc(int fd) {
  struct stat target;
  if (fstat(fd, &target) != 0) return WriterCheck::kUnknown;
  DirPtr proc(opendir("/proc"));
  if (!proc) return WriterCheck::kUnknown;
  bool ownerClosed = false;
  while (const dirent* entry = readdir(proc.get())) {
    if (!IsNumber(entry->d_name)) continue;
    UniqueFd process(openat(dirfd(proc.get()), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!process) continue;  // ended meanwhile
    switch (LookIntoProcess(process.get(), target)) {
      case Look::kWriting:
        return WriterCheck::kWriting;
      case Look::kClosed:
        ownerClosed = ownerClosed || RunsAs(process.get(), target.st_uid);
        break;
      case Look::kNotOpen:
        break;
    }
  }
  return ownerClosed ? WriterCheck::kUnknown : WriterCheck::kNone;
}

WriterCheck CheckOpenWriters(int fd) {
  if (fcntl(fd, F_SETSIG, SIGURG) == 0 && fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
    return WriterCheck::kNone;
  }
  if (errno == EAGAIN) return WriterCheck::kWriting;
  return CheckOpenWritersInProc(fd);
}

}  // namespace platform
