// Editing files line by line (see file_edit.h).
//
// An edit never changes the file in place. The new content goes to a new file beside it (the
// target of a link, so that the link stays and its target is edited), created exclusively and
// given the file's owner, group and permissions before any byte goes in; the file itself is
// only read, denying writers. Once the new file is complete and synced, two renames put it in
// place: the file over the work path (one step, so whatever lay there stays until this is
// known to work), then the new file to the file's name. Every failure before the first rename
// leaves every file as it was and removes the new file; a failure of the second puts the file
// back under its name.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/c_boundary.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/share.h"
#include "util/block_copy.h"
#include "util/files_internal.h"
#include "util/line_edit.h"

namespace {

using platform::SharedFile;

// How many characters the editors read as one line, and how far a replacement may grow it.
constexpr size_t kReplaceLine = 299;
constexpr uint32_t kReplaceCapacity = 999;
constexpr size_t kKeywordLine = 499;
constexpr off_t kNumberedLine = 25999;
constexpr size_t kCopyBlock = 1024;
constexpr size_t kScanBlock = 64 * 1024;

bool SameFile(const char* a, const char* b) {
  struct stat first, second;
  return ::stat(a, &first) == 0 && ::stat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// Everything an edit checks before it touches a file: both paths given, the file present, and
// the work path not the file itself (renaming over it would lose the file).
bool MayEdit(const char* path, const char* work) {
  return path && work && platform::PathExists(path) && std::strcmp(path, work) != 0 &&
         !SameFile(path, work);
}

// The new content of an edit, written beside the file; removed again unless it took the file's
// place.
class NewContent {
 public:
  explicit NewContent(const std::string& file)
      : preferred_(platform::DirectoryOf(file) + "." + platform::BaseName(file) + ".edit") {}
  ~NewContent() {
    file_.Close();
    if (!path_.empty()) platform::RemoveShared(path_);
  }
  NewContent(const NewContent&) = delete;
  NewContent& operator=(const NewContent&) = delete;

  // Creates the file with the owner, group and permissions of `model`.
  bool Create(const struct stat& model) {
    std::string path;
    if (util::CreateExclusively(preferred_, &file_, &path) != 0) return false;
    path_ = path;
    return util::TakeOverOwnerAndMode(file_, model) == 0;
  }
  const SharedFile& file() const { return file_; }
  // Syncs and closes the file.
  bool Finish() { return platform::SyncFile(file_.fd(), path_) == 0 && file_.Close() == 0; }
  // Renames the finished file to `target`, where nothing may be.
  bool MoveTo(const std::string& target) {
    if (platform::RenameShared(path_, target) != 0) return false;
    path_.clear();
    return true;
  }

 private:
  const std::string preferred_;
  SharedFile file_;
  std::string path_;  // the file's name while it is ours
};

// The course every edit takes: check, write the new content beside the file with `rewrite`,
// move the file over the work path and the new content into its place, and remove the work file
// unless the caller keeps it.
template <typename Rewrite>
uint8_t EditBeside(const char* path, const char* work, bool keepWork, const Rewrite& rewrite) {
  return platform::CallNoThrow<uint8_t>(0, [&]() -> uint8_t {
    if (!MayEdit(path, work)) return 0;
    const std::string file = util::RealFile(path);
    const std::string aside = work;
    if (file.empty()) return 0;
    SharedFile original;
    struct stat status;
    const platform::OpenRequest denyWriters{platform::kAccessRead, platform::kShareRead,
                                            platform::Disposition::kOpenExisting};
    if (SharedFile::Open(file, denyWriters, &original) != 0 ||
        platform::StatOpenFile(original.fd(), file, &status) != 0) {
      return 0;
    }
    NewContent edited(file);
    if (!edited.Create(status) || !rewrite(original, edited.file()) || !edited.Finish()) return 0;
    original.Close();
    if (platform::ReplaceShared(file, aside) != 0) return 0;
    if (!edited.MoveTo(file)) {
      platform::RenameShared(aside, file);
      return 0;
    }
    platform::SyncDirectory(platform::DirectoryOf(file));
    platform::SyncDirectory(platform::DirectoryOf(aside));
    if (!keepWork) platform::RemoveShared(aside);
    return 1;
  });
}

// Reads a file front to back in blocks.
class ByteReader {
 public:
  explicit ByteReader(const SharedFile& file) : file_(file), block_(kScanBlock) {}

  // The next byte, or -1 at the end of the file and from a failed read on (failed() tells).
  int Get() {
    const int c = Peek();
    if (c >= 0) ++next_;
    return c;
  }
  int Peek() {
    if (next_ == filled_ && !Fill()) return -1;
    return static_cast<unsigned char>(block_[next_]);
  }
  bool failed() const { return failed_; }

 private:
  bool Fill() {
    if (failed_) return false;
    const ssize_t got = file_.ReadAt(block_.data(), block_.size(), offset_);
    failed_ = got < 0;
    if (got <= 0) return false;
    offset_ += got;
    next_ = 0;
    filled_ = static_cast<size_t>(got);
    return true;
  }

  const SharedFile& file_;
  std::vector<char> block_;
  off_t offset_ = 0;
  size_t next_ = 0, filled_ = 0;
  bool failed_ = false;
};

// One line as a text-mode read sees it (`text`: a CR LF is the one character '\n' that ends
// the line, so it counts once and is never split) and as it lies on disk (`bytes`).
struct Line {
  std::string text;
  std::string bytes;
};

// Reads up to `max` characters, up to and including a line end. False when nothing was read.
bool ReadLine(ByteReader& in, size_t max, Line* line) {
  line->text.clear();
  line->bytes.clear();
  int c;
  while (line->text.size() < max && (c = in.Get()) >= 0) {
    line->bytes.push_back(static_cast<char>(c));
    if (c == '\r' && in.Peek() == '\n') {
      line->bytes.push_back(static_cast<char>(in.Get()));
      c = '\n';
    }
    line->text.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !line->bytes.empty();
}

// The bytes of a line whose text an edit changed: each line feed in it written as the line's
// own end was (a lone LF, or CR LF, which a line without an end gets too).
std::string ChangedLineBytes(const Line& line, const std::string& text) {
  const bool loneLineFeed = line.bytes.back() == '\n' && line.text.size() == line.bytes.size();
  std::string bytes;
  bytes.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n' && !loneLineFeed) bytes.push_back('\r');
    bytes.push_back(c);
  }
  return bytes;
}

// Appends to a file in blocks.
class ByteWriter {
 public:
  explicit ByteWriter(const SharedFile& file) : file_(file) {}
  bool Write(std::string_view bytes) {
    buffer_.append(bytes);
    return buffer_.size() < kScanBlock || Flush();
  }
  bool Flush() {
    const bool written = file_.WriteAt(buffer_.data(), buffer_.size(), offset_);
    offset_ += static_cast<off_t>(buffer_.size());
    buffer_.clear();
    return written;
  }

 private:
  const SharedFile& file_;
  std::string buffer_;
  off_t offset_ = 0;
};

// Writes the lines of `in` to `out` as `edit` leaves them: `edit` changes a line's text in place
// and answers false to drop the line. A line whose text stays the same keeps its bytes.
template <typename LineEdit>
bool RewriteLines(const SharedFile& in, const SharedFile& out, size_t maxLine,
                  const LineEdit& edit) {
  ByteReader reader(in);
  ByteWriter writer(out);
  Line line;
  std::string text;
  while (ReadLine(reader, maxLine, &line)) {
    text = line.text;
    if (!edit(&text)) continue;
    if (!writer.Write(text == line.text ? line.bytes : ChangedLineBytes(line, text))) return false;
  }
  return !reader.failed() && writer.Flush();
}

template <typename LineEdit>
uint8_t EditTextLines(const char* path, const char* work, size_t maxLine, bool keepWork,
                      const LineEdit& edit) {
  return EditBeside(path, work, keepWork, [&](const SharedFile& in, const SharedFile& out) {
    return RewriteLines(in, out, maxLine, edit);
  });
}

void UpperCaseAZ(char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 'a' + 'A');
  }
}

// The bytes from `*begin` to `*end` that make up line `index` (from 0), a line being read as a
// piece of at most kNumberedLine bytes that ends after a line feed. Without such a line, an empty
// range at the end of the file. False when reading fails.
bool FindLine(const SharedFile& file, int32_t index, off_t* begin, off_t* end) {
  std::vector<char> block(kScanBlock);
  off_t offset = 0;
  off_t lineStart = 0;
  int32_t line = 0;
  for (;;) {
    const ssize_t got = file.ReadAt(block.data(), block.size(), offset);
    if (got < 0) return false;
    if (got == 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      const off_t next = offset + i + 1;
      if (block[i] != '\n' && next - lineStart < kNumberedLine) continue;
      if (line == index) {
        *begin = lineStart;
        *end = next;
        return true;
      }
      ++line;
      lineStart = next;
    }
    offset += got;
  }
  *begin = line == index ? lineStart : offset;  // the last line has no line feed
  *end = offset;
  return true;
}

// Copies `in` to `out` byte for byte without line `index`.
bool CopyWithoutLine(const SharedFile& in, const SharedFile& out, int32_t index) {
  off_t begin, end, written = 0;
  return FindLine(in, index, &begin, &end) &&
         util::CopyBlocks(in, 0, begin, out, &written, kCopyBlock) &&
         util::CopyBlocks(in, end, -1, out, &written, kCopyBlock);
}

}  // namespace

uint8_t CONVERT_FileReplace(const char* path, const char* work, const char* find,
                            const char* replacement) {
  if (!find || !replacement) return 0;
  if (std::strcmp(find, replacement) == 0) return 1;
  return EditTextLines(path, work, kReplaceLine, false, [&](std::string* line) {
    // The replacement works on the text up to a zero byte; what follows it is kept as it is.
    char text[kReplaceCapacity + 1];
    const size_t length = strnlen(line->data(), line->size());
    std::memcpy(text, line->data(), length);
    text[length] = '\0';
    CONVERT_SwitchString(text, kReplaceCapacity, find, replacement);
    line->replace(0, length, text);
    return true;
  });
}

uint8_t CONVERT_RemoveLineByKeyword(const char* path, const char* work, char* keyword) {
  if (!keyword) return 0;
  UpperCaseAZ(keyword, std::strlen(keyword));
  const std::string_view wanted = keyword;
  return EditTextLines(path, work, kKeywordLine, true, [&](std::string* line) {
    std::string upper = *line;
    UpperCaseAZ(upper.data(), upper.size());
    return upper.find(wanted) == std::string::npos;
  });
}

uint8_t CONVERT_RemoveLineByLinenumber(const char* path, const char* work, int32_t keep) {
  return EditBeside(path, work, false, [&](const SharedFile& in, const SharedFile& out) {
    return CopyWithoutLine(in, out, std::max(keep, 0));
  });
}
