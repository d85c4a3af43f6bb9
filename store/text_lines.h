// Reading an order file (or the marker list) line by line with the place of every line on disk,
// as the import needs them to resume after a given line and to copy unapplied lines elsewhere.
//
// A line ends at LF, at CR LF or at a lone CR; the last line may have none. Every byte of the
// file belongs to exactly one line, except two marks that editors write and that carry no
// text: a UTF-8 byte order mark at the very start of the file, and a Ctrl-Z as its very last
// byte (the old end-of-file mark). Any other Ctrl-Z is an ordinary byte of its line. Lines are
// read whole up to kLongestLine bytes; of a longer one only the first kLongestLine bytes are
// kept, and it is marked as too long.
#ifndef LINDAVOX_STORE_TEXT_LINES_H
#define LINDAVOX_STORE_TEXT_LINES_H

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/share.h"

namespace store {

inline constexpr size_t kLongestLine = 65536;

struct TextLine {
  std::string text;      // without its line end (at most kLongestLine bytes)
  off_t offset = 0;      // where the line starts on disk
  off_t next = 0;        // where the next line starts on disk (after the line end)
  bool tooLong = false;  // the line has more than kLongestLine bytes
};

class TextLineReader {
 public:
  // Reads `file` from byte `start` on. The file must stay open while the reader is used.
  TextLineReader(const platform::SharedFile& file, off_t start);

  enum class Result { kLine, kEnd, kError };
  Result Next(TextLine* line);
  // Where the text ends on disk (before a final Ctrl-Z); valid once Next gave kEnd.
  off_t end() const { return position_; }

 private:
  // The byte at `at`, -1 at the end of the text, -2 on a read error.
  int ByteAt(off_t at);

  const platform::SharedFile& file_;
  std::unique_ptr<char[]> buffer_;
  off_t bufferStart_;  // file offset of buffer_[0]
  size_t bufferSize_ = 0;
  off_t position_;
  off_t textEnd_ = -1;  // the file's size less a final Ctrl-Z; -1 until known
};

// The bytes of `file` in [from, to).
bool ReadRange(const platform::SharedFile& file, off_t from, off_t to, std::string* bytes);

}  // namespace store

#endif
