// Removing and probing files and folders, the real spelling of a file name and the word scan
// (files.h), in both generations.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/ansi_case.h"
#include "platform/c_boundary.h"
#include "platform/directory.h"
#include "platform/packed_time.h"
#include "platform/share.h"
#include "util/file_open_internal.h"
#include "util/files.h"
#include "util/files_internal.h"

namespace util {
namespace {

// FILE_Exist's search: files only, hidden ones included.
constexpr platform::DirSearchOptions kFilesOnly{true, false};
constexpr size_t kScanLine = 999;

struct StreamCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};

// FILE_Exist's pattern, or "" when it would not fit.
std::string ExistPattern(const char* path, const char* name) {
  std::string pattern = name ? JoinPath(path, name) : std::string(path);
  return FitsPath(pattern) ? pattern : std::string();
}

bool CanOpenExclusively(const std::string& path) {
  platform::SharedFile file;
  return FitsPath(path) && OpenAsFopen(path, "rt", true, &file) == 0;
}

bool DirectoryExists(const std::string& path, DirectoryTestGeneration generation) {
  if (!platform::IsDirectory(path)) return false;
  // The balance query tests by changing into the folder, which a folder we may not search
  // refuses.
  return generation == DirectoryTestGeneration::kCurrent || ::access(path.c_str(), X_OK) == 0;
}

// Removes an ordinary file or a symbolic link that stands where a folder is wanted; pipes and
// devices are left alone.
void RemoveFileInTheWay(const std::string& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) == 0 && (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode))) {
    platform::RemoveShared(path);
  }
}

// The entry name of the folder `directory` that spells `name`: the exact name when it is an
// ordinary file there, else the first one equal regardless of case; "" when none is.
std::string SpelledName(const std::string& directory, const std::string& name) {
  platform::DirSearch search;
  std::string firstAnyCase;
  for (bool found = search.First(directory + "*", platform::kOrdinaryFiles); found;
       found = search.Next()) {
    const std::string& entry = search.entry().name;
    if (entry == name) return entry;
    if (firstAnyCase.empty() && platform::AnsiEqualIgnoreCase(entry, name)) firstAnyCase = entry;
  }
  return firstAnyCase;
}

}  // namespace

bool TestDirectory(const std::string& path, int32_t mode, DirectoryTestGeneration generation) {
  const std::string directory = WithoutTrailingSeparator(path);
  if (DirectoryExists(directory, generation)) return true;
  if (mode <= 0) return false;
  if (platform::MakeDirectory(directory) == 0) return true;
  if (mode == 1) return false;
  const bool current = generation == DirectoryTestGeneration::kCurrent;
  if (current && mode == 3) RemoveFileInTheWay(directory);
  // Each parent is shorter than the path, so the recursion ends.
  if (const size_t slash = directory.rfind('/'); slash != std::string::npos) {
    TestDirectory(directory.substr(0, slash + 1), current ? mode : 2, generation);
  }
  return TestDirectory(directory, 1, generation);
}

}  // namespace util

using util::FitsPath;

int32_t FILE_saveremove(const char* path) {
  if (!FitsPath(path)) return -1;
  return platform::CallNoThrow(-1, [&] {
    // Windows retries after clearing the read-only attribute; here a file's own permissions
    // never keep it from being removed (its folder's do), so one attempt decides.
    const int error = platform::RemoveShared(path);
    return error == 0 || error == ENOENT || error == ENOTDIR ? 0 : -1;
  });
}

int32_t FILE_GetSize(const char* path) {
  if (!FitsPath(path)) return 0;
  return platform::CallNoThrow(0, [&] {
    const std::optional<platform::DirEntry> entry = util::FirstMatch(path);
    return entry ? static_cast<int32_t>(static_cast<uint32_t>(entry->size)) : 0;
  });
}

PackedDateTime FILE_GetTime(const char* path) {
  if (!FitsPath(path)) return 0;
  return platform::CallNoThrow<PackedDateTime>(0, [&]() -> PackedDateTime {
    const std::optional<platform::DirEntry> entry = util::FirstMatch(path);
    if (!entry) return 0;
    return platform::SecondsToPacked(entry->lastWriteTime).value_or(0);
  });
}

int32_t FILE_GetSeconds(const char* path, int32_t defaultValue) {
  if (!FitsPath(path)) return defaultValue;
  return platform::CallNoThrow(defaultValue, [&] {
    const std::optional<platform::DirEntry> entry = util::FirstMatch(path);
    if (!entry) return defaultValue;
    const std::optional<platform::CalendarTime> local = platform::ToLocalTime(entry->lastWriteTime);
    return local ? local->second : defaultValue;
  });
}

int32_t FILE_Exist(const char* path, const char* name, int32_t* sizeSum) {
  if (!path) return 0;
  return platform::CallNoThrow(0, [&] {
    const std::string pattern = util::ExistPattern(path, name);
    if (pattern.empty()) return 0;
    int32_t count = 0;
    uint32_t sum = sizeSum ? static_cast<uint32_t>(*sizeSum) : 0;
    platform::DirSearch search;
    for (bool found = search.First(pattern, util::kFilesOnly); found; found = search.Next()) {
      ++count;
      sum += static_cast<uint32_t>(search.entry().size);
    }
    if (sizeSum) *sizeSum = static_cast<int32_t>(sum);
    return count;
  });
}

int32_t FILES_TestExclusive(const char* file, const char* directory) {
  if ((file && !FitsPath(file)) || (directory && !FitsPath(directory))) return 0;
  return platform::CallNoThrow(0, [&] {
    if (file && !util::CanOpenExclusively(file)) return 0;
    if (!directory) return 1;
    platform::DirSearch search;
    for (bool found = search.First(util::JoinPath(directory, "*"), util::kFilesOnly); found;
         found = search.Next()) {
      if (!util::CanOpenExclusively(util::JoinPath(directory, search.entry().name))) return 0;
    }
    return 1;
  });
}

int32_t FILE_DirectoryTest(char* path, int32_t mode) {
  if (!FitsPath(path)) return 0;
  return platform::CallNoThrow(0, [&] {
    return util::TestDirectory(path, mode, util::DirectoryTestGeneration::kCurrent) ? 1 : 0;
  });
}

char* FILE_GetFullName(const char* path) {
  static char result[util::kPathBuffer];
  char* const unchanged = const_cast<char*>(path);
  if (!FitsPath(path)) return unchanged;
  return platform::CallNoThrow(unchanged, [&] {
    const std::string text = path;
    const size_t start = text.find_last_of("/\\") + 1;  // 0 without a separator
    const std::string directory = text.substr(0, start);
    const std::string name = util::SpelledName(directory, text.substr(start));
    if (name.empty()) return unchanged;
    std::snprintf(result, sizeof result, "%s%s", directory.c_str(), name.c_str());
    return result;
  });
}

int32_t FILE_ScanForWords(const char* path, const char* word1, const char* word2) {
  if (!FitsPath(path)) return 0;
  return platform::CallNoThrow(0, [&] {
    platform::SharedFile file;
    if (util::OpenAsFopen(path, "rt", false, &file) != 0) return 0;
    const std::unique_ptr<std::FILE, util::StreamCloser> stream(
        platform::AttachStream(std::move(file), "rt"));
    if (!stream) return 0;
    char line[util::kScanLine + 1];
    while (std::fgets(line, sizeof line, stream.get())) {
      util::UpperCaseInPlace(line);
      const bool first = word1 && std::strstr(line, word1);
      if (first || (word2 && std::strstr(line, word2))) return first ? 1 : 2;
    }
    return 0;
  });
}

int32_t saveremove(const char* path) { return FILE_saveremove(path); }

int32_t MyGetFileSize(const char* path) { return FILE_GetSize(path); }

PackedDateTime MyGetFileTime(const char* path) { return FILE_GetTime(path); }

int32_t ExistFile(const char* path, const char* name) {
  if (!path) return 0;
  return platform::CallNoThrow(0, [&] {
    const std::string pattern = util::ExistPattern(path, name);
    return !pattern.empty() && platform::AnyMatch(pattern, util::kFilesOnly) ? 1 : 0;
  });
}

int32_t DirectoryTest(char* path, int32_t mode) {
  if (!FitsPath(path)) return 0;
  return platform::CallNoThrow(0, [&] {
    return util::TestDirectory(path, mode, util::DirectoryTestGeneration::kBalanceQuery) ? 1 : 0;
  });
}

int32_t GetFileSeconds(const char* path) { return FILE_GetSeconds(path, 0); }

char* GetFullFilename(const char* path) { return FILE_GetFullName(path); }
