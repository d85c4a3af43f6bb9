// File sharing: opening files with a Windows sharing mode between cooperating processes.
//
// Windows lets an open say which other opens of the same file it tolerates: "deny none",
// "deny write", "deny read and write". The card store files are used at the same time by the
// telephony server and the tools, and that sharing mode is the only coordination between them.
// This module reproduces it on Linux for every process that opens files through it:
//
//   A new open (access A2, sharing S2) succeeds only if, for every open (A1, S1) of the same
//   file in any process, A1 reads => S2 shares read, A1 writes => S2 shares write, and the same
//   with the two opens swapped. Otherwise it fails with kSharingViolation. Removing or renaming
//   a file fails with kSharingViolation while any cooperating open of it exists.
//
// Every open file, in any process, announces itself with open-file-description locks on
// reserved bytes far beyond any real data (see share.cpp for the protocol). The locks belong to
// the open file and vanish when it is closed or its process dies, so a crashed process never
// leaves a file blocked. Processes that do not use this module are not restrained, as with
// Wine or Samba, and their own locks do not restrain us: a flock(1) on a card file delays an
// open by at most about a second (then kSharingViolation), and lockf or fcntl record locks of
// other programs are not taken for sharing announcements.
//
// Only ordinary files are opened: a folder, named pipe or device fails with kNotRegularFile
// (file_io.h) without blocking, before anything else happens to it. Files are opened under the
// rules for shared folders (shared_folder.h): a symbolic link that neither root, nor the
// folder's owner, nor the caller made fails with kUntrustedLink, and a file is only ever
// created exclusively.
//
// Errors are errno values: 0 on success, kSharingViolation for a sharing conflict or a file
// another program keeps locked, kPathKeptChanging when the path named another file at every
// attempt for about a second, else the errno of the failed system call (ENOENT, EACCES, ...).
// All operations consult the fault hook of platform/fault.h.
#ifndef LINDAVOX_PLATFORM_SHARE_H
#define LINDAVOX_PLATFORM_SHARE_H

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/sole_open.h"
#include "platform/unique_fd.h"

namespace platform {

inline constexpr int kSharingViolation = EBUSY;
// Another program kept replacing the file at the path (renaming files over it) while the open
// tried to settle on one; trying again later may succeed.
inline constexpr int kPathKeptChanging = EAGAIN;

// Data access an open asks for (bit set).
enum Access : unsigned { kAccessRead = 1, kAccessWrite = 2, kAccessReadWrite = 3 };

// What other opens may do while this one is open (bit set).
enum Share : unsigned {
  kShareNone = 0,       // deny read and write
  kShareRead = 1,       // deny write
  kShareWrite = 2,      // deny read
  kShareReadWrite = 3,  // deny none
};

enum class Disposition {
  kOpenExisting,    // fail with ENOENT when the file is missing
  kOpenAlways,      // create when missing, keep existing contents
  kCreateTruncate,  // create when missing, truncate (after the sharing check) when present
  kCreateNew,       // create; fail with EEXIST when anything is there, a symbolic link too
};

struct OpenRequest {
  unsigned access = kAccessRead;
  unsigned share = kShareReadWrite;
  Disposition disposition = Disposition::kOpenExisting;
  bool append = false;  // every write goes to the end of the file
};

// An open file with its sharing announcement; closing it (or destroying the object) ends the
// announcement. Move-only.
class SharedFile {
 public:
  SharedFile() = default;
  SharedFile(SharedFile&& other) noexcept = default;
  SharedFile& operator=(SharedFile&& other) noexcept = default;

  // Opens `path`. Returns 0 and fills `*file`, or an errno value and leaves `*file` closed.
  // A created file gets mode 0666 less the umask; in a folder its group may write, the
  // folder's group and group read and write permission (shared_folder.h).
  static int Open(const std::string& path, const OpenRequest& request, SharedFile* file);

  bool isOpen() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }

  // Reads up to `size` bytes at `offset`, retrying short reads; stops early only at the end of
  // the file. Returns the number of bytes read, or -1 with errno set.
  ssize_t ReadAt(void* buffer, size_t size, off_t offset) const;
  // Writes all `size` bytes at `offset`. Returns true when every byte was written; false with
  // errno set otherwise.
  bool WriteAt(const void* buffer, size_t size, off_t offset) const;
  // The file's size in bytes, or -1 with errno set (fault hook: FileOp::kStat).
  off_t Size() const;

  // Closes the file. Returns 0 or the errno of close() (fault hook: FileOp::kClose).
  int Close();
  // Gives up ownership of the descriptor (which keeps the sharing announcement) to the caller.
  int Release();

 private:
  UniqueFd fd_;
  std::string path_;
};

// True when `mode` is a stream mode AttachStream can attach: its first character is 'r', 'w' or
// 'a'. Callers check the mode before they open, so a mode no stream takes never truncates.
bool IsStreamMode(const char* mode);

// Attaches a buffered standard stream to `file` and hands the descriptor over to it, so the
// standard close operation ends the announcement. `mode` is a standard stream mode string
// ("rb", "ab", "r+t", ...); a 't' in it makes the stream a text-mode stream (text_stream.h).
// On failure returns null, closes the file and sets errno.
std::FILE* AttachStream(SharedFile file, const char* mode);

// Removes a file, refused with kSharingViolation while a cooperating process holds it open.
// A symbolic link is removed itself, without looking at its target.
int RemoveShared(const std::string& path);

// Renames a file. Fails with EEXIST when `to` exists (the C runtime never replaces), and with
// kSharingViolation while a cooperating process holds `from` open.
int RenameShared(const std::string& from, const std::string& to);

// Renames `from` over `to` in one atomic step (rename(2)): `to` is replaced when it exists and
// created when it does not, so at every moment `to` names either its old file or the new one.
// Refused with kSharingViolation while a cooperating process holds either file open (the
// Windows runtime never shares deletion, and the old `to` is deleted). Both paths must lie on
// one file system (else EXDEV). Fault hook: FileOp::kRename on `from`.
int ReplaceShared(const std::string& from, const std::string& to);
// Replacing or removing a file that the caller itself holds open. The caller first opens the
// file (typically denying writers, so nobody changes it while the caller reads it), does its
// work, and then acts on the file while its own open is the file's only cooperating open: that
// one open is disregarded, any other one, in any process (this one included), refuses the
// operation with kSharingViolation. Both fail with ESTALE when `held.path()` no longer names the
// held file (another program removed or replaced it meanwhile), with ELOOP when it is a symbolic
// link (replacing or removing the link would leave its target as it was), and with EBADF when
// `held` is not open. On failure the file system is as it was. `held` stays open either way;
// after a success it refers to the file that is no longer named, and the caller closes it.

// Renames `from` over the file `held` has open, in one atomic step: an opener of the path finds
// either the old file or the new one, never none. Also refused with kSharingViolation while a
// cooperating process holds `from` open, and with ELOOP when `from` is no ordinary file of its
// own (a link). `from` must lie on the same file system (beside the target). The caller gives
// the replacement the held file's access on its own descriptor before (TakeOverAccess,
// shared_folder.h): nothing is changed through a path, which another program could have turned
// into a link meanwhile. Once renamed, the folder is synced, so the replacement survives a
// crash. Fault hook: kRename (on `from`), kLock, kStat.
// `others` says which other opens refuse it: with OthersMay::kNothing every other open, in any
// process, also of programs that do not use these libraries (a writer that kept the old file
// open would write into a file no longer named); with OthersMay::kRead only opens that write or
// deny writing (a reader goes on reading the old file undisturbed), and `held` must be open for
// reading only. Those that do not use the libraries are found as sole_open.h says; one that
// keeps the file open for about a second refuses it too.
int ReplaceHeldShared(const std::string& from, const SharedFile& held,
                      OthersMay others = OthersMay::kNothing);

// Removes the file `held` has open. Fault hook: kRemove (on the held path), kLock, kStat.
int RemoveHeldShared(const SharedFile& held);

}  // namespace platform

#endif
