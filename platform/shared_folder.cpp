#include "platform/shared_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "platform/backoff.h"
#include "platform/path.h"
#include "platform/share.h"

namespace platform {
namespace {

constexpr int kMaxLinkHops = 40;  // as many as the kernel follows in one path
// A name that keeps turning from missing into present and back (another program creating and
// removing it in a loop) is given up after this many tries.
constexpr int kMaxOpenTries = 100;

thread_local std::optional<Refusal> t_refusal;

int Errno() { return errno ? errno : EIO; }

int Refuse(const std::string& path, int error) {
  t_refusal = Refusal{path, error};
  return error;
}

// The last component as openat(2) takes it: "." for a path that ends in '/'.
const char* EntryName(const std::string& name) { return name.empty() ? "." : name.c_str(); }

// openat(2) of a single name that neither follows a link, nor blocks on a pipe or device, nor
// makes a terminal the controlling one; retried while a lease holder gives up its lease.
int OpenAt(int folder, const char* name, int flags, mode_t mode) {
  const int all = flags | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
  Backoff lease;
  for (;;) {
    const int fd = ::openat(folder, name, all, mode);
    if (fd >= 0 || (errno != EWOULDBLOCK && errno != EINTR)) return fd;
    if (errno == EWOULDBLOCK && !lease.Wait()) return -1;
  }
}

// A folder, held open to look up its names (O_PATH: nothing is read from it), and its status,
// fetched only when a rule needs its owner or group.
class Folder {
 public:
  // Opens `directory` ("" for `at` itself), relative to `at`. Returns 0 or an errno value.
  int Open(int at, const std::string& directory) {
    fd_.reset(::openat(at, directory.empty() ? "." : directory.c_str(),
                       O_PATH | O_DIRECTORY | O_CLOEXEC));
    // Descriptors 0 to 2 are left free for the file itself, which gets the lowest free one as a
    // plain open(2) would give it.
    if (fd_ && fd_.get() <= STDERR_FILENO) {
      fd_.reset(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
    }
    return fd_ ? 0 : Errno();
  }
  int fd() const { return fd_.get(); }
  // The folder's status; null when fstat fails.
  const struct stat* status() {
    if (!known_) known_ = ::fstat(fd_.get(), &status_) == 0;
    return known_ ? &status_ : nullptr;
  }

 private:
  UniqueFd fd_;
  struct stat status_ {};
  bool known_ = false;
};

bool MayFollow(const struct stat& link, const struct stat& folder) {
  return link.st_uid == 0 || link.st_uid == folder.st_uid || link.st_uid == ::geteuid();
}

// The target of the link `name` in the folder `at` (or of the link `at` itself, opened with
// O_PATH | O_NOFOLLOW, when `name` is ""); `size` is the link's own size. Returns 0 or an errno
// value.
int ReadLinkAt(int at, const char* name, off_t size, std::string* target) {
  std::string text(static_cast<size_t>(std::max<off_t>(size, 63)) + 1, '\0');
  for (;;) {
    const ssize_t length = ::readlinkat(at, name, text.data(), text.size());
    if (length < 0) return Errno();
    if (static_cast<size_t>(length) < text.size()) {
      text.resize(static_cast<size_t>(length));
      *target = std::move(text);
      return 0;
    }
    text.resize(text.size() * 2);  // possibly cut: again with more room
  }
}

// The path a link target names, for messages: relative targets are taken in the link's folder.
std::string TargetPath(const std::string& linkPath, const std::string& target) {
  return !target.empty() && target[0] == '/' ? target : DirectoryOf(linkPath) + target;
}

// A file created in a folder its group may write: the folder's group, and the group bits of
// the mode asked for whatever the umask. Best effort: a process outside the group cannot give
// the file that group, and the file then stays as the system made it.
void GiveNewFileAccess(int fd, Folder& folder, mode_t mode) {
  const struct stat* shared = folder.status();
  if (!shared || !(shared->st_mode & S_IWGRP)) return;
  struct stat own;
  if (::fstat(fd, &own) != 0) return;
  if (own.st_gid != shared->st_gid && ::fchown(fd, static_cast<uid_t>(-1), shared->st_gid) == 0) {
    own.st_gid = shared->st_gid;
  }
  const mode_t wanted = (own.st_mode & 07707) | (mode & 0070);
  if (own.st_gid == shared->st_gid && wanted != (own.st_mode & 07777)) {
    static_cast<void>(::fchmod(fd, wanted));
  }
}

struct OpenJob {
  int flags;
  mode_t mode;
  UniqueFd* fd;
  bool* created;
};

int OpenEntry(Folder& folder, const std::string& name, const std::string& path, const OpenJob& job,
              int hops);

// The last component of `path` is a symbolic link: follows it when the rule allows. Sets
// `*gone` when the name no longer is a link (it was swapped meanwhile) and should be opened
// again.
int FollowLink(Folder& folder, const std::string& name, const std::string& path, const OpenJob& job,
               int hops, bool* gone) {
  *gone = false;
  UniqueFd link(::openat(folder.fd(), EntryName(name), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat status;
  if (!link || ::fstat(link.get(), &status) != 0) {
    *gone = errno == ENOENT;
    return Errno();
  }
  if (!S_ISLNK(status.st_mode)) {
    *gone = true;
    return 0;
  }
  const struct stat* owner = folder.status();
  if (!owner) return Errno();
  if (!MayFollow(status, *owner)) return Refuse(path, kUntrustedLink);
  if (hops >= kMaxLinkHops) return ELOOP;
  std::string target;
  if (int error = ReadLinkAt(link.get(), "", status.st_size, &target)) return error;
  Folder next;
  if (int error = next.Open(folder.fd(), DirectoryOf(target))) return error;
  return OpenEntry(next, BaseName(target), TargetPath(path, target), job, hops + 1);
}

int OpenEntry(Folder& folder, const std::string& name, const std::string& path, const OpenJob& job,
              int hops) {
  const bool create = (job.flags & O_CREAT) != 0;
  const bool exclusive = create && (job.flags & O_EXCL) != 0;
  for (int attempt = 0; attempt < kMaxOpenTries; ++attempt) {
    if (!exclusive) {
      job.fd->reset(OpenAt(folder.fd(), EntryName(name), job.flags & ~(O_CREAT | O_EXCL), 0));
      if (*job.fd) {
        *job.created = false;
        return 0;
      }
      if (errno == ELOOP) {
        bool gone = false;
        const int error = FollowLink(folder, name, path, job, hops, &gone);
        if (!gone) return error;
        continue;
      }
      if (errno != ENOENT || !create) return Errno();
    }
    job.fd->reset(OpenAt(folder.fd(), EntryName(name), job.flags | O_EXCL, job.mode));
    if (*job.fd) {
      *job.created = true;
      GiveNewFileAccess(job.fd->get(), folder, job.mode);
      return 0;
    }
    if (errno != EEXIST || exclusive) return Errno();
    // Somebody made the name meanwhile (possibly a link): open what is there now.
  }
  return EAGAIN;
}

}  // namespace

int OpenInFolder(const std::string& path, int flags, mode_t mode, UniqueFd* fd, bool* created) {
  bool ignored = false;
  fd->reset();
  Folder folder;
  if (int error = folder.Open(AT_FDCWD, DirectoryOf(path))) return error;
  return OpenEntry(folder, BaseName(path), path,
                   OpenJob{flags, mode, fd, created ? created : &ignored}, 0);
}

int FollowTrustedLinks(const std::string& path, std::string* file) {
  std::string current = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    *file = current;
    Folder folder;
    struct stat status;
    const std::string name = BaseName(current);
    if (folder.Open(AT_FDCWD, DirectoryOf(current)) != 0 ||
        ::fstatat(folder.fd(), EntryName(name), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISLNK(status.st_mode)) {
      return 0;  // what is there (or missing) is the file; opening it tells the rest
    }
    const struct stat* owner = folder.status();
    if (!owner) return Errno();
    if (!MayFollow(status, *owner)) return Refuse(current, kUntrustedLink);
    std::string target;
    if (int error = ReadLinkAt(folder.fd(), EntryName(name), status.st_size, &target)) {
      return error;
    }
    current = TargetPath(current, target);
  }
  return ELOOP;
}

int RemoveStaleFile(const std::string& path) {
  Folder folder;
  if (int error = folder.Open(AT_FDCWD, DirectoryOf(path))) return error;
  struct stat status;
  if (::fstatat(folder.fd(), EntryName(BaseName(path)), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? 0 : Errno();
  }
  const struct stat* owner = folder.status();
  if (!owner) return Errno();
  if (!S_ISREG(status.st_mode) ||
      (status.st_uid != owner->st_uid && status.st_uid != ::geteuid())) {
    return Refuse(path, kFileInTheWay);
  }
  const int error = RemoveShared(path);
  return error == ENOENT ? 0 : error;
}

int TakeOverAccess(int fd, const struct stat& model) {
  struct stat own;
  if (::fstat(fd, &own) != 0) return Errno();
  if ((own.st_uid != model.st_uid || own.st_gid != model.st_gid) &&
      ::fchown(fd, model.st_uid, model.st_gid) != 0) {
    // Not privileged: the group at least, where the caller belongs to it.
    static_cast<void>(::fchown(fd, static_cast<uid_t>(-1), model.st_gid));
  }
  return ::fchmod(fd, model.st_mode & 07777) == 0 ? 0 : Errno();
}

std::optional<Refusal> TakeRefusal() { return std::exchange(t_refusal, std::nullopt); }

}  // namespace platform
