#include "platform/config_dir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "platform/change_recorder.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/profile.h"

namespace platform {
namespace {

const char* NonEmptyEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

std::string WithSlash(std::string directory) {
  if (directory.empty() || directory.back() != '/') directory += '/';
  return directory;
}

std::string HomeDirectory() {
  if (const char* home = NonEmptyEnvironment("HOME")) return home;
  long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> scratch(hint > 0 ? static_cast<size_t>(hint) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, scratch.data(), scratch.size(), &found) != 0 || !found)
    return {};
  return found->pw_dir;
}

// The configuration directory and the part of it that must already exist (the home
// directory, or nothing). Both with a trailing '/'; the directory is empty when there is none.
struct ConfigLocation {
  std::string directory;
  std::string existingBase;
};

ConfigLocation Locate() {
  if (const char* dir = NonEmptyEnvironment("LINDAVOX_CONFIG_DIR")) return {WithSlash(dir), ""};
  if (const char* xdg = NonEmptyEnvironment("XDG_CONFIG_HOME")) {
    return {WithSlash(xdg) + "lindavox/", ""};
  }
  std::string home = HomeDirectory();
  if (home.empty()) return {};  // no home: no user profile rather than one in "/"
  return {WithSlash(home) + ".config/lindavox/", WithSlash(home)};
}

bool IsDirectory(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && KindOf(status) == FileKind::kDirectory;
}

}  // namespace

std::string ConfigDirectory() {
  try {
    return Locate().directory;
  } catch (const std::exception&) {
    return {};
  }
}

std::string ResolveProfilePath(const char* file) {
  try {
    if (!file || !*file) return {};
    if (!NamesConfigFile(file)) return file;
    std::string directory = ConfigDirectory();
    return directory.empty() ? std::string() : directory + file;
  } catch (const std::exception&) {
    return {};
  }
}

bool NamesConfigFile(const char* file) {
  return file && std::string_view(file).find_first_of("/\\") == std::string_view::npos;
}

int CreateConfigDirectory() {
  try {
    const ConfigLocation location = Locate();
    if (location.directory.empty()) return ENOENT;
    if (IsDirectory(location.directory)) return 0;
    if (!location.existingBase.empty() && !IsDirectory(location.existingBase)) return ENOENT;
    // Each prefix that ends at a '/', from the top: "/", "/a/", "/a/b/", ...
    for (size_t slash = location.directory.find('/'); slash != std::string::npos;
         slash = location.directory.find('/', slash + 1)) {
      const std::string prefix = location.directory.substr(0, slash + 1);
      if (prefix.size() <= 1 || IsDirectory(prefix)) continue;
      if (::mkdir(prefix.c_str(), 0700) == 0) {
        ReportMakeDirectory(prefix);
        // The new folder's name goes on the disk with it: a profile written into the folder
        // and synced there would otherwise vanish with the folder in a power cut.
        SyncDirectory(DirectoryOf(prefix.substr(0, prefix.size() - 1)));
      } else if (errno != EEXIST) {
        return errno;
      }
    }
    return IsDirectory(location.directory) ? 0 : ENOTDIR;
  } catch (const std::exception&) {
    return ENOMEM;
  }
}

}  // namespace platform
