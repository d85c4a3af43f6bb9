// Reading, writing and opening files the way every module of this code base does it.
//
// - OpenRegularFile opens a path only when it names an ordinary file: the open itself cannot
//   block (O_NONBLOCK, so a named pipe without a writer or a device does not hang the caller)
//   and the open file is checked with fstat before anyone reads it. Every file the libraries
//   open is opened this way, under the rules for shared folders (shared_folder.h): a symbolic
//   link is followed only when root, the folder's owner or the caller made it (else
//   kUntrustedLink), and a file is only ever created exclusively.
// - ReadAll and WriteAll transfer a whole buffer, retrying interrupted and short transfers.
// - IsRegularFile and KindOf tell an ordinary file from folders, pipes and devices.
//
// - SyncFile and SyncDirectory put a written file, and the names of a folder, on the disk.
//
// Results are errno values (0 for success) or, for the transfers, byte counts and booleans with
// errno set. Every function consults the fault hook of platform/fault.h with the path the
// caller names: kOpen for opening, kStat for the file check, kRead, kWrite, kClose, kSync.
#ifndef LINDAVOX_PLATFORM_FILE_IO_H
#define LINDAVOX_PLATFORM_FILE_IO_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/shared_folder.h"
#include "platform/unique_fd.h"

namespace platform {

// The error of a path that names something other than an ordinary file (a folder, a named
// pipe, a device, a socket).
inline constexpr int kNotRegularFile = EINVAL;

// For ReadAll and WriteAll: transfer at the descriptor's current position.
inline constexpr off_t kAtCurrentPosition = -1;

enum class FileKind { kRegular, kDirectory, kOther };
FileKind KindOf(const struct stat& status);

// True when `path` (symbolic links followed) names an ordinary file.
bool IsRegularFile(const std::string& path);
// True when anything at all is there under `path`: a file, a folder, a device, or a symbolic
// link itself, wherever it points.
bool PathExists(const std::string& path);

// Opens `path` with `flags` (O_RDONLY, O_RDWR | O_CREAT, ...; O_CLOEXEC, O_NOCTTY, O_NOFOLLOW
// and O_NONBLOCK are added) and `mode` for a created file, as OpenInFolder (shared_folder.h)
// does. Fails with kNotRegularFile, and closes again what it opened, when the path names no
// ordinary file. The descriptor handed out blocks as usual again. An open that meets another
// process's lease (O_NONBLOCK gives EWOULDBLOCK while the lease is being broken) is retried for
// about a second. Fills `*status` with the open file's status when given. Returns 0 or an errno
// value; `*fd` is left closed on failure.
int OpenRegularFile(const std::string& path, int flags, mode_t mode, UniqueFd* fd,
                    struct stat* status = nullptr);

// fstat on an open file, through the fault hook (FileOp::kStat). Returns 0 or an errno value.
int StatOpenFile(int fd, std::string_view path, struct stat* status);

// Reads up to `size` bytes at `offset` (or the current position), stopping early only at the
// end of the file. Returns the number of bytes read, or -1 with errno set.
ssize_t ReadAll(int fd, void* buffer, size_t size, std::string_view path,
                off_t offset = kAtCurrentPosition);

// Writes all `size` bytes at `offset` (or the current position). Returns true when every byte
// was written; false with errno set otherwise (EIO when the system wrote nothing without an
// error).
bool WriteAll(int fd, const void* data, size_t size, std::string_view path,
              off_t offset = kAtCurrentPosition);

// fsync: the data and size of the open file `fd` are on the disk when it returns 0. Returns 0
// or an errno value; a file written for a replacement is given up when this fails.
int SyncFile(int fd, std::string_view path);

// Starts writing `size` bytes of `fd` at `offset` to the disk without waiting for them, so a
// later SyncFile of a large file that is written front to back finds most of it written
// already. Only a hint: nothing is reported.
void StartWriteBack(int fd, off_t offset, size_t size);

// Puts the names of `directory` (a prefix as DirectoryOf gives it, "" for the current
// directory) on the disk, so a rename or removal done there survives a crash. Best effort: a
// failure is not reported, since the names every reader sees are already right.
void SyncDirectory(const std::string& directory);

}  // namespace platform

#endif
