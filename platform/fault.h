// Fault injection for the file operations of platform/.
//
// Every file operation that platform/ performs on behalf of the rest of the code (opening,
// reading, writing, truncating, renaming, removing, taking or testing a lock, checking an open
// file's type and size, closing, syncing) first asks the installed fault hook. A hook
// that answers a nonzero errno value makes the operation fail with that errno without touching
// the file, exactly as if the system call had failed. Tests use this to prove that a failed
// open, write or rename loses no data, and that a lock that cannot be had gives up in time.
// An injected kLock of EWOULDBLOCK looks like a lock another process holds. Without a hook (the
// normal case) the check costs one relaxed atomic load.
//
// Not for concurrent use with SetFaultHook: install and remove hooks while no other thread
// performs file operations (the programs have one thread; tests install hooks around a call).
#ifndef LINDAVOX_PLATFORM_FAULT_H
#define LINDAVOX_PLATFORM_FAULT_H

#include <atomic>
#include <functional>
#include <string_view>

namespace platform {

enum class FileOp {
  kOpen,
  kRead,
  kWrite,
  kTruncate,
  kRename,
  kRemove,
  kLock,   // flock and the record-lock calls (taking, testing)
  kStat,   // fstat of an open file: its type and size
  kClose,  // close of a file (the descriptor is closed all the same)
  kSync,   // forcing a written file's data to the disk (fsync)
};

// `path` is the file the operation works on; for reads and writes on an open file it is the
// name the file was opened with.
using FaultHook = std::function<int(FileOp op, std::string_view path)>;

// Installs `hook` (an empty function removes it). Returns the hook it replaces.
FaultHook SetFaultHook(FaultHook hook);

namespace detail {
extern std::atomic<bool> g_fault_hook_installed;
int CallFaultHook(FileOp op, std::string_view path);
}  // namespace detail

// The errno the hook asks for, or 0 when the operation may proceed.
inline int InjectedFault(FileOp op, std::string_view path) {
  if (!detail::g_fault_hook_installed.load(std::memory_order_relaxed)) return 0;
  return detail::CallFaultHook(op, path);
}

// Installs a hook for the lifetime of the object and restores the previous one afterwards.
class ScopedFaultHook {
 public:
  explicit ScopedFaultHook(FaultHook hook) : previous_(SetFaultHook(std::move(hook))) {}
  ~ScopedFaultHook() { SetFaultHook(std::move(previous_)); }
  ScopedFaultHook(const ScopedFaultHook&) = delete;
  ScopedFaultHook& operator=(const ScopedFaultHook&) = delete;

 private:
  FaultHook previous_;
};

}  // namespace platform

#endif
