// Splitting the paths this code base builds. Such paths use '/' only (configuration texts with
// '\\' are split by the directory search, dir_search.h).
#ifndef LINDAVOX_PLATFORM_PATH_H
#define LINDAVOX_PLATFORM_PATH_H

#include <string>
#include <string_view>

namespace platform {

// The directory part of `path` up to and including its last '/', or "" (the current
// directory) when it has none: "a/b/c.ini" gives "a/b/", "/x" gives "/", "c.ini" gives "".
inline std::string DirectoryOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? std::string_view()
                                                     : path.substr(0, slash + 1));
}

// The last component of `path`: everything after its last '/' ("" for "a/").
inline std::string BaseName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace platform

#endif
