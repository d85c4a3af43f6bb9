// Directory search: the entries of one folder whose names match a wildcard pattern, the way
// the Windows directory search does it.
//
// The pattern is a path whose last component may hold wildcards; the folder part (up to the
// last '/' or '\\', both read as '/') is searched, the current directory when there is none.
// Before matching, a trailing '.' is dropped and "*.*" becomes "*" ("." and ".." stay as they
// are); a pattern that ended in '.' and holds no other dot then matches only names without a
// dot. '*' matches zero or more characters, '?' exactly one. Names compare case-sensitively,
// as the file system does. So "*" and "*.*" match every name, "*." the names without an
// extension, "x." the name "x", "*.txt" matches "a.b.txt", "*.htm" never matches "x.html", and
// a name without wildcards matches only itself.
//
// Names that begin with '.' are hidden files; "." and ".." are reported only when hidden files
// and folders are both asked for. Symbolic links are followed: a link to a folder is a folder;
// a dangling link is left out, as are pipes, devices and sockets. Entries are reported in the
// file system's order.
// Errors: a folder that does not exist or cannot be read gives no match, as does an empty
// pattern or one that ends with a separator. Opening the folder asks the fault hook
// (FileOp::kOpen, the folder as opened: "." for the current directory).
#ifndef LINDAVOX_PLATFORM_DIR_SEARCH_H
#define LINDAVOX_PLATFORM_DIR_SEARCH_H

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

namespace platform {

struct DirSearchOptions {
  bool includeHidden = false;       // names beginning with '.' (also "." and "..")
  bool includeDirectories = false;  // sub-folders (and symbolic links to folders)
};

// The DOS-style search (attribute mask 0): ordinary files only, hidden ones left out.
inline constexpr DirSearchOptions kOrdinaryFiles{false, false};
// The Windows FindFirstFile search: every entry, hidden files and folders included.
inline constexpr DirSearchOptions kAllEntries{true, true};

struct DirEntry {
  std::string name;  // the entry's name, without the folder
  bool isDirectory = false;
  bool isHidden = false;
  bool isReadOnly = false;  // no write permission bit set
  bool isLink = false;      // a symbolic link; the other fields describe its target
  uint64_t size = 0;        // 0 for folders
  time_t lastWriteTime = 0;
};

// True when `name` matches `pattern` (one component, already without folder) under the rules
// above.
bool WildcardMatch(const std::string& pattern, const std::string& name);

// An open search. First() starts it, Next() moves on; both return false when no (further)
// entry matches, and the search is then finished. The folder is closed when the search is
// destroyed or finished.
class DirSearch {
 public:
  DirSearch();
  ~DirSearch();
  DirSearch(const DirSearch&) = delete;
  DirSearch& operator=(const DirSearch&) = delete;

  bool First(const std::string& pattern, DirSearchOptions options = kOrdinaryFiles);
  bool Next();
  // The current entry; valid after First() or Next() returned true.
  const DirEntry& entry() const { return entry_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  DirEntry entry_;
};

// The number of entries that match `pattern`.
int CountMatches(const std::string& pattern, DirSearchOptions options = kOrdinaryFiles);

// True when at least one entry matches `pattern`.
bool AnyMatch(const std::string& pattern, DirSearchOptions options = kOrdinaryFiles);

}  // namespace platform

#endif
