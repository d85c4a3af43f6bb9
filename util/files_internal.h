// The C++ side of the file utilities (files.h): what their source files share.
#ifndef LINDAVOX_UTIL_FILES_INTERNAL_H
#define LINDAVOX_UTIL_FILES_INTERNAL_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dir_search.h"
#include "platform/share.h"
#include "util/time_format.h"

namespace util {

// A path fits the system's path buffers of 260 characters with its terminator.
inline constexpr size_t kPathBuffer = 260;

// True when `path` is given and shorter than kPathBuffer characters.
bool FitsPath(const char* path);
bool FitsPath(std::string_view path);

bool EndsWithSeparator(std::string_view path);
// `directory`, a '/' unless it is empty or ends with a separator, and `name`.
std::string JoinPath(std::string_view directory, std::string_view name);
// `path` without one trailing separator; "/" stays "/".
std::string WithoutTrailingSeparator(std::string_view path);

// The file a path names: the target of a symbolic link, so that a change of the file (a
// truncation, an edit) reaches it and does not put a new file in the link's place. "" when the
// link cannot be resolved, or may not be followed (platform/shared_folder.h).
std::string RealFile(const std::string& path);

// Creates a new file for writing, every other open denied, under `preferred`, or, when anything
// is there already (a file, a link), under `preferred` with a random suffix (".1a2b3c4d"): what
// is there is never opened, emptied or replaced. Returns 0 and fills `*file` and `*path`, or the
// errno of the last attempt (ENAMETOOLONG when a name would not fit).
int CreateExclusively(const std::string& preferred, platform::SharedFile* file, std::string* path);

// Gives the new file `file` the owner, group and permission bits of `model` (the file it is
// to take the place of), on its descriptor, before any content goes in. Returns 0 or the errno
// of a change this process may not make (another owner, a group it is no member of).
int TakeOverOwnerAndMode(const platform::SharedFile& file, const struct stat& model);

// The first entry matching `pattern`, folders and hidden files included.
std::optional<platform::DirEntry> FirstMatch(const std::string& pattern);

// Every entry of the folder `directory` but "." and "..", hidden files and folders included,
// read in one go so that the caller may change the folder while working through them.
std::vector<platform::DirEntry> FolderEntries(const std::string& directory);

// Sets the packed local time on the file, opened as FILE_fopen(path, "ab", false) opens it; a
// missing file is created only when `create` says so. True on success. A time with a field
// outside its range (platform::IsPossiblePackedDateTime) changes and creates nothing.
enum class IfMissing { kCreate, kFail };
bool SetPackedTime(const std::string& path, PackedDateTime time, IfMissing ifMissing);

// Upper-cases the terminated text in place (Windows-1252 letters).
void UpperCaseInPlace(char* text);

// FILE_DirectoryTest of both generations on a path that fits.
enum class DirectoryTestGeneration { kCurrent, kBalanceQuery };
bool TestDirectory(const std::string& path, int32_t mode, DirectoryTestGeneration generation);

// FILE_Copy of both generations.
struct CopyOptions {
  size_t blockSize;
  bool keepTime;
  bool scramble;
  bool checkSize;  // the copy must have the size the source had when it was opened
};
// Copies `source` to `destination`. True when every read and write succeeded (and, with
// checkSize, the sizes agree); the copy's size is stored at `*copied` then.
bool CopyFile(const std::string& destination, const std::string& source, const CopyOptions& options,
              uint32_t* copied);
// Moves `source` over `destination` in one step when both lie on one file system. Nothing
// when they do not; else whether the move worked.
std::optional<bool> MoveWithinFileSystem(const std::string& destination, const std::string& source);

// The search of FILE_FindNewName, with the counter's form given.
enum class CounterBase { kHexadecimal, kDecimal };
struct NewNameRequest {
  std::string_view directory;
  std::string prefix;
  std::string extension;
  bool anyExtension;
  uint32_t firstCounter;
  size_t width;  // of prefix and counter together
  CounterBase base;
};
// The first unused name, or nothing when the counter outgrows the width (`*exhausted` is then
// set) or a name would not fit a path.
std::optional<std::string> FindNewName(const NewNameRequest& request, bool* exhausted);

}  // namespace util

#endif
