// Reading a text-mode file line by line with the positions of every line on disk, as the
// import needs them to resume after a given line and to copy unapplied lines elsewhere.
//
// The lines are those that fgets with room for 199 characters gives on a text-mode stream:
// CR LF reads as LF (a lone CR stays), a Ctrl-Z ends the file, and a line longer than 199
// characters comes in pieces of 199, each a line of its own.
#ifndef LINDAVOX_STORE_TEXT_LINES_H
#define LINDAVOX_STORE_TEXT_LINES_H

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/share.h"

namespace store {

inline constexpr size_t kLineRoom = 199;

struct TextLine {
  std::string text;  // as read in text mode, the LF included when it fits
  off_t offset = 0;  // where the line starts on disk
  off_t next = 0;    // where the next line starts on disk
};

class TextLineReader {
 public:
  // Reads `file` from byte `start` on. The file must stay open while the reader is used.
  TextLineReader(const platform::SharedFile& file, off_t start);

  enum class Result { kLine, kEnd, kError };
  Result Next(TextLine* line);
  // Where the text ends on disk (the file's end or its Ctrl-Z); valid once Next gave kEnd.
  off_t end() const { return position_; }

 private:
  // The byte at the reading position, -1 at the end of the file, -2 on a read error.
  int Peek(size_t ahead = 0);

  const platform::SharedFile& file_;
  std::unique_ptr<char[]> buffer_;
  off_t bufferStart_;  // file offset of buffer_[0]
  size_t bufferSize_ = 0;
  off_t position_;
  bool atEnd_ = false;
};

// The bytes of `file` in [from, to).
bool ReadRange(const platform::SharedFile& file, off_t from, off_t to, std::string* bytes);

}  // namespace store

#endif
