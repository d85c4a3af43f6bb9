// Recording the changes that platform/ makes to the file system, for tests of what a power cut
// could leave behind.
//
// Beside the fault hook (fault.h), which may refuse a file operation before it happens, a test
// may install a change recorder, which is told of every change after it happened: a file
// created, bytes written at an offset, a file cut to a length, a rename, a new name for a file,
// a name removed, a folder made or removed, and every sync of a file or a folder. A recorded
// sequence holds what it takes to replay the changes on a copy of the files taken before them
// (testsupport/crash_states.h does that, keeping only the parts a file system might have put on
// the disk when the power failed).
//
// Every function of platform/ that changes the file system reports here, once per system call
// that succeeded (a write that the system did in two parts is reported as two writes). Without
// a recorder (the normal case) a report costs one relaxed atomic load. Changes made outside
// platform/ (the standard streams' own writes, the runtime folder of the window messages) are
// not reported; the card store, the import, the report, the compaction and the INI writers make
// all of theirs here.
//
// Not for concurrent use with SetChangeRecorder, like the fault hook.
#ifndef LINDAVOX_PLATFORM_CHANGE_RECORDER_H
#define LINDAVOX_PLATFORM_CHANGE_RECORDER_H

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string_view>

namespace platform {

enum class ChangeKind {
  kOpenCreating,     // `path` was opened with O_CREAT and now names `file` (new when it was
                     // missing before)
  kCreateUnnamed,    // `file` was created without a name (O_TMPFILE) in the folder `path`
  kWrite,            // `bytes` were written at `offset` of `file`
  kTruncate,         // `file` was cut or extended to `length` bytes
  kRename,           // `path` was renamed to `target` (replacing what `target` named)
  kLink,             // `file` was given the name `target` besides any it has
  kRemove,           // the name `path` was removed
  kMakeDirectory,    // the folder `path` was made
  kRemoveDirectory,  // the empty folder `path` was removed
  kSyncFile,         // `file`'s data and size were put on the disk (fsync, fdatasync)
  kSyncDirectory,    // the names in the folder `path` were put on the disk
};

// The file behind a descriptor, as fstat names it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// One change. Paths are as the caller named them (relative to the current directory when they
// do not begin with '/'); a folder path may be "" (the current directory) and may end in '/'.
struct FileChange {
  ChangeKind kind;
  std::string_view path;
  std::string_view target;
  FileIdentity file;
  off_t offset = 0;
  off_t length = 0;
  std::string_view bytes;
};

using ChangeRecorder = std::function<void(const FileChange& change)>;

// Installs `recorder` (an empty function removes it). Returns the recorder it replaces.
ChangeRecorder SetChangeRecorder(ChangeRecorder recorder);

// Installs a recorder for the lifetime of the object and restores the previous one afterwards.
class ScopedChangeRecorder {
 public:
  explicit ScopedChangeRecorder(ChangeRecorder recorder)
      : previous_(SetChangeRecorder(std::move(recorder))) {}
  ~ScopedChangeRecorder() { SetChangeRecorder(std::move(previous_)); }
  ScopedChangeRecorder(const ScopedChangeRecorder&) = delete;
  ScopedChangeRecorder& operator=(const ScopedChangeRecorder&) = delete;

 private:
  ChangeRecorder previous_;
};

namespace detail {
extern std::atomic<bool> g_change_recorder_installed;
inline bool Recording() { return g_change_recorder_installed.load(std::memory_order_relaxed); }
void ReportOpen(int fd, std::string_view path, int flags);
void ReportWrite(int fd, const void* data, size_t size, off_t offset);
void ReportTruncate(int fd, off_t length);
void ReportNames(ChangeKind kind, std::string_view path, std::string_view target);
void ReportLink(int fd, std::string_view target);
void ReportSyncFile(int fd);
}  // namespace detail

// The reports of platform/'s own functions, made right after the system call succeeded.

// After open(2) of `path` with `flags`: reports a creation (O_CREAT, O_TMPFILE) and a truncation
// (O_TRUNC); nothing for other opens.
inline void ReportOpen(int fd, std::string_view path, int flags) {
  if (detail::Recording()) detail::ReportOpen(fd, path, flags);
}
// After write(2) or pwrite(2) wrote `size` bytes: `offset` is where they went, or -1 for the
// descriptor's position (then found from the position after the write, or from the file's
// size for a descriptor opened to append, where pwrite appends too).
inline void ReportWrite(int fd, const void* data, size_t size, off_t offset) {
  if (detail::Recording()) detail::ReportWrite(fd, data, size, offset);
}
inline void ReportTruncate(int fd, off_t length) {
  if (detail::Recording()) detail::ReportTruncate(fd, length);
}
inline void ReportRename(std::string_view from, std::string_view to) {
  if (detail::Recording()) detail::ReportNames(ChangeKind::kRename, from, to);
}
inline void ReportLink(int fd, std::string_view target) {
  if (detail::Recording()) detail::ReportLink(fd, target);
}
inline void ReportRemove(std::string_view path) {
  if (detail::Recording()) detail::ReportNames(ChangeKind::kRemove, path, {});
}
inline void ReportMakeDirectory(std::string_view path) {
  if (detail::Recording()) detail::ReportNames(ChangeKind::kMakeDirectory, path, {});
}
inline void ReportRemoveDirectory(std::string_view path) {
  if (detail::Recording()) detail::ReportNames(ChangeKind::kRemoveDirectory, path, {});
}
inline void ReportSyncFile(int fd) {
  if (detail::Recording()) detail::ReportSyncFile(fd);
}
inline void ReportSyncDirectory(std::string_view path) {
  if (detail::Recording()) detail::ReportNames(ChangeKind::kSyncDirectory, path, {});
}

}  // namespace platform

#endif
