// The states a power cut could leave on the disk during an operation, checked one by one.
//
// A kill leaves everything a process wrote in the page cache; a power cut keeps only what the
// file system had put on the disk. CrashExplorer runs an operation (an import, a report, a
// compaction, an INI write) with its changes of the file system recorded
// (platform/change_recorder.h), and builds from the recording the states the disk could hold if
// the power failed at any point of it: every prefix of the recorded changes, and for the changes
// since the last sync of their file or folder, the parts and orders that the file system may
// have kept. Each state is written into a fresh folder, where the scenario runs the recovery
// (the next import, the next report, or simply reading a file) and checks its promises.
//
// Two models of what a file system keeps when the power fails:
//
//   kOrdered, ext4 with data=ordered (the common case on Linux). Changes of names and sizes
//   (creations, renames, removals, new folders, truncations) are journaled in the order they
//   were made: a power cut keeps all of them up to some point, and at least every one made
//   before the last sync of any file or folder (ext4 commits its whole journal then). Data
//   written into a file since that file's last sync may be lost: bytes written over earlier
//   bytes write by write, and a write over several pages (4096 bytes) may be kept page by
//   page; bytes that make the file longer are kept only from the end on (the size on the disk
//   never covers bytes that did not reach it). A rename is kept whole or not at all.
//
//   kPosix, what POSIX promises (and what other file systems, or ext4 in other modes, may do).
//   Every change not followed by the sync that covers it may be lost, independently of all
//   others: written bytes and truncations unless the file was synced afterwards (fsync,
//   fdatasync), names unless their folder was synced afterwards. A write may be kept in part,
//   sector (512 bytes) by sector.
//
// A crash point with few uncertain changes gets every combination of them; one with more gets a
// sample, drawn from a generator seeded from the budget, so every run checks the same states.
// States that come out alike are checked once.
//
// Files that existed before the operation keep their inode in every state (they are hard links
// to one pool of them), with the modification time they had while their contents are as before,
// so what identifies a file by inode, size and time (the import's journal does) still finds it.
#ifndef LINDAVOX_TESTSUPPORT_CRASH_STATES_H
#define LINDAVOX_TESTSUPPORT_CRASH_STATES_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

enum class CrashModel { kOrdered, kPosix };

// "ordered" or "posix".
const char* CrashModelName(CrashModel model);

struct CrashBudget {
  // Combinations tried at each crash point: all of them when there are no more, else a sample
  // of this size.
  int combinationsPerPoint = 64;
  uint32_t seed = 1;
};

// An operation and its promises. Each function gets a folder path ending in '/'.
struct CrashScenario {
  std::string name;
  // Fills the empty folder with the files as they are before the operation.
  std::function<void(const std::string& dir)> prepare;
  // The operation on those files.
  std::function<void(const std::string& dir)> operation;
  // Runs the recovery on a crash state and checks the promises: "" when they hold, else what
  // broke.
  std::function<std::string(const std::string& dir)> check;
  // Optional: checks a state of a power cut after the operation returned, before the recovery
  // runs, for what the operation promises once it has returned ("" when that holds).
  std::function<std::string(const std::string& dir)> returned;
};

struct CrashReport {
  int64_t changes = 0;  // recorded changes; the crash points are one more
  int64_t states = 0;   // different states checked
  int64_t broken = 0;   // states whose check failed
  // The first few failures: where the power failed, what was lost, and what broke.
  std::vector<std::string> examples;
};

class CrashExplorer {
 public:
  // Prepares the scenario's files and runs its operation with the changes recorded.
  explicit CrashExplorer(CrashScenario scenario);
  ~CrashExplorer();
  CrashExplorer(const CrashExplorer&) = delete;
  CrashExplorer& operator=(const CrashExplorer&) = delete;

  // Builds the states of `model` within `budget` and checks each one.
  CrashReport Explore(CrashModel model, const CrashBudget& budget);

  // The recorded changes, one a line, as the reports name them.
  std::string Changes() const;

 private:
  struct Recording;
  CrashScenario scenario_;
  std::unique_ptr<Recording> recording_;
};

}  // namespace testsupport

#endif
