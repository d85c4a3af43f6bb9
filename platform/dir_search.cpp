#include "platform/dir_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "platform/fault.h"
#include "platform/file_io.h"

namespace platform {

namespace {

// The name pattern as it is matched: "*.*" means every name, and a trailing '.' is dropped
// ("x." finds "x"). What is left of a pattern that ended in '.' and holds no other dot takes
// only names without a dot, as in the Windows search: "*." selects the names without an
// extension, "a*." finds "abc" but not "abc.txt". "." and ".." are left alone, so they still
// name the folder's own entries rather than turning into "" (nothing) and ".".
struct NamePattern {
  std::string text;
  bool namesWithoutDot = false;
};

NamePattern RewritePattern(std::string_view pattern) {
  if (pattern == "." || pattern == "..") return {std::string(pattern)};
  bool trailingDot = false;
  if (!pattern.empty() && pattern.back() == '.') {
    pattern.remove_suffix(1);
    trailingDot = true;
  }
  if (pattern == "*.*") return {"*"};
  return {std::string(pattern), trailingDot && pattern.find('.') == std::string_view::npos};
}

// Greedy matching that remembers only the last '*': when a later literal fails, that '*'
// swallows one more character and matching resumes after it. Earlier stars never need to be
// revisited (whatever they could swallow, the last one can too), so the work is at most
// pattern length times name length, whatever the number of stars.
bool MatchRewritten(std::string_view pattern, std::string_view name) {
  constexpr size_t kNoStar = std::string_view::npos;
  size_t p = 0, n = 0;
  size_t starAt = kNoStar;  // position of the last '*' seen in the pattern
  size_t starEnd = 0;       // the name position that '*' has swallowed up to
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      starEnd = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (starAt != kNoStar) {
      p = starAt + 1;
      n = ++starEnd;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool Matches(const NamePattern& pattern, std::string_view name) {
  if (pattern.namesWithoutDot && name.find('.') != std::string_view::npos) return false;
  return MatchRewritten(pattern.text, name);
}

size_t LastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

// The folder to open: the pattern's folder part with '\\' read as '/', "." when there is none.
std::string FolderOf(const std::string& pattern, size_t separator) {
  if (separator == std::string::npos) return ".";
  std::string folder = pattern.substr(0, separator + 1);
  for (char& c : folder) {
    if (c == '\\') c = '/';
  }
  return folder;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// The file-system type says early, without a stat, that an entry cannot be reported.
bool RuledOutByType(const dirent& raw, const DirSearchOptions& options) {
#ifdef _DIRENT_HAVE_D_TYPE
  switch (raw.d_type) {
    case DT_DIR:
      return !options.includeDirectories;
    case DT_REG:
    case DT_LNK:
    case DT_UNKNOWN:
      return false;
    default:  // pipes, devices, sockets
      return true;
  }
#else
  (void)raw;
  (void)options;
  return false;
#endif
}

bool IsLink(int dirFd, const dirent& raw) {
#ifdef _DIRENT_HAVE_D_TYPE
  if (raw.d_type != DT_UNKNOWN) return raw.d_type == DT_LNK;
#endif
  struct stat own;
  return ::fstatat(dirFd, raw.d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
}

}  // namespace

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  const NamePattern rewritten = RewritePattern(pattern);
  if (rewritten.text.empty()) return false;
  return Matches(rewritten, name);
}

// Exists only while a search is open; dropping it closes the folder.
struct DirSearch::State {
  DirHandle folder;
  NamePattern namePattern;  // the last component, already rewritten; never empty
  DirSearchOptions options;
};

DirSearch::DirSearch() = default;
DirSearch::~DirSearch() = default;

bool DirSearch::First(const std::string& pattern, DirSearchOptions options) {
  state_.reset();  // a search still open closes its folder here
  entry_ = DirEntry();
  size_t separator = LastSeparator(pattern);
  std::string_view lastComponent = pattern;
  if (separator != std::string::npos) lastComponent.remove_prefix(separator + 1);
  NamePattern namePattern = RewritePattern(lastComponent);
  if (namePattern.text.empty()) return false;  // "" or a pattern that ends with a separator

  std::string folder = FolderOf(pattern, separator);
  if (int fault = InjectedFault(FileOp::kOpen, folder)) {
    errno = fault;
    return false;
  }
  DirHandle dir(::opendir(folder.c_str()));
  if (!dir) return false;
  state_ = std::make_unique<State>(State{std::move(dir), std::move(namePattern), options});
  return Next();
}

bool DirSearch::Next() {
  if (!state_) return false;
  int dirFd = ::dirfd(state_->folder.get());
  while (const dirent* raw = ::readdir(state_->folder.get())) {
    std::string_view name = raw->d_name;
    if (!state_->options.includeHidden && name.front() == '.') continue;
    if (RuledOutByType(*raw, state_->options)) continue;
    if (!Matches(state_->namePattern, name)) continue;

    // Follows symbolic links. A dangling link fails here and is left out, as is an entry that
    // was removed after readdir saw it.
    struct stat st;
    if (::fstatat(dirFd, raw->d_name, &st, 0) != 0) continue;
    const FileKind kind = KindOf(st);
    if (kind == FileKind::kOther) continue;
    const bool isDirectory = kind == FileKind::kDirectory;
    if (isDirectory && !state_->options.includeDirectories) continue;

    entry_.name.assign(name);
    entry_.isDirectory = isDirectory;
    entry_.isHidden = name.front() == '.';
    entry_.isReadOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    entry_.isLink = IsLink(dirFd, *raw);
    entry_.size = isDirectory ? 0 : static_cast<uint64_t>(st.st_size);
    entry_.lastWriteTime = st.st_mtime;
    return true;
  }
  state_.reset();  // finished: close the folder now, not when the object goes
  entry_ = DirEntry();
  return false;
}

int CountMatches(const std::string& pattern, DirSearchOptions options) {
  DirSearch search;
  int count = 0;
  for (bool found = search.First(pattern, options); found; found = search.Next()) ++count;
  return count;
}

bool AnyMatch(const std::string& pattern, DirSearchOptions options) {
  DirSearch search;
  return search.First(pattern, options);
}

}  // namespace platform
