// Editing files line by line (see line_edit.h).
//
// An edit never works in place: the file is renamed to its work path, read from there, and the
// new content is written under the file's own name. Until the new content is complete, the
// original bytes exist only under the work path, so every failure after the move (the new file
// cannot be created, a read or a write fails, closing reports a lost write) removes the partial
// new file and renames the original back. The rename refuses to replace anything, so a work path
// that could not be cleared stops the edit before the file is moved.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/c_boundary.h"
#include "platform/file_io.h"
#include "platform/share.h"
#include "util/block_copy.h"
#include "util/file_open_internal.h"
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

struct StreamCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using Stream = std::unique_ptr<std::FILE, StreamCloser>;

bool SameFile(const char* a, const char* b) {
  struct stat first, second;
  return ::stat(a, &first) == 0 && ::stat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// Everything an edit checks before it touches a file: both paths given, the file present, and
// the work path not the file itself (clearing it would delete the file).
bool MayEdit(const char* path, const char* work) {
  return path && work && platform::PathExists(path) && std::strcmp(path, work) != 0 &&
         !SameFile(path, work);
}

// Moves the file to the work path, removing what lay there first. False when the file is still
// where it was.
bool MoveAside(const std::string& path, const std::string& work) {
  platform::RemoveShared(work);
  return platform::RenameShared(path, work) == 0;
}

// Puts the original back under its own name after a failed edit.
void PutBack(const std::string& path, const std::string& work) {
  platform::RemoveShared(path);
  platform::RenameShared(work, path);
}

// The course every edit takes: check, move aside, write the new file with `rewrite`, put the
// original back when that fails, and remove the work file unless the caller keeps it.
template <typename Rewrite>
uint8_t EditAside(const char* path, const char* work, bool keepWork, const Rewrite& rewrite) {
  return platform::CallNoThrow<uint8_t>(0, [&]() -> uint8_t {
    if (!MayEdit(path, work)) return 0;
    const std::string file = path;
    const std::string aside = work;
    if (!MoveAside(file, aside)) return 0;
    if (!platform::CallNoThrow(false, [&] { return rewrite(aside, file); })) {
      PutBack(file, aside);
      return 0;
    }
    if (!keepWork) platform::RemoveShared(aside);
    return 1;
  });
}

// Reads up to `max` characters, up to and including a line feed. False when nothing was read.
bool ReadLine(std::FILE* in, size_t max, std::string* line) {
  line->clear();
  int c;
  while (line->size() < max && (c = std::getc(in)) != EOF) {
    line->push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !line->empty();
}

// Writes the lines of `from` to `to`, both in text mode, through `edit`, which changes a line in
// place or answers false to drop it.
template <typename LineEdit>
bool RewriteLines(const std::string& from, const std::string& to, size_t maxLine,
                  const LineEdit& edit) {
  Stream in(util::Fopen(from.c_str(), "rt", false, util::FopenGeneration::kCurrent));
  if (!in) return false;
  Stream out(util::Fopen(to.c_str(), "wt", false, util::FopenGeneration::kCurrent));
  if (!out) return false;
  std::string line;
  while (ReadLine(in.get(), maxLine, &line)) {
    if (!edit(&line)) continue;
    if (std::fwrite(line.data(), 1, line.size(), out.get()) != line.size()) return false;
  }
  return !std::ferror(in.get()) && std::fclose(out.release()) == 0;
}

template <typename LineEdit>
uint8_t EditTextLines(const char* path, const char* work, size_t maxLine, bool keepWork,
                      const LineEdit& edit) {
  return EditAside(path, work, keepWork, [&](const std::string& from, const std::string& to) {
    return RewriteLines(from, to, maxLine, edit);
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

// Copies `from` to `to` byte for byte without line `index`.
bool CopyWithoutLine(const std::string& from, const std::string& to, int32_t index) {
  SharedFile in, out;
  if (util::OpenAsFopen(from, "rb", false, &in) != 0) return false;
  if (util::OpenAsFopen(to, "wb", false, &out) != 0) return false;
  off_t begin, end, written = 0;
  return FindLine(in, index, &begin, &end) &&
         util::CopyBlocks(in, 0, begin, out, &written, kCopyBlock) &&
         util::CopyBlocks(in, end, -1, out, &written, kCopyBlock) && out.Close() == 0;
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
  return EditAside(path, work, false, [&](const std::string& from, const std::string& to) {
    return CopyWithoutLine(from, to, std::max(keep, 0));
  });
}
