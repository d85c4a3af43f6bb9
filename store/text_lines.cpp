#include "store/text_lines.h"

#include <cstring>

namespace store {
namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr char kCtrlZ = 0x1A;

}  // namespace

TextLineReader::TextLineReader(const platform::SharedFile& file, off_t start)
    : file_(file), buffer_(new char[kBufferSize]), bufferStart_(start), position_(start) {}

int TextLineReader::Peek(size_t ahead) {
  const off_t at = position_ + static_cast<off_t>(ahead);
  if (at >= bufferStart_ + static_cast<off_t>(bufferSize_)) {
    // Refill from the reading position; `ahead` is at most 1, far below the buffer size.
    const ssize_t got = file_.ReadAt(buffer_.get(), kBufferSize, position_);
    if (got < 0) return -2;
    bufferStart_ = position_;
    bufferSize_ = static_cast<size_t>(got);
    if (at >= bufferStart_ + static_cast<off_t>(bufferSize_)) return -1;
  }
  return static_cast<unsigned char>(buffer_[at - bufferStart_]);
}

TextLineReader::Result TextLineReader::Next(TextLine* line) {
  line->text.clear();
  line->offset = position_;
  while (!atEnd_ && line->text.size() < kLineRoom) {
    int c = Peek();
    if (c == -2) return Result::kError;
    if (c == -1 || c == kCtrlZ) {
      atEnd_ = true;
      break;
    }
    size_t width = 1;
    if (c == '\r') {
      const int after = Peek(1);
      if (after == -2) return Result::kError;
      if (after == '\n') {
        c = '\n';
        width = 2;
      }
    }
    position_ += static_cast<off_t>(width);
    line->text.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  line->next = position_;
  return line->text.empty() ? Result::kEnd : Result::kLine;
}

bool ReadRange(const platform::SharedFile& file, off_t from, off_t to, std::string* bytes) {
  bytes->assign(to > from ? static_cast<size_t>(to - from) : 0, '\0');
  return bytes->empty() ||
         file.ReadAt(bytes->data(), bytes->size(), from) == static_cast<ssize_t>(bytes->size());
}

}  // namespace store
