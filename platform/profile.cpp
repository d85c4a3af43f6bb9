#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ansi_case.h"
#include "platform/backoff.h"
#include "platform/config_dir.h"
#include "platform/fault.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

constexpr const char* kUserProfile = "win.ini";
constexpr int kMaxTempNameTries = 100;  // names left behind by crashed writers are skipped

// ---------------------------------------------------------------------------------------------
// Windows-1252 text rules

// Names and values in the file are trimmed of spaces and tabs.
std::string_view TrimBlanks(std::string_view text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The caller's section and key lose only spaces: Windows keeps their tabs.
std::string_view StripSpaces(std::string_view text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string_view StripTrailingSpaces(std::string_view text) {
  size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

// One pair of matching outer quotes is dropped: "v" and 'v', but not "v' or "a" b.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Optional blanks, an optional sign, then decimal digits up to the first non-digit, wrapping
// modulo 2^32 as the unsigned arithmetic of Windows does.
uint32_t ParseNumber(std::string_view text) {
  size_t pos = text.find_first_not_of(" \t");
  if (pos == std::string_view::npos) return 0;
  bool negative = text[pos] == '-';
  if (text[pos] == '-' || text[pos] == '+') ++pos;
  uint32_t result = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    result = result * 10u + static_cast<uint32_t>(text[pos] - '0');
  }
  return negative ? 0u - result : result;
}

// ---------------------------------------------------------------------------------------------
// The parsed file

enum class LineKind { kOther, kComment, kSection, kKey };  // kOther: blank lines, text without '='

struct Line {
  size_t start;  // first byte of the line
  size_t end;    // end of its text, where the line end begins
  size_t next;   // first byte after the line end; == end for a last line without one
  LineKind kind;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed, quotes still on
};

// Lines [header, end) of the file: a section's header line and everything up to the next one.
struct SectionRange {
  size_t header;
  size_t end;
};

void ClassifyLine(std::string_view text, Line* line) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return;
  if (text[first] == ';') {
    line->kind = LineKind::kComment;
  } else if (text[first] == '[') {
    // The name runs to the first ']' (or the line's end); the rest of the line is ignored.
    std::string_view inner = text.substr(first + 1);
    line->kind = LineKind::kSection;
    line->name = TrimBlanks(inner.substr(0, inner.find(']')));
  } else if (size_t equals = text.find('='); equals != std::string_view::npos) {
    line->name = TrimBlanks(text.substr(0, equals));
    line->value = TrimBlanks(text.substr(equals + 1));
    // A line "=v" has no name to look up or to list, so it is not a key.
    line->kind = line->name.empty() ? LineKind::kOther : LineKind::kKey;
  }
}

// A UTF-8 byte order mark that an editor put in front of the first line. It is no part of the
// first line (which would hide the first section), and a rewrite keeps it where it was.
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

class IniDocument {
 public:
  // `text` must outlive the document: lines point into it.
  explicit IniDocument(std::string_view text)
      : text_(text),
        bodyStart_(text.starts_with(kUtf8ByteOrderMark) ? kUtf8ByteOrderMark.size() : 0) {
    SplitLines();
  }

  std::string_view text() const { return text_; }
  // Where the first line begins: after a byte order mark.
  size_t bodyStart() const { return bodyStart_; }
  const Line& line(size_t index) const { return lines_[index]; }

  // Only the first section of a name counts.
  std::optional<SectionRange> FindSection(std::string_view name) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (lines_[i].kind == LineKind::kSection && AnsiEqualIgnoreCase(lines_[i].name, name)) {
        size_t end = i + 1;
        while (end < lines_.size() && lines_[end].kind != LineKind::kSection) ++end;
        return SectionRange{i, end};
      }
    }
    return std::nullopt;
  }

  // The first key line of that name in the section.
  std::optional<size_t> FindKey(SectionRange section, std::string_view name) const {
    for (size_t i = section.header + 1; i < section.end; ++i) {
      if (lines_[i].kind == LineKind::kKey && AnsiEqualIgnoreCase(lines_[i].name, name)) return i;
    }
    return std::nullopt;
  }

  // The line a new key goes after: the section's last key line, or its header.
  size_t LastKeyLine(SectionRange section) const {
    for (size_t i = section.end; i > section.header + 1; --i) {
      if (lines_[i - 1].kind == LineKind::kKey) return i - 1;
    }
    return section.header;
  }

  // The names as a list "a\0b\0\0"; an empty name cannot be listed and is left out.
  std::string SectionNames() const { return NameList(0, lines_.size(), LineKind::kSection); }
  std::string KeyNames(SectionRange section) const {
    return NameList(section.header + 1, section.end, LineKind::kKey);
  }

 private:
  // CR LF, LF and a lone CR each end a line; CR LF counts as one line end.
  void SplitLines() {
    size_t pos = bodyStart_;
    while (pos < text_.size()) {
      size_t end = text_.find_first_of("\r\n", pos);
      size_t next = text_.size();
      if (end == std::string_view::npos) {
        end = text_.size();
      } else {
        bool crlf = text_[end] == '\r' && end + 1 < text_.size() && text_[end + 1] == '\n';
        next = end + (crlf ? 2 : 1);
      }
      Line line{pos, end, next, LineKind::kOther, {}, {}};
      ClassifyLine(text_.substr(pos, end - pos), &line);
      lines_.push_back(line);
      pos = next;
    }
  }

  std::string NameList(size_t first, size_t last, LineKind kind) const {
    std::string list;
    for (size_t i = first; i < last; ++i) {
      if (lines_[i].kind != kind || lines_[i].name.empty()) continue;
      list.append(lines_[i].name);
      list.push_back('\0');
    }
    list.push_back('\0');
    return list;
  }

  std::string_view text_;
  size_t bodyStart_;
  std::vector<Line> lines_;
};

// ---------------------------------------------------------------------------------------------
// Copying results to the caller's buffer (size >= 1)

uint32_t CopyText(std::string_view text, char* buffer, uint32_t size) {
  size_t count = std::min<size_t>(text.size(), size - 1);
  std::copy_n(text.data(), count, buffer);  // memcpy may not take the null data of ""
  buffer[count] = '\0';
  return static_cast<uint32_t>(count);
}

// How much room a list of names needs. Windows keeps one byte of the buffer in reserve for the
// section names: a list that fills the buffer exactly counts as cut there (size - 2 is
// returned, the bytes are the same), while the key names may fill it.
enum class ListRoom { kWholeBuffer, kOneByteSpare };

// `list` holds the names, each terminated, and the final terminator. On overflow the list is
// cut at size - 2 and closed with two terminators, so the caller still finds its end.
uint32_t CopyList(std::string_view list, char* buffer, uint32_t size, ListRoom room) {
  const size_t usable = room == ListRoom::kOneByteSpare ? size - 1 : size;
  if (list.size() <= usable) {
    std::memcpy(buffer, list.data(), list.size());
    return static_cast<uint32_t>(list.size() - 1);
  }
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

// ---------------------------------------------------------------------------------------------
// Editing: the new file is the old one with a few lines replaced, dropped or added

// Copies the old text forward, skipping and inserting where told, so that every byte not
// edited stays as it was.
class Rewriter {
 public:
  explicit Rewriter(const IniDocument& doc) : old_(doc.text()), bodyStart_(doc.bodyStart()) {}

  void CopyTo(size_t offset) {
    if (offset <= pos_) return;
    // Dropping a line between a lone CR and an LF would fuse them into one CR LF and swallow
    // the empty line the LF ends; an extra LF keeps that line.
    if (skipped_ && !out_.empty() && out_.back() == '\r' && old_[pos_] == '\n') out_ += '\n';
    out_.append(old_.substr(pos_, offset - pos_));
    pos_ = offset;
    skipped_ = false;
  }
  void SkipTo(size_t offset) {
    pos_ = offset;
    skipped_ = true;
  }
  void Insert(std::string_view text) { out_.append(text); }
  // New lines may only follow a line end; a last line without one gets CR LF first. A byte
  // order mark alone is no line.
  void EndOpenLine() {
    if (out_.size() > bodyStart_ && out_.back() != '\r' && out_.back() != '\n') out_ += "\r\n";
  }
  std::string Finish() {
    CopyTo(old_.size());
    return std::move(out_);
  }

 private:
  std::string_view old_;
  size_t bodyStart_;      // the byte order mark, if any, ends here
  size_t pos_ = 0;        // old bytes before pos_ are done
  bool skipped_ = false;  // old bytes were dropped right before pos_
  std::string out_;
};

std::string KeyLine(std::string_view key, std::string_view value) {
  std::string line;
  line.append(key).append("=").append(value).append("\r\n");
  return line;
}

std::string SetValue(const IniDocument& doc, std::string_view section, std::string_view key,
                     std::string_view value) {
  Rewriter out(doc);
  std::optional<SectionRange> range = doc.FindSection(section);
  if (!range) {
    out.CopyTo(doc.text().size());
    out.EndOpenLine();
    out.Insert(std::string("[").append(section).append("]\r\n"));
    out.Insert(KeyLine(key, value));
  } else if (std::optional<size_t> index = doc.FindKey(*range, key)) {
    // The whole line is rewritten, with the key spelled as in the file and a CR LF end.
    const Line& line = doc.line(*index);
    out.CopyTo(line.start);
    out.Insert(KeyLine(line.name, value));
    out.SkipTo(line.next);
  } else {
    out.CopyTo(doc.line(doc.LastKeyLine(*range)).next);
    out.EndOpenLine();
    out.Insert(KeyLine(key, value));
  }
  return out.Finish();
}

// nullopt when there is nothing to delete.
std::optional<std::string> DeleteKey(const IniDocument& doc, std::string_view section,
                                     std::string_view key) {
  std::optional<SectionRange> range = doc.FindSection(section);
  std::optional<size_t> index = range ? doc.FindKey(*range, key) : std::nullopt;
  if (!index) return std::nullopt;
  Rewriter out(doc);
  out.CopyTo(doc.line(*index).start);
  out.SkipTo(doc.line(*index).next);
  return out.Finish();
}

// The header and the key lines go; comments, blank and other lines stay where they were.
std::optional<std::string> DeleteSection(const IniDocument& doc, std::string_view section) {
  std::optional<SectionRange> range = doc.FindSection(section);
  if (!range) return std::nullopt;
  Rewriter out(doc);
  for (size_t i = range->header; i < range->end; ++i) {
    const Line& line = doc.line(i);
    if (i != range->header && line.kind != LineKind::kKey) continue;
    out.CopyTo(line.start);
    out.SkipTo(line.next);
  }
  return out.Finish();
}

// The new file content, or nullopt when the write changes nothing. `key` is already stripped.
std::optional<std::string> EditProfile(std::string_view old, std::string_view section,
                                       const std::optional<std::string_view>& key,
                                       const char* value) {
  IniDocument doc(old);
  if (!key) return DeleteSection(doc, section);
  if (!value) return DeleteKey(doc, section, *key);
  return SetValue(doc, section, *key, value);
}

// ---------------------------------------------------------------------------------------------
// Files

// A temporary file that is removed again unless it was renamed into place.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!path_.empty() && !kept_) ::unlink(path_.c_str());
  }

  // Creates ".<name>.<pid>.<n>" in `directory`, exclusively. The mode 0666 lets the umask give
  // the permissions a new file would get (in a shared folder, its group's: shared_folder.h).
  bool Create(const std::string& directory, const std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < kMaxTempNameTries; ++attempt) {
      std::string path = directory + "." + name + "." + std::to_string(::getpid()) + "." +
                         std::to_string(counter++);
      const int error = OpenRegularFile(path, O_WRONLY | O_CREAT | O_EXCL, 0666, &fd_);
      if (error == 0) {
        path_ = std::move(path);
        return true;
      }
      if (error != EEXIST) return false;
    }
    return false;
  }

  const std::string& path() const { return path_; }
  int fd() const { return fd_.get(); }
  // Closes now, so that a failed close (lost data on some file systems) is seen.
  bool Close() { return fd_.Close(path_) == 0; }
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  UniqueFd fd_;
  bool kept_ = false;
};

// The whole file, read into `*bytes` without a second copy. Returns 0 or the errno of the
// failure: ENOENT when there is no such file, kNotRegularFile for a pipe, device or folder,
// EFBIG above kMaxProfileFileSize (also for a file that grows past it while it is read).
int ReadWholeFile(const std::string& path, std::string* bytes, struct stat* access) {
  UniqueFd fd;
  struct stat status;
  if (int error = OpenRegularFile(path, O_RDONLY, 0, &fd, &status)) return error;
  if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) > kMaxProfileFileSize) {
    return EFBIG;
  }
  if (access) *access = status;
  // One byte more than the size, to see a file that grew (or whose size the system does not
  // know, as for files under /proc) and read on; the buffer doubles up to the limit.
  size_t filled = 0;
  bytes->resize(static_cast<size_t>(status.st_size) + 1);
  for (;;) {
    ssize_t count = ReadAll(fd.get(), bytes->data() + filled, bytes->size() - filled, path);
    if (count < 0) return errno ? errno : EIO;
    filled += static_cast<size_t>(count);
    if (filled < bytes->size()) break;
    if (filled > kMaxProfileFileSize) return EFBIG;
    bytes->resize(std::min<size_t>(bytes->size() * 2, kMaxProfileFileSize + 1));
  }
  bytes->resize(filled);
  return 0;
}

// What tells one version of a file from the next: every write of this module replaces the
// file, so a new version is a new file (or one written at another time).
struct FileVersion {
  bool exists = false;
  ino_t inode = 0;
  int64_t seconds = 0;
  long nanoseconds = 0;
  bool operator==(const FileVersion&) const = default;
};

FileVersion VersionOf(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return {};
  return {true, status.st_ino, status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
}

// Serialises writers of `target` across processes, with the lock file ".<name>.lock" beside it.
// The lock file is never removed: a writer waiting on a removed lock file would get its lock
// while a newcomer locks a fresh file of the same name, and both would rewrite the INI file at
// once. The lock is never waited for blocked: writers of this module hold it for one short
// read-modify-write each and replace the file as they go, so while the file keeps changing the
// wait goes on; a holder that keeps the lock through a whole retry time (about a second) while
// the file stays as it was is somebody else (a script's flock(1) on it), and the write fails
// instead of hanging the program.
UniqueFd LockProfile(const std::string& target) {
  std::string path = DirectoryOf(target) + "." + BaseName(target) + ".lock";
  UniqueFd fd;
  // Read-only is enough for flock, and works on a lock file another user created.
  if (OpenRegularFile(path, O_RDONLY | O_CREAT, 0666, &fd) != 0) return {};
  FileVersion seen = VersionOf(target);
  for (;;) {
    Backoff backoff;
    const int error = LockExclusiveWithin(fd.get(), path, backoff);
    if (error == 0) return fd;
    if (error != EWOULDBLOCK) return {};
    const FileVersion now = VersionOf(target);
    if (now == seen) return {};
    seen = now;
  }
}

// Writes `content` to a temporary file and renames it over `target`, so readers see either
// the old or the new file. `old`: the old file, whose permissions, owner and group the new one
// takes (where this process may give them); none for a new file.
bool ReplaceFile(const std::string& target, std::string_view content,
                 const std::optional<struct stat>& old) {
  TempFile temp;
  if (!temp.Create(DirectoryOf(target), BaseName(target))) return false;
  if (!WriteAll(temp.fd(), content.data(), content.size(), temp.path())) return false;
  if (old && TakeOverAccess(temp.fd(), *old) != 0) return false;
  if (::fsync(temp.fd()) != 0 || !temp.Close()) return false;
  if (InjectedFault(FileOp::kRename, target) != 0) return false;
  if (::rename(temp.path().c_str(), target.c_str()) != 0) return false;
  temp.Keep();
  SyncDirectory(DirectoryOf(target));
  return true;
}

bool WriteProfile(std::string_view section, const std::optional<std::string_view>& key,
                  const char* value, const char* file) {
  // A bare name lives in the configuration directory, which a fresh account does not have yet.
  if (NamesConfigFile(file) && CreateConfigDirectory() != 0) return false;
  // A link is kept: the file it leads to is replaced, when the link may be followed at all.
  std::string target;
  if (FollowTrustedLinks(ResolveProfilePath(file), &target) != 0 || BaseName(target).empty()) {
    return false;
  }
  UniqueFd lock = LockProfile(target);
  if (!lock) return false;

  std::string old;
  struct stat access;
  int error = ReadWholeFile(target, &old, &access);
  if (error != 0 && error != ENOENT) return false;  // never replace a file we could not read
  bool exists = error == 0;
  std::optional<std::string> updated = EditProfile(old, section, key, value);
  if (!updated || (exists && *updated == old)) return true;
  return ReplaceFile(target, *updated, exists ? std::optional<struct stat>(access) : std::nullopt);
}

// A line break in a name or value would end the line early and start a line of its own: a
// value "x\r\n[Other]" would add a section.
bool HoldsLineBreak(const char* text) { return text && std::strpbrk(text, "\r\n") != nullptr; }

// ---------------------------------------------------------------------------------------------
// Reading

bool LoadProfile(const char* file, std::string* text) {
  std::string path = ResolveProfilePath(file);
  return !path.empty() && ReadWholeFile(path, text, nullptr) == 0;
}

// The value of a key, unquoted; nullopt when the file, section or key is missing.
std::optional<std::string> FindValue(const char* section, const char* key, const char* file) {
  std::string text;
  if (!LoadProfile(file, &text)) return std::nullopt;
  IniDocument doc(text);
  std::optional<SectionRange> range = doc.FindSection(StripSpaces(section));
  std::optional<size_t> index = range ? doc.FindKey(*range, StripSpaces(key)) : std::nullopt;
  if (!index) return std::nullopt;
  return std::string(Unquote(doc.line(*index).value));
}

uint32_t ReadIntoBuffer(const char* section, const char* key, std::string_view fallback,
                        char* buffer, uint32_t size, const char* file) {
  std::string text;
  if (!LoadProfile(file, &text)) return CopyText(fallback, buffer, size);
  IniDocument doc(text);
  if (!section) return CopyList(doc.SectionNames(), buffer, size, ListRoom::kOneByteSpare);
  std::optional<SectionRange> range = doc.FindSection(StripSpaces(section));
  if (!range) return CopyText(fallback, buffer, size);
  if (!key) return CopyList(doc.KeyNames(*range), buffer, size, ListRoom::kWholeBuffer);
  std::optional<size_t> index = doc.FindKey(*range, StripSpaces(key));
  if (!index) return CopyText(fallback, buffer, size);
  return CopyText(Unquote(doc.line(*index).value), buffer, size);
}

}  // namespace

uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue,
                           char* buffer, uint32_t size, const char* file) {
  if (size == 0 || !buffer) return 0;
  try {
    std::string_view fallback = StripTrailingSpaces(defaultValue ? defaultValue : "");
    return ReadIntoBuffer(section, key, fallback, buffer, size, file);
  } catch (const std::exception&) {
    buffer[0] = '\0';
    return 0;
  }
}

uint32_t ReadProfileInt(const char* section, const char* key, uint32_t defaultValue,
                        const char* file) {
  if (!section || !key) return defaultValue;
  try {
    std::optional<std::string> value = FindValue(section, key, file);
    return value ? ParseNumber(*value) : defaultValue;
  } catch (const std::exception&) {
    return defaultValue;
  }
}

bool WriteProfileString(const char* section, const char* key, const char* value, const char* file) {
  if (!section || !file || !*file) return false;
  if (HoldsLineBreak(section) || HoldsLineBreak(key) || HoldsLineBreak(value)) return false;
  std::optional<std::string_view> keyName;
  if (key) {
    keyName = StripSpaces(key);
    if (keyName->empty()) return false;  // "=v" could never be read back
  }
  try {
    return WriteProfile(StripSpaces(section), keyName, value, file);
  } catch (const std::exception&) {
    return false;
  }
}

uint32_t ReadUserProfileString(const char* section, const char* key, const char* defaultValue,
                               char* buffer, uint32_t size) {
  return ReadProfileString(section, key, defaultValue, buffer, size, kUserProfile);
}

uint32_t ReadUserProfileInt(const char* section, const char* key, uint32_t defaultValue) {
  return ReadProfileInt(section, key, defaultValue, kUserProfile);
}

bool WriteUserProfileString(const char* section, const char* key, const char* value) {
  return WriteProfileString(section, key, value, kUserProfile);
}

}  // namespace platform
