#include "store/text_lines.h"

#include <cstring>

namespace store {
namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr char kCtrlZ = 0x1A;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

}  // namespace

TextLineReader::TextLineReader(const platform::SharedFile& file, off_t start)
    : file_(file), buffer_(new char[kBufferSize]), bufferStart_(start), position_(start) {}

int TextLineReader::ByteAt(off_t at) {
  if (textEnd_ < 0) {
    const off_t size = file_.Size();
    if (size < 0) return -2;
    char last = 0;
    textEnd_ = size;
    if (size > 0 && file_.ReadAt(&last, 1, size - 1) == 1 && last == kCtrlZ) textEnd_ = size - 1;
    if (position_ == 0) {
      char mark[3];
      if (file_.ReadAt(mark, 3, 0) == 3 && std::memcmp(mark, kByteOrderMark, 3) == 0) {
        position_ = bufferStart_ = at = 3;
      }
    }
  }
  if (at >= textEnd_) return -1;
  if (at < bufferStart_ || at >= bufferStart_ + static_cast<off_t>(bufferSize_)) {
    const ssize_t got = file_.ReadAt(buffer_.get(), kBufferSize, at);
    if (got < 0) return -2;
    bufferStart_ = at;
    bufferSize_ = static_cast<size_t>(got);
    if (bufferSize_ == 0) return -1;  // the file shrank meanwhile
  }
  return static_cast<unsigned char>(buffer_[at - bufferStart_]);
}

TextLineReader::Result TextLineReader::Next(TextLine* line) {
  line->text.clear();
  line->tooLong = false;
  if (ByteAt(position_) == -2) return Result::kError;  // also skips a byte order mark
  line->offset = position_;
  for (;;) {
    const int c = ByteAt(position_);
    if (c == -2) return Result::kError;
    if (c == -1) break;
    ++position_;
    if (c == '\n') break;
    if (c == '\r') {
      const int after = ByteAt(position_);
      if (after == -2) return Result::kError;
      if (after == '\n') ++position_;
      break;
    }
    if (line->text.size() < kLongestLine) {
      line->text.push_back(static_cast<char>(c));
    } else {
      line->tooLong = true;
    }
  }
  line->next = position_;
  return line->next == line->offset ? Result::kEnd : Result::kLine;
}

bool ReadRange(const platform::SharedFile& file, off_t from, off_t to, std::string* bytes) {
  bytes->assign(to > from ? static_cast<size_t>(to - from) : 0, '\0');
  return bytes->empty() ||
         file.ReadAt(bytes->data(), bytes->size(), from) == static_cast<ssize_t>(bytes->size());
}

}  // namespace store
