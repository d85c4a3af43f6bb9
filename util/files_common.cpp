// Paths, folder listings and time setting shared by the file utilities.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "platform/ansi_case.h"
#include "platform/file_io.h"
#include "platform/file_time.h"
#include "platform/packed_time.h"
#include "platform/share.h"
#include "platform/shared_folder.h"
#include "util/file_open_internal.h"
#include "util/files_internal.h"

namespace util {

bool FitsPath(std::string_view path) { return path.size() < kPathBuffer; }

bool FitsPath(const char* path) { return path && strnlen(path, kPathBuffer) < kPathBuffer; }

bool EndsWithSeparator(std::string_view path) {
  return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && !EndsWithSeparator(path)) path += '/';
  path += name;
  return path;
}

std::string WithoutTrailingSeparator(std::string_view path) {
  if (path.size() > 1 && EndsWithSeparator(path)) path.remove_suffix(1);
  return std::string(path);
}

std::string RealFile(const std::string& path) {
  std::string file;
  return platform::FollowTrustedLinks(path, &file) == 0 ? file : std::string();
}

int CreateExclusively(const std::string& preferred, platform::SharedFile* file, std::string* path) {
  constexpr int kAttempts = 100;
  const platform::OpenRequest fresh{platform::kAccessWrite, platform::kShareNone,
                                    platform::Disposition::kCreateNew};
  std::random_device random;
  int error = EEXIST;
  for (int attempt = 0; attempt < kAttempts && error == EEXIST; ++attempt) {
    char suffix[16] = "";
    if (attempt > 0) std::snprintf(suffix, sizeof suffix, ".%08x", random());
    *path = preferred + suffix;
    if (!FitsPath(*path)) return ENAMETOOLONG;
    error = platform::SharedFile::Open(*path, fresh, file);
  }
  return error;
}

int TakeOverOwnerAndMode(const platform::SharedFile& file, const struct stat& model) {
  struct stat own;
  if (int error = platform::StatOpenFile(file.fd(), file.path(), &own)) return error;
  if ((own.st_uid != model.st_uid || own.st_gid != model.st_gid) &&
      ::fchown(file.fd(), model.st_uid, model.st_gid) != 0) {
    return errno;
  }
  return ::fchmod(file.fd(), model.st_mode & 07777) == 0 ? 0 : errno;
}

std::optional<platform::DirEntry> FirstMatch(const std::string& pattern) {
  platform::DirSearch search;
  if (!search.First(pattern, platform::kAllEntries)) return std::nullopt;
  return search.entry();
}

std::vector<platform::DirEntry> FolderEntries(const std::string& directory) {
  std::vector<platform::DirEntry> entries;
  platform::DirSearch search;
  for (bool found = search.First(JoinPath(directory, "*"), platform::kAllEntries); found;
       found = search.Next()) {
    const std::string& name = search.entry().name;
    if (name != "." && name != "..") entries.push_back(search.entry());
  }
  return entries;
}

bool SetPackedTime(const std::string& path, PackedDateTime time, IfMissing ifMissing) {
  if (!platform::IsPossiblePackedDateTime(time)) return false;
  const std::optional<int64_t> seconds = platform::PackedToSeconds(time);
  if (!seconds) return false;
  platform::OpenRequest request = FopenRequest("ab", false);
  if (ifMissing == IfMissing::kFail) request.disposition = platform::Disposition::kOpenExisting;
  platform::SharedFile file;
  if (platform::SharedFile::Open(path, request, &file) != 0) return false;
  return platform::SetFileTime(file.fd(), path, *seconds) == 0;
}

void UpperCaseInPlace(char* text) {
  for (; *text; ++text) {
    *text = static_cast<char>(platform::AnsiUpper(static_cast<unsigned char>(*text)));
  }
}

}  // namespace util
