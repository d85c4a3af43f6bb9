// The sharing-mode emulation.
//
// Why open-file-description locks. Classic POSIX record locks (F_SETLK) belong to the pair
// (process, file): a second lock from the same process silently replaces the first, and closing
// ANY descriptor of the file drops every lock the process holds on it. The store opens and
// closes its files on every call, so such locks would vanish under our feet. Locks taken with
// F_OFD_SETLK belong to the open file description instead: two opens conflict even inside one
// process, and their locks go only when that open file is closed or its process dies. Never
// use F_SETLK on these files: it would interfere with the OFD locks of the same process.
//
// Where the lock bytes are. Four bytes far beyond any real file size, treated as part of the
// file format of every shared file:
//
//   kLockBase + 0   "I read"            (held by opens with read access)
//   kLockBase + 1   "I write"           (held by opens with write access)
//   kLockBase + 2   "nobody may read"   (held by opens that do not share read)
//   kLockBase + 3   "nobody may write"  (held by opens that do not share write)
//
// Every announcement is a shared (read) lock, so any number of opens can hold the same byte.
// A conflict is found by asking (F_OFD_GETLK) whether an exclusive lock on the opposing byte
// could be taken:
//
//   the new open ...        conflicts when somebody holds
//   reads                   +2 (nobody may read)
//   writes                  +3 (nobody may write)
//   does not share read     +0 (I read)
//   does not share write    +1 (I write)
//
// Keeping probe and announcement atomic. Two openers could both probe, both see nothing, and
// both announce. So the probe and the announcement happen while holding flock(LOCK_EX) on the
// file, a short gate that works on any descriptor; flock and OFD locks do not interact.
// Truncation happens only after the gate is passed, so a refused open never truncates.
//
// Removal and renaming look for holders of +0 or +1 under the same gate. An opener that had
// opened the path just before a removal finds, once it has the gate, that the path no longer
// names its file, and opens again.
//
// An open for writing only still uses a read-write descriptor internally, because a shared
// (read) lock needs a descriptor open for reading; what the open announces and what its stream
// allows stay write-only. Where the file cannot be opened for reading at all, the open goes on
// without an announcement: it still respects the others' denials.
#include "platform/share.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/fault.h"
#include "platform/text_stream.h"

namespace platform {
namespace {

constexpr off_t kLockBase = 0x7FFFFFFFFFFF0000;
enum LockByte : off_t { kReads = 0, kWrites = 1, kDeniesRead = 2, kDeniesWrite = 3 };

// How often an open is retried when the path was removed or replaced under it.
constexpr int kReopenAttempts = 16;

int Errno() { return errno ? errno : EIO; }

struct flock LockRequest(short type, LockByte byte) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kLockBase + byte;
  lock.l_len = 1;
  return lock;
}

// True when another open file holds a lock on `byte`.
bool IsHeld(int fd, LockByte byte) {
  struct flock lock = LockRequest(F_WRLCK, byte);
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

bool Announce(int fd, LockByte byte) {
  struct flock lock = LockRequest(F_RDLCK, byte);
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Holds flock(LOCK_EX) on a descriptor for the lifetime of the object.
class Gate {
 public:
  explicit Gate(int fd) : fd_(fd) {
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~Gate() { flock(fd_, LOCK_UN); }
  Gate(const Gate&) = delete;
  Gate& operator=(const Gate&) = delete;

 private:
  int fd_;
};

// Owns a raw descriptor until released.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool ConflictsWithOthers(int fd, const OpenRequest& request) {
  return ((request.access & kAccessRead) && IsHeld(fd, kDeniesRead)) ||
         ((request.access & kAccessWrite) && IsHeld(fd, kDeniesWrite)) ||
         (!(request.share & kShareRead) && IsHeld(fd, kReads)) ||
         (!(request.share & kShareWrite) && IsHeld(fd, kWrites));
}

bool AnnounceOpen(int fd, const OpenRequest& request) {
  return (!(request.access & kAccessRead) || Announce(fd, kReads)) &&
         (!(request.access & kAccessWrite) || Announce(fd, kWrites)) &&
         ((request.share & kShareRead) || Announce(fd, kDeniesRead)) &&
         ((request.share & kShareWrite) || Announce(fd, kDeniesWrite));
}

bool IsOpenByOthers(int fd) { return IsHeld(fd, kReads) || IsHeld(fd, kWrites); }

// True when `path` still names the file open at `fd` (not removed or replaced meanwhile).
bool PathNamesFile(const std::string& path, int fd) {
  struct stat byPath, byFd;
  if (::stat(path.c_str(), &byPath) != 0 || ::fstat(fd, &byFd) != 0) return false;
  return byFd.st_nlink > 0 && byPath.st_dev == byFd.st_dev && byPath.st_ino == byFd.st_ino;
}

int OpenFlags(const OpenRequest& request, bool readWriteDescriptor) {
  int flags = O_CLOEXEC;
  if (request.access == kAccessRead) {
    flags |= O_RDONLY;
  } else {
    flags |= readWriteDescriptor ? O_RDWR : O_WRONLY;
  }
  if (request.disposition != Disposition::kOpenExisting) flags |= O_CREAT;
  if (request.append) flags |= O_APPEND;
  return flags;
}

// Opens the descriptor; for write-only access a read-write one when the file allows it.
int OpenDescriptor(const std::string& path, const OpenRequest& request, bool* announceable) {
  *announceable = true;
  int fd = ::open(path.c_str(), OpenFlags(request, true), 0666);
  if (fd < 0 && errno == EACCES && request.access == kAccessWrite) {
    *announceable = false;
    fd = ::open(path.c_str(), OpenFlags(request, false), 0666);
  }
  return fd;
}

}  // namespace

SharedFile::SharedFile(SharedFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

SharedFile& SharedFile::operator=(SharedFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

int SharedFile::Open(const std::string& path, const OpenRequest& request, SharedFile* file) {
  file->Close();
  if (int fault = InjectedFault(FileOp::kOpen, path)) return fault;
  if (path.empty()) return ENOENT;
  for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
    bool announceable;
    Fd fd(OpenDescriptor(path, request, &announceable));
    if (fd.get() < 0) return Errno();
    {
      Gate gate(fd.get());
      if (!PathNamesFile(path, fd.get())) continue;
      if (ConflictsWithOthers(fd.get(), request)) return kSharingViolation;
      if (announceable && !AnnounceOpen(fd.get(), request)) return Errno();
    }
    if (request.disposition == Disposition::kCreateTruncate) {
      if (int fault = InjectedFault(FileOp::kTruncate, path)) return fault;
      if (::ftruncate(fd.get(), 0) != 0) return Errno();
    }
    file->fd_ = fd.release();
    file->path_ = path;
    return 0;
  }
  return kSharingViolation;
}

ssize_t SharedFile::ReadAt(void* buffer, size_t size, off_t offset) const {
  if (int fault = InjectedFault(FileOp::kRead, path_)) {
    errno = fault;
    return -1;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd_, static_cast<char*>(buffer) + done, size - done,
                        offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool SharedFile::WriteAt(const void* buffer, size_t size, off_t offset) const {
  if (int fault = InjectedFault(FileOp::kWrite, path_)) {
    errno = fault;
    return false;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd_, static_cast<const char*>(buffer) + done, size - done,
                         offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

off_t SharedFile::Size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

int SharedFile::Close() {
  if (fd_ < 0) return 0;
  int result = ::close(std::exchange(fd_, -1)) == 0 ? 0 : Errno();
  path_.clear();
  return result;
}

int SharedFile::Release() {
  path_.clear();
  return std::exchange(fd_, -1);
}

namespace {

// The stream mode that glibc understands for a C runtime mode string: "r", "w" or "a" from the
// first character, "+" when one follows anywhere. Empty when the first character is none of
// them, which the C runtime refuses too.
std::string StandardStreamMode(const char* mode) {
  if (*mode != 'r' && *mode != 'w' && *mode != 'a') return {};
  std::string result(1, *mode);
  if (std::strchr(mode + 1, '+')) result += '+';
  return result;
}

}  // namespace

std::FILE* AttachStream(SharedFile file, const char* mode) {
  std::string path = file.path();
  std::string standardMode = StandardStreamMode(mode);
  if (standardMode.empty()) {
    errno = EINVAL;
    return nullptr;  // `file` closes the descriptor
  }
  int fd = file.Release();
  std::FILE* stream = std::strchr(mode, 't') ? OpenTextStream(fd, standardMode.c_str(), path)
                                             : ::fdopen(fd, standardMode.c_str());
  if (!stream) {
    int error = Errno();
    ::close(fd);
    errno = error;
  }
  return stream;
}

namespace {

// Runs `action` while no cooperating process holds `path` open, under the gate of that file.
template <typename Action>
int WhileNotOpen(const std::string& path, Action action) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return Errno();
  if (S_ISLNK(st.st_mode) || S_ISDIR(st.st_mode)) return action();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (fd.get() < 0) return errno == EACCES ? action() : Errno();
  Gate gate(fd.get());
  if (IsOpenByOthers(fd.get())) return kSharingViolation;
  return action();
}

}  // namespace

int RemoveShared(const std::string& path) {
  if (int fault = InjectedFault(FileOp::kRemove, path)) return fault;
  return WhileNotOpen(path, [&] { return ::unlink(path.c_str()) == 0 ? 0 : Errno(); });
}

int RenameShared(const std::string& from, const std::string& to) {
  if (int fault = InjectedFault(FileOp::kRename, from)) return fault;
  return WhileNotOpen(from, [&] {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL) return Errno();
    // A file system without RENAME_NOREPLACE: check, then rename.
    struct stat target;
    if (::lstat(to.c_str(), &target) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : Errno();
  });
}

}  // namespace platform
