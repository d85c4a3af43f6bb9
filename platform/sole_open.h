// Making sure one's own open of a file is its only one, in every process, also in programs that
// do not use these libraries (the sharing announcements of share.h see only those that do).
//
// A write lease (fcntl F_SETLEASE, F_WRLCK) is granted exactly when no other open file of the
// file exists, in any process; a read lease (F_RDLCK, on a descriptor open for reading only)
// when no other open file writes it. While a lease is held, every other open of the file that
// it conflicts with waits (a plain open) or fails with EWOULDBLOCK (an open with O_NONBLOCK, as
// every open of these libraries is, which tries again for about a second) until the holder
// gives it up. So a replacement made while the lease is held cannot be met by a new opener of
// the old file, except one that had already found the file by its name a moment before the
// lease was taken and opens it only after the lease is gone again.
//
// Lease-break signals. The kernel tells the holder that an open waits by a signal (SIGIO unless
// F_SETSIG names another) sent to the owner of the descriptor; SIGIO ends a program that does
// not handle it, and the libraries must never send the host program a signal. So before the
// lease is taken, the owner is set to a thread that has already ended: taking a lease does not
// replace an owner that is set, and a signal for a thread that has ended reaches nobody. Where
// that cannot be arranged (no thread can be started, or the kernel did replace the owner), the
// lease is given up at once and the look-up below is used instead.
//
// Where the caller may not take a lease (it is not the file's owner and lacks CAP_LEASE) or the
// file system has none (NFS, leases disabled), the open files of every process are looked up
// under /proc: each /proc/<pid>/fd entry that leads to the file (same device and inode), and
// for "others may read" its access mode in /proc/<pid>/fdinfo. That sees only the processes the
// caller may look into (its own user's, all for the superuser; none that a hidepid mount hides),
// does not see a file a process has only mapped into memory and closed, and keeps no opener out
// afterwards.
#ifndef LINDAVOX_PLATFORM_SOLE_OPEN_H
#define LINDAVOX_PLATFORM_SOLE_OPEN_H

#include <string_view>

namespace platform {

// What other opens of the file may be there.
enum class OthersMay {
  kNothing,  // no other open at all
  kRead,     // other opens for reading only
};

// A claim that the caller's open is the file's only one (or only writer) at the moment it is
// made; with a lease held from then on where the kernel grants one. Released on destruction.
class SoleOpen {
 public:
  SoleOpen() = default;
  ~SoleOpen() { Release(); }
  SoleOpen(const SoleOpen&) = delete;
  SoleOpen& operator=(const SoleOpen&) = delete;

  // Claims the file that `fd` has open (for kRead `fd` must be open for reading only); `path`
  // names it for the fault hook (FileOp::kLock). Returns 0 when no other open that `others`
  // rules out exists, in any process the caller can see; EBUSY (share.h's kSharingViolation)
  // when one does; or the errno of the failed hook.
  int Claim(int fd, std::string_view path, OthersMay others);
  // Gives up the lease, if one is held.
  void Release();
  // True while a lease is held.
  bool leased() const { return leased_ >= 0; }

 private:
  int leased_ = -1;  // the descriptor the lease is held on
};

}  // namespace platform

#endif
