// Folder trees: their size, copying and removing them (files.h).
//
// Symbolic links to folders are never entered: a link loop would otherwise multiply the walk
// beyond any bound, and a removal would reach files outside the tree. A link to a folder is
// left out of the size, makes a tree copy incomplete, and is removed itself by the full
// removal. Entries whose path would not fit are treated the same way: they are never reached.
// The removals apply the same rule to the folder they are given: a symbolic link there is
// removed as a link by the full removal and left alone by the removal of empty folders.
#include <sys/stat.h>

#include <algorithm>

#include "platform/ansi_case.h"
#include "platform/c_boundary.h"
#include "platform/directory.h"
#include "platform/share.h"
#include "util/files.h"
#include "util/files_internal.h"
#include "util/lib_strings.h"

namespace util {
namespace {

constexpr size_t kCopyBlock = 61440;
// FILETIME counts 100-nanosecond steps from 1601-01-01 00:00 UTC, 11644473600 s before 1970.
constexpr int64_t kFileTimeEpochOffset = 11644473600;

bool IsSubfolder(const platform::DirEntry& entry) { return entry.isDirectory && !entry.isLink; }

bool IsSymbolicLink(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

// The caller's folder, or "" for one no removal may start from: "" (the current folder would be
// meant) and "/".
std::string RemovableTree(const char* directory) {
  if (!FitsPath(directory)) return {};
  const std::string path = WithoutTrailingSeparator(directory);
  const bool root = std::all_of(path.begin(), path.end(), [](char c) { return c == '/'; });
  return root ? std::string() : path;
}

uint64_t Ticks(const FILETIME& time) {
  return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

FILETIME ToFileTime(int64_t seconds) {
  const uint64_t ticks = static_cast<uint64_t>(seconds + kFileTimeEpochOffset) * 10000000u;
  return FILETIME{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

struct TreeCounts {
  int32_t level;
  const char* extensionFilter;
  int32_t* fileCount;
  FILETIME* oldest;
  int32_t* outsideDaemonCount;
  int32_t* matchCount;
};

bool PassesFilter(const std::string& name, const char* filter) {
  if (!filter || !*filter) return true;
  return platform::AnsiEqualIgnoreCase(LIB_FilenameExtension(name.c_str()), filter + 1);
}

void Add(int32_t* count) {
  if (count) *count = static_cast<int32_t>(static_cast<uint32_t>(*count) + 1);
}

uint32_t TreeSize(const std::string& directory, int64_t depth, const TreeCounts& counts) {
  ++depth;  // 64 bits: the caller's depth may be any 32-bit number
  const bool outsideDaemon = LIB_strstr(directory.c_str(), "daemon") == nullptr;
  uint32_t total = 0;
  for (const platform::DirEntry& entry : FolderEntries(directory)) {
    const std::string path = JoinPath(directory, entry.name);
    if (!FitsPath(path)) continue;
    if (entry.isDirectory) {
      if (!entry.isLink) total += TreeSize(path, depth, counts);
      continue;
    }
    if (!PassesFilter(entry.name, counts.extensionFilter)) continue;
    total += static_cast<uint32_t>(entry.size);
    Add(counts.matchCount);
    if (counts.level == 0 || counts.level != depth) continue;
    Add(counts.fileCount);
    if (outsideDaemon) Add(counts.outsideDaemonCount);
    const FILETIME written = ToFileTime(entry.lastWriteTime);
    if (counts.oldest && Ticks(written) <= Ticks(*counts.oldest)) *counts.oldest = written;
  }
  return total;
}

bool CopyTree(const std::string& destination, const std::string& source) {
  bool complete = true;
  for (const platform::DirEntry& entry : FolderEntries(source)) {
    const std::string from = JoinPath(source, entry.name);
    const std::string to = JoinPath(destination, entry.name);
    bool copied = false;
    if (!FitsPath(from) || !FitsPath(to) || (entry.isDirectory && entry.isLink)) {
      copied = false;
    } else if (entry.isDirectory) {
      copied = TestDirectory(to, 2, DirectoryTestGeneration::kCurrent) && CopyTree(to, from);
    } else {
      uint32_t size;
      copied = CopyFile(to, from, {kCopyBlock, true, false, true}, &size);
    }
    complete = complete && copied;
  }
  return complete;
}

void DeleteEmptyTree(const std::string& directory) {
  for (const platform::DirEntry& entry : FolderEntries(directory)) {
    const std::string path = JoinPath(directory, entry.name);
    if (IsSubfolder(entry) && FitsPath(path)) DeleteEmptyTree(path);
  }
  platform::RemoveDirectory(directory);  // refused while anything is left in it
}

uint32_t DeleteFullTree(const std::string& directory, bool countFiles) {
  uint32_t removed = 0;
  for (const platform::DirEntry& entry : FolderEntries(directory)) {
    const std::string path = JoinPath(directory, entry.name);
    if (!FitsPath(path)) continue;
    if (IsSubfolder(entry)) {
      removed += DeleteFullTree(path, countFiles);
    } else if (platform::RemoveShared(path) == 0) {
      removed += countFiles ? 1 : static_cast<uint32_t>(entry.size);
    }
  }
  platform::RemoveDirectory(directory);
  return removed;
}

}  // namespace
}  // namespace util

using util::FitsPath;

int32_t FILE_GetTreeSize(const char* directory, int32_t level, int32_t depth, int32_t* fileCount,
                         FILETIME* oldest, int32_t* outsideDaemonCount, const char* extensionFilter,
                         int32_t* matchCount) {
  if (!FitsPath(directory)) return 0;
  const util::TreeCounts counts{level,  extensionFilter,    fileCount,
                                oldest, outsideDaemonCount, matchCount};
  return platform::CallNoThrow(0, [&] {
    return static_cast<int32_t>(
        util::TreeSize(util::WithoutTrailingSeparator(directory), depth, counts));
  });
}

uint8_t FILE_CopyTree(const char* destination, const char* source) {
  if (!FitsPath(destination) || !FitsPath(source) || !platform::IsDirectory(source)) return 0;
  return platform::CallNoThrow<uint8_t>(0, [&] {
    const std::string into = util::WithoutTrailingSeparator(destination);
    return util::TestDirectory(into, 2, util::DirectoryTestGeneration::kCurrent) &&
                   util::CopyTree(into, util::WithoutTrailingSeparator(source))
               ? 1
               : 0;
  });
}

uint8_t FILE_DelEmptyTree(char* directory) {
  const std::string tree = util::RemovableTree(directory);
  if (!tree.empty() && !util::IsSymbolicLink(tree)) {
    platform::CallNoThrow(false, [&] {
      util::DeleteEmptyTree(tree);
      return true;
    });
  }
  return 1;
}

int32_t FILE_DelFullTree(char* directory, uint8_t countFiles) {
  const std::string tree = util::RemovableTree(directory);
  if (tree.empty()) return 0;
  return platform::CallNoThrow(0, [&] {
    // A link is removed as a link, and counted as the links inside a tree are.
    if (util::IsSymbolicLink(tree)) return platform::RemoveShared(tree) == 0 && countFiles ? 1 : 0;
    return static_cast<int32_t>(util::DeleteFullTree(tree, countFiles != 0));
  });
}
