#include "platform/sole_open.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "platform/fault.h"
#include "platform/share.h"

namespace platform {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// Makes a thread that has ended the owner of `fd`, the one the kernel sends the signals about
// `fd` to; they then reach nobody. False when no thread could be started or the owner not set.
bool OwnedByAnEndedThread(int fd) {
  bool owned = false;
  try {
    std::thread([fd, &owned] {
      sigset_t all;
      sigfillset(&all);
      ::pthread_sigmask(SIG_BLOCK, &all, nullptr);  // it exists for nobody's signals
      const f_owner_ex owner{F_OWNER_TID, ::gettid()};
      owned = ::fcntl(fd, F_SETOWN_EX, &owner) == 0;
    }).join();
  } catch (const std::system_error&) {
    return false;
  }
  return owned;
}

// True when the owner of `fd` is still the ended thread: the kernel reports no live owner.
bool StillOwnedByNobody(int fd) {
  f_owner_ex owner{};
  return ::fcntl(fd, F_GETOWN_EX, &owner) == 0 && owner.pid == 0;
}

bool IsProcessName(const char* name) {
  if (!*name) return false;
  for (const char* c = name; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

// True when /proc/<pid>/fdinfo/<fd> gives an access mode that writes.
bool OpenForWriting(const std::string& process, const char* fd) {
  std::FILE* info = std::fopen(("/proc/" + process + "/fdinfo/" + fd).c_str(), "re");
  if (!info) return false;
  char line[128];
  unsigned flags = 0;
  bool found = false;
  while (!found && std::fgets(line, sizeof line, info)) {
    found = std::sscanf(line, "flags: %o", &flags) == 1;
  }
  std::fclose(info);
  return found && (flags & O_ACCMODE) != O_RDONLY;
}

// Whether process `process` has the file `file` open other than through `ownFd` of this
// process, by its descriptors' links (those of "others may read" only when they write).
bool ProcessHasItOpen(const std::string& process, const struct stat& file, int ownFd,
                      OthersMay others) {
  const std::string folder = "/proc/" + process + "/fd/";
  DirHandle descriptors(::opendir(folder.c_str()));
  if (!descriptors) return false;  // ended meanwhile, or not ours to look into
  const bool self = std::atoi(process.c_str()) == ::getpid();
  while (const dirent* entry = ::readdir(descriptors.get())) {
    if (!IsProcessName(entry->d_name)) continue;
    if (self && std::atoi(entry->d_name) == ownFd) continue;
    struct stat target;
    if (::stat((folder + entry->d_name).c_str(), &target) != 0) continue;
    if (target.st_dev != file.st_dev || target.st_ino != file.st_ino) continue;
    if (others == OthersMay::kNothing || OpenForWriting(process, entry->d_name)) return true;
  }
  return false;
}

// The look-up under /proc: true when any process has the file open in a way `others` rules out.
bool OpenedAnywhereElse(int fd, OthersMay others) {
  struct stat file;
  if (::fstat(fd, &file) != 0) return false;
  DirHandle processes(::opendir("/proc"));
  if (!processes) return false;  // no /proc: nothing can be told
  while (const dirent* entry = ::readdir(processes.get())) {
    if (IsProcessName(entry->d_name) && ProcessHasItOpen(entry->d_name, file, fd, others)) {
      return true;
    }
  }
  return false;
}

}  // namespace

int SoleOpen::Claim(int fd, std::string_view path, OthersMay others) {
  Release();
  if (int fault = InjectedFault(FileOp::kLock, path)) return fault;
  const int type = others == OthersMay::kNothing ? F_WRLCK : F_RDLCK;
  if (OwnedByAnEndedThread(fd)) {
    if (::fcntl(fd, F_SETLEASE, type) == 0) {
      leased_ = fd;
      if (StillOwnedByNobody(fd)) return 0;
      Release();  // a signal could reach this process: look the openers up instead
    } else if (errno == EAGAIN) {
      return kSharingViolation;
    }
  }
  // No lease for this caller or on this file system.
  return OpenedAnywhereElse(fd, others) ? kSharingViolation : 0;
}

void SoleOpen::Release() {
  if (leased_ < 0) return;
  ::fcntl(leased_, F_SETLEASE, F_UNLCK);
  leased_ = -1;
}

}  // namespace platform
