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
// The gate is never waited for without limit. Our own openers hold it for a few system calls,
// but any program may flock a card file (a backup script under flock(1)) and keep it. So the
// gate is tried without blocking and tried again after short, growing sleeps for about a
// second in all (backoff.h); then the open fails with a sharing violation, which is what the
// file being held elsewhere amounts to.
//
// Locks of programs that do not use this module. F_OFD_GETLK reports one lock that conflicts,
// and for an open-file-description lock its l_pid is -1; a lock that reports a real process id
// is a classic record lock (lockf, fcntl F_SETLK) of some other program, never an announcement
// of ours, and is ignored. Such a lock may cover the whole file, our bytes included, and hide
// an announcement that lies under it, because F_OFD_GETLK names only one of the conflicting
// locks. Only then the kernel's list of locks (/proc/locks) is read for an open-file-
// description lock on the byte, matched by the file's inode number (on overlay file systems
// the device number in that list is not the one fstat gives). Where /proc is not mounted, the
// hidden announcement is missed: the foreign lock makes us lenient, never stricter. A foreign
// exclusive lock over our bytes also leaves no room for our own shared announcement; the open
// then goes on without it, as it does on a file it cannot read.
//
// Network file systems.
// - NFS (Linux client). Record locks, OFD locks included, go to the server and work between
//   machines; F_OFD_GETLK reports a lock held on another machine with l_pid -1, so it counts
//   as an announcement, whoever took it there. But the client emulates flock with a byte-range
//   lock over the whole file (since Linux 2.6.12), and that lock conflicts with the shared
//   announcements of every other open of the file: while anyone else has the file open, the
//   gate cannot be had, and an open fails with a sharing violation after the retry time. A
//   store on NFS therefore needs the mount option local_lock=flock (the gate stays on the
//   machine, announcements still go to the server; between machines a probe and an
//   announcement are then no longer atomic, a window of microseconds) or a lone user.
// - SMB (cifs). Byte-range locks go to the server and are mandatory on Windows servers; our
//   bytes lie beyond any data, so they never block a read or write of the data. Newer clients
//   send flock as a whole-file byte-range lock too, with the same effect as on NFS; with the
//   mount option nobrl every lock stays on the machine. Processes on Windows machines do not
//   see our announcements at all; their own share modes are enforced by the server, and the
//   client reports their refusals as the open's errno.
// Neither can be tried here; the tests cover the local behaviour both rely on: a gate held
// elsewhere gives up in time, and locks with real process ids are not announcements.
//
// Removal and renaming look for holders of +0 or +1 under the same gate. An opener that had
// opened the path just before a removal finds, once it has the gate, that the path no longer
// names its file, and opens again. Another program that renames files over the path in a
// tight loop makes the same happen, possibly many times in a row; so the opener goes on trying
// for as long as it would wait for the gate, and only then reports kPathKeptChanging. (A fixed
// number of attempts, as before, turned such a loop into rare, spurious sharing violations.)
//
// Replacing or removing a file one holds open. The compaction of the card file must keep
// writers out while it reads the file, so it holds the file open denying writers, and then has
// to replace the very file it holds; the card report likewise removes the list of batch markers
// it holds. RemoveShared and RenameShared would refuse, since the caller's own open counts as a
// holder. ReplaceHeldShared and RemoveHeldShared therefore take the gate and make the probe
// through the holder's own descriptor: a lock never conflicts with a request of its own owner,
// and the owner of an open-file-description lock is the open file itself, so F_OFD_GETLK through
// that descriptor reports every other open's announcement, in this process or another, but never
// the holder's. Under the gate the path is checked to still name the held file (lstat, so a
// symbolic link is refused rather than replaced), and only then renamed over or removed. An
// opener that arrived meanwhile waits at the gate of the old file and then finds, as after any
// removal, that the path names another file, and opens again: it sees the old file or the new
// one, never a half-written one and never none. The replacement has no announcements until
// somebody opens it; the holder's own announcement stays on the old file until it is closed.
// With another program's record lock over the reserved bytes, the kernel's list of locks also
// shows the holder's own announcement, and the operation is refused: stricter, never lenient.
//
// Programs that do not use this module announce nothing, yet one that kept the old file open
// would go on writing into a file no longer named, and its writes would be lost. So the last
// step before the rename claims the file as the holder's sole open (sole_open.h): a lease the
// kernel grants only while no other open file of it exists in any process, held across the
// rename, or a look at the open files under /proc where no lease can be had. Replacing a
// report, which readers only read, allows other readers (OthersMay::kRead): a reader goes on
// reading the old file whole.
//
// Record locks: changing one card record. The sharing modes say who may have a file open;
// they do not keep two writers of the same record apart. A change of a card is a read of its
// 32-byte record followed by a write of the whole record, and two such changes that overlap
// lose one of them (a top-up and a charge, a saved balance and a last number). So every
// program of this code base changes a record only under a short exclusive lock on that
// record's own bytes, and a program of the product family (the telephony server) that wants
// the same guarantee follows the same protocol:
//
//   1. Open PREPAID.DAT for reading and writing, sharing read and write (as the store does).
//   2. Take an open-file-description write lock, fcntl(F_OFD_SETLK) with l_type F_WRLCK,
//      l_whence SEEK_SET, l_start 32 * index, l_len 32, on that open file. While another
//      writer holds it the call fails with EAGAIN (or EACCES): sleep a moment and try again.
//      The store tries every 2 ms and gives up after about four seconds, since a writer holds
//      the lock for one read and one write only. Never use F_SETLK or lockf here (see above).
//   3. Read the record again (pread of 32 bytes at 32 * index) and check that it still holds
//      the card: a compaction may have moved every card since the index was found, and then
//      the card is searched again.
//   4. Change the record read in step 3 (never a copy from before the lock) and write all 32
//      bytes back with one pwrite at the same offset.
//   5. Release the lock (F_UNLCK on the same range) or close the file.
//
// A new card is appended the same way: lock the bytes of record n (the file's record count),
// check that the file still holds exactly n records, write it there. Replacing a record with
// the caller's copy (Prepaid_Write) takes the lock for its write, so it never lands in the
// middle of another writer's change. Lookups take no lock; what they read is a snapshot that
// a later change must read again under the lock. Changes of the whole file (the compaction)
// keep all writers out of the file while they run (it is held open denying writers, see
// above) and do not take record locks. The lock
// bytes are the record's own data bytes, far below the announcement bytes above, so record
// locks and sharing announcements never meet. An OFD lock vanishes with its open file: a
// writer that is killed holding a record lock holds it no longer, and the next writer goes
// on. Only programs that follow the protocol are kept apart; one that reads and writes
// without the lock can still lose another's change.
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
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/backoff.h"
#include "platform/fault.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/sole_open.h"
#include "platform/text_stream.h"

namespace platform {
namespace {

constexpr off_t kLockBase = 0x7FFFFFFFFFFF0000;
enum LockByte : off_t { kReads = 0, kWrites = 1, kDeniesRead = 2, kDeniesWrite = 3 };

int Errno() { return errno ? errno : EIO; }

// The file whose locks are looked at: its descriptor, its name for the fault hook, and its
// inode number for the kernel's list of locks.
struct LockTarget {
  int fd;
  const std::string& path;
  ino_t inode;
};

struct flock LockRequest(short type, LockByte byte) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kLockBase + byte;
  lock.l_len = 1;
  return lock;
}

// True when /proc/locks lists an open-file-description lock of file `inode` that covers
// `offset`. Lines read "1: OFDLCK ADVISORY READ -1 fe:00:1234 <start> <end or EOF>"; waiters
// ("1: -> POSIX ...") have "->" where the type is.
bool ListedAsAnnouncement(ino_t inode, off_t offset) {
  std::FILE* list = std::fopen("/proc/locks", "re");
  if (!list) return false;
  bool found = false;
  char line[256];
  while (!found && std::fgets(line, sizeof line, list)) {
    char type[16], end[24];
    unsigned major, minor;
    unsigned long long lockInode;
    long long start;
    if (std::sscanf(line, "%*d: %15s %*s %*s %*d %x:%x:%llu %lld %23s", type, &major, &minor,
                    &lockInode, &start, end) != 6) {
      continue;
    }
    const bool toEnd = std::strcmp(end, "EOF") == 0;
    found = std::strcmp(type, "OFDLCK") == 0 && lockInode == inode && start <= offset &&
            (toEnd || std::strtoll(end, nullptr, 10) >= offset);
  }
  std::fclose(list);
  return found;
}

// Whether another open holds an announcement on `byte`. Returns 0 or the errno of the test.
int IsHeld(const LockTarget& file, LockByte byte, bool* held) {
  if (int fault = InjectedFault(FileOp::kLock, file.path)) return fault;
  struct flock lock = LockRequest(F_WRLCK, byte);
  if (::fcntl(file.fd, F_OFD_GETLK, &lock) != 0) return Errno();
  if (lock.l_type == F_UNLCK) {
    *held = false;
  } else if (lock.l_pid == -1) {
    *held = true;
  } else {  // another program's record lock, possibly in front of an announcement
    *held = ListedAsAnnouncement(file.inode, kLockBase + byte);
  }
  return 0;
}

// Announces `byte` with a shared lock. Only an exclusive lock can refuse it, and we never take
// one: it is another program's, and the open goes on without this announcement.
int Announce(const LockTarget& file, LockByte byte) {
  if (int fault = InjectedFault(FileOp::kLock, file.path)) return fault;
  struct flock lock = LockRequest(F_RDLCK, byte);
  if (::fcntl(file.fd, F_OFD_SETLK, &lock) == 0) return 0;
  return errno == EAGAIN || errno == EACCES ? 0 : Errno();
}

struct ByteRule {
  bool applies;
  LockByte byte;
};

// 0 when nobody's announcement conflicts with `request`, kSharingViolation when one does, or
// the errno of a failed test.
int CheckOthers(const LockTarget& file, const OpenRequest& request) {
  const ByteRule conflicts[] = {
      {(request.access & kAccessRead) != 0, kDeniesRead},
      {(request.access & kAccessWrite) != 0, kDeniesWrite},
      {!(request.share & kShareRead), kReads},
      {!(request.share & kShareWrite), kWrites},
  };
  for (const ByteRule& rule : conflicts) {
    bool held = false;
    if (!rule.applies) continue;
    if (int error = IsHeld(file, rule.byte, &held)) return error;
    if (held) return kSharingViolation;
  }
  return 0;
}

int AnnounceOpen(const LockTarget& file, const OpenRequest& request) {
  const ByteRule announcements[] = {
      {(request.access & kAccessRead) != 0, kReads},
      {(request.access & kAccessWrite) != 0, kWrites},
      {!(request.share & kShareRead), kDeniesRead},
      {!(request.share & kShareWrite), kDeniesWrite},
  };
  for (const ByteRule& rule : announcements) {
    if (!rule.applies) continue;
    if (int error = Announce(file, rule.byte)) return error;
  }
  return 0;
}

// 0 when no cooperating open holds the file (with OthersMay::kRead: none writes it or denies
// writing), kSharingViolation when one does, or an errno.
int CheckNotOpen(const LockTarget& file, OthersMay others = OthersMay::kNothing) {
  const LockByte nothing[] = {kReads, kWrites};
  const LockByte reading[] = {kWrites, kDeniesWrite};
  for (LockByte byte : others == OthersMay::kNothing ? nothing : reading) {
    bool held = false;
    if (int error = IsHeld(file, byte, &held)) return error;
    if (held) return kSharingViolation;
  }
  return 0;
}

// Holds the gate, flock(LOCK_EX) on the file, from a successful Take() to its destruction.
class Gate {
 public:
  Gate(int fd, const std::string& path) : fd_(fd), path_(path) {}
  ~Gate() {
    if (held_) ::flock(fd_, LOCK_UN);
  }
  Gate(const Gate&) = delete;
  Gate& operator=(const Gate&) = delete;

  // Tries without blocking, and again while `backoff` allows. Returns 0; kSharingViolation
  // when somebody kept the file locked; or the errno of a failed flock.
  int Take(Backoff& backoff) {
    const int error = LockExclusiveWithin(fd_, path_, backoff);
    held_ = error == 0;
    return error == EWOULDBLOCK ? kSharingViolation : error;
  }

 private:
  int fd_;
  const std::string& path_;
  bool held_ = false;
};

// True when `path` still names the file `opened` (not removed or replaced meanwhile).
bool PathNamesFile(const std::string& path, const struct stat& opened, int fd) {
  struct stat byPath, now;
  if (::stat(path.c_str(), &byPath) != 0 || ::fstat(fd, &now) != 0) return false;
  return now.st_nlink > 0 && byPath.st_dev == opened.st_dev && byPath.st_ino == opened.st_ino;
}

int OpenFlags(const OpenRequest& request, bool readWriteDescriptor) {
  int flags = 0;
  if (request.access == kAccessRead) {
    flags |= O_RDONLY;
  } else {
    flags |= readWriteDescriptor ? O_RDWR : O_WRONLY;
  }
  if (request.disposition != Disposition::kOpenExisting) flags |= O_CREAT;
  if (request.disposition == Disposition::kCreateNew) flags |= O_EXCL;
  if (request.append) flags |= O_APPEND;
  return flags;
}

// Opens the descriptor; for write-only access a read-write one when the file allows it.
int OpenDescriptor(const std::string& path, const OpenRequest& request, UniqueFd* fd,
                   struct stat* status, bool* announceable) {
  *announceable = true;
  int error = OpenRegularFile(path, OpenFlags(request, true), 0666, fd, status);
  if (error == EACCES && request.access == kAccessWrite) {
    *announceable = false;
    error = OpenRegularFile(path, OpenFlags(request, false), 0666, fd, status);
  }
  return error;
}

}  // namespace

int SharedFile::Open(const std::string& path, const OpenRequest& request, SharedFile* file) {
  file->Close();
  if (path.empty()) return ENOENT;
  Backoff backoff;  // one budget for the whole open: the gate and the settling on one file
  for (;;) {
    UniqueFd fd;
    struct stat status;
    bool announceable;
    if (int error = OpenDescriptor(path, request, &fd, &status, &announceable)) {
      // A lease of another program (a file server's) that was not given up in time.
      return error == EWOULDBLOCK ? kSharingViolation : error;
    }
    {
      Gate gate(fd.get(), path);
      if (int error = gate.Take(backoff)) return error;
      if (!PathNamesFile(path, status, fd.get())) {
        // A new file that was renamed or removed at once cannot be made again under its name.
        if (backoff.Expired() || request.disposition == Disposition::kCreateNew) {
          return kPathKeptChanging;
        }
        continue;
      }
      const LockTarget target{fd.get(), path, status.st_ino};
      if (int error = CheckOthers(target, request)) return error;
      if (announceable) {
        if (int error = AnnounceOpen(target, request)) return error;
      }
    }
    if (request.disposition == Disposition::kCreateTruncate) {
      if (int fault = InjectedFault(FileOp::kTruncate, path)) return fault;
      if (::ftruncate(fd.get(), 0) != 0) return Errno();
    }
    file->fd_ = std::move(fd);
    file->path_ = path;
    return 0;
  }
}

ssize_t SharedFile::ReadAt(void* buffer, size_t size, off_t offset) const {
  return ReadAll(fd_.get(), buffer, size, path_, offset);
}

bool SharedFile::WriteAt(const void* buffer, size_t size, off_t offset) const {
  return WriteAll(fd_.get(), buffer, size, path_, offset);
}

off_t SharedFile::Size() const {
  struct stat status;
  if (int error = StatOpenFile(fd_.get(), path_, &status)) {
    errno = error;
    return -1;
  }
  return status.st_size;
}

int SharedFile::Close() {
  const int result = fd_.Close(path_);
  path_.clear();
  return result;
}

int SharedFile::Release() {
  path_.clear();
  return fd_.release();
}

namespace {

// The stream mode that glibc understands for a C runtime mode string: "r", "w" or "a" from the
// first character, "+" when one follows anywhere. Empty when the first character is none of
// them, which the C runtime refuses too.
std::string StandardStreamMode(const char* mode) {
  if (!IsStreamMode(mode)) return {};
  std::string result(1, *mode);
  if (std::strchr(mode + 1, '+')) result += '+';
  return result;
}

}  // namespace

bool IsStreamMode(const char* mode) {
  return mode && (*mode == 'r' || *mode == 'w' || *mode == 'a');
}

std::FILE* AttachStream(SharedFile file, const char* mode) {
  std::string path = file.path();
  std::string standardMode = StandardStreamMode(mode);
  if (standardMode.empty()) {
    errno = EINVAL;
    return nullptr;  // `file` closes the descriptor
  }
  UniqueFd fd(file.Release());
  std::FILE* stream = std::strchr(mode, 't') ? OpenTextStream(fd.get(), standardMode.c_str(), path)
                                             : ::fdopen(fd.get(), standardMode.c_str());
  if (stream) fd.release();  // the stream owns it now
  return stream;
}

namespace {

enum class IfMissing { kFail, kAct };

// Runs `action` under the gate of `file` while no cooperating open of it exists other than the
// open that `file.fd` belongs to. A probe never reports the locks of the open file description
// it is made through, so through a descriptor opened only to look this means "no open at all",
// and through a holder's own descriptor "no open but the holder's".
template <typename Action>
int WhileNoOtherOpen(const LockTarget& file, Action action,
                     OthersMay others = OthersMay::kNothing) {
  Backoff backoff;
  Gate gate(file.fd, file.path);
  if (int error = gate.Take(backoff)) return error;
  if (int error = CheckNotOpen(file, others)) return error;
  return action();
}

// Runs `action` while no cooperating process holds `path` open, under the gate of that file.
// Only ordinary files carry announcements; anything else is acted on at once, and so is a
// missing path when `ifMissing` says so.
template <typename Action>
int WhileNotOpen(const std::string& path, Action action, IfMissing ifMissing = IfMissing::kFail) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) {
    return errno == ENOENT && ifMissing == IfMissing::kAct ? action() : Errno();
  }
  if (KindOf(status) != FileKind::kRegular) return action();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY));
  if (!fd) return errno == EACCES ? action() : Errno();
  return WhileNoOtherOpen({fd.get(), path, status.st_ino}, action);
}

// Renames `from` over the path of `target` under both files' gates, while `from` has no
// cooperating open and the target none that `others` rules out besides the one `target.fd`
// belongs to; `prepare` runs right before, under both gates. The one core of every replacement:
// a caller that holds the target passes its own descriptor, one that does not would pass a
// descriptor opened only to look.
template <typename Prepare>
int ReplaceUnderGates(const std::string& from, const LockTarget& target, OthersMay others,
                      Prepare prepare) {
  return WhileNoOtherOpen(
      target,
      [&] {
        return WhileNotOpen(from, [&] {
          if (int error = prepare()) return error;
          return ::rename(from.c_str(), target.path.c_str()) == 0 ? 0 : Errno();
        });
      },
      others);
}

// The status of the file `held` has open; EBADF when it is not open.
int HeldStatus(const SharedFile& held, struct stat* status) {
  if (!held.isOpen()) return EBADF;
  return StatOpenFile(held.fd(), held.path(), status);
}

// 0 when the held path still names the held file itself: not removed, not replaced, and not
// reached through a symbolic link.
int StillNamesHeldFile(const std::string& path, const struct stat& held) {
  struct stat byPath;
  if (::lstat(path.c_str(), &byPath) != 0) return errno == ENOENT ? ESTALE : Errno();
  if (S_ISLNK(byPath.st_mode)) return ELOOP;
  return byPath.st_dev == held.st_dev && byPath.st_ino == held.st_ino ? 0 : ESTALE;
}

// 0 when `path` names an ordinary file itself, not through a link.
int IsOrdinaryFileItself(const std::string& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) return Errno();
  if (S_ISLNK(status.st_mode)) return ELOOP;
  return KindOf(status) == FileKind::kRegular ? 0 : kNotRegularFile;
}

}  // namespace

int RemoveShared(const std::string& path) {
  if (int fault = InjectedFault(FileOp::kRemove, path)) return fault;
  return WhileNotOpen(path, [&] { return ::unlink(path.c_str()) == 0 ? 0 : Errno(); });
}

int ReplaceHeldShared(const std::string& from, const SharedFile& held, OthersMay others) {
  if (int fault = InjectedFault(FileOp::kRename, from)) return fault;
  struct stat status;
  if (int error = HeldStatus(held, &status)) return error;
  // Programs that do not announce their opens are found by the claim, which is made last,
  // right before the rename, and holds a lease across it where it can. An open the claim meets
  // while no announcement shows may be one of ours that is about to announce itself; it is
  // given the gates and the claim tried again for about a second.
  constexpr int kOpenUnannounced = -1;
  Backoff backoff;
  for (;;) {
    SoleOpen sole;
    const int error = ReplaceUnderGates(from, {held.fd(), held.path(), status.st_ino}, others, [&] {
      if (int stale = StillNamesHeldFile(held.path(), status)) return stale;
      if (int own = IsOrdinaryFileItself(from)) return own;
      const int claim = sole.Claim(held.fd(), held.path(), others);
      return claim == kSharingViolation ? kOpenUnannounced : claim;
    });
    sole.Release();
    if (error == 0) SyncDirectory(DirectoryOf(held.path()));
    if (error != kOpenUnannounced) return error;
    if (!backoff.Wait()) return kSharingViolation;
  }
}

int RemoveHeldShared(const SharedFile& held) {
  if (int fault = InjectedFault(FileOp::kRemove, held.path())) return fault;
  struct stat status;
  if (int error = HeldStatus(held, &status)) return error;
  return WhileNoOtherOpen({held.fd(), held.path(), status.st_ino}, [&] {
    if (int stale = StillNamesHeldFile(held.path(), status)) return stale;
    return ::unlink(held.path().c_str()) == 0 ? 0 : Errno();
  });
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

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return ::lstat(a.c_str(), &first) == 0 && ::lstat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

int ReplaceShared(const std::string& from, const std::string& to) {
  if (int fault = InjectedFault(FileOp::kRename, from)) return fault;
  auto rename = [&] { return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : Errno(); };
  // Two names of one file: rename(2) leaves both alone, and the file's gate cannot be taken
  // twice.
  if (SameFile(from, to)) return WhileNotOpen(from, rename);
  // Both gates are held while renaming, the target's first as in every replacement; the second
  // is only tried for about a second, so two replacements in opposite directions give up instead
  // of waiting for each other.
  return WhileNotOpen(
      to, [&] { return WhileNotOpen(from, rename); }, IfMissing::kAct);
}

}  // namespace platform
