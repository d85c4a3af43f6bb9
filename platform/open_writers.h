// Whether another program still has a file open for writing: a file that is still being
// uploaded or written is not to be used yet.
//
// The kernel answers this exactly to a read lease (fcntl F_SETLEASE with F_RDLCK), which it
// grants only while no process has the file open for writing. The lease is taken and at once
// given back, so nobody's open waits for it; a writer that opens the file in that moment sends
// the lease holder the signal of F_SETSIG, which is set to SIGURG (ignored unless a program asks
// for it) so that it cannot end the caller. A lease needs the file's owner or CAP_LEASE. Any
// other caller looks through /proc instead: every open file of every process it may look into
// (those of its own user; all of them for root), compared by device and inode, with the access
// mode from fdinfo. The processes of other users are closed to it; when the file's owner has
// such a process, that process may be the writer, and the answer is kUnknown.
#ifndef LINDAVOX_PLATFORM_OPEN_WRITERS_H
#define LINDAVOX_PLATFORM_OPEN_WRITERS_H

namespace platform {

enum class WriterCheck {
  kNone,     // no process has the file open for writing
  kWriting,  // a process has it open for writing
  kUnknown,  // it cannot be told: neither a lease nor a look into every possible writer
};

// Checks the file open as `fd`, which must be open for reading only (a lease is refused to a
// descriptor open for writing).
WriterCheck CheckOpenWriters(int fd);

// The check through /proc alone, as a caller without the lease's rights makes it (for tests).
WriterCheck CheckOpenWritersInProc(int fd);

}  // namespace platform

#endif
