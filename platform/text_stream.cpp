#include "platform/text_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/fault.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

constexpr char kCtrlZ = 0x1A;
constexpr size_t kRawBufferSize = 64 * 1024;

// The state of one text-mode stream. Raw bytes read ahead from the descriptor wait in `raw`
// from `rawBegin` to `rawEnd`; a CR at the end of the read-ahead stays there until the next
// byte is known.
struct TextFile {
  int fd;
  std::string path;
  std::vector<char> raw;
  size_t rawBegin = 0;
  size_t rawEnd = 0;
  bool atEnd = false;  // end of file or Ctrl-Z reached
  int writeError = 0;  // the first failed write's errno: the file lacks text from then on

  size_t pending() const { return rawEnd - rawBegin; }
  void DropReadAhead() {
    rawBegin = rawEnd = 0;
    atEnd = false;
  }
};

// Moves unread bytes to the front and reads more behind them. Returns false at end of file or
// on error (errno set, -1 in *error).
bool ReadMore(TextFile* file, bool* failed) {
  if (file->rawBegin > 0) {
    std::memmove(file->raw.data(), file->raw.data() + file->rawBegin, file->pending());
    file->rawEnd -= file->rawBegin;
    file->rawBegin = 0;
  }
  if (int fault = InjectedFault(FileOp::kRead, file->path)) {
    errno = fault;
    *failed = true;
    return false;
  }
  for (;;) {
    ssize_t n = ::read(file->fd, file->raw.data() + file->rawEnd, file->raw.size() - file->rawEnd);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) *failed = true;
    if (n <= 0) return false;
    file->rawEnd += static_cast<size_t>(n);
    return true;
  }
}

ssize_t TextRead(void* cookie, char* out, size_t size) {
  auto* file = static_cast<TextFile*>(cookie);
  size_t produced = 0;
  bool failed = false;
  while (produced < size && !file->atEnd) {
    if (file->pending() == 0 && !ReadMore(file, &failed)) break;
    char c = file->raw[file->rawBegin];
    if (c == kCtrlZ) {
      file->atEnd = true;
      break;
    }
    if (c == '\r' && file->pending() == 1 && ReadMore(file, &failed)) continue;
    if (failed) break;
    if (c == '\r' && file->pending() > 1 && file->raw[file->rawBegin + 1] == '\n') {
      ++file->rawBegin;  // CR LF: keep only the LF
      continue;
    }
    out[produced++] = c;
    ++file->rawBegin;
  }
  if (failed && produced == 0) return -1;
  return static_cast<ssize_t>(produced);
}

ssize_t TextWrite(void* cookie, const char* data, size_t size) {
  auto* file = static_cast<TextFile*>(cookie);
  std::string translated;
  translated.reserve(size + size / 16 + 2);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') translated.push_back('\r');
    translated.push_back(data[i]);
  }
  // glibc takes a cookie write's result as a count of bytes: -1 would be read as more than was
  // asked for, and the stream would go on to write bytes beyond the caller's data. 0 is the
  // failure it understands; the error is kept for the close, which reports the lost text.
  if (!WriteAll(file->fd, translated.data(), translated.size(), file->path)) {
    if (file->writeError == 0) file->writeError = errno != 0 ? errno : EIO;
    return 0;
  }
  return static_cast<ssize_t>(size);
}

int TextSeek(void* cookie, off64_t* offset, int whence) {
  auto* file = static_cast<TextFile*>(cookie);
  // The descriptor stands ahead of the stream by the bytes read ahead and not yet delivered.
  off64_t target = *offset;
  if (whence == SEEK_CUR) target -= static_cast<off64_t>(file->pending());
  off64_t result = ::lseek64(file->fd, target, whence);
  if (result < 0) return -1;
  file->DropReadAhead();
  *offset = result;
  return 0;
}

int TextClose(void* cookie) {
  std::unique_ptr<TextFile> file(static_cast<TextFile*>(cookie));
  const int closeError = UniqueFd(file->fd).Close(file->path);
  if (const int error = file->writeError != 0 ? file->writeError : closeError) {
    errno = error;
    return -1;
  }
  return 0;
}

}  // namespace

std::FILE* OpenTextStream(int fd, const char* mode, const std::string& path) {
  TextFile* file = new (std::nothrow) TextFile{fd, path, {}};
  if (!file) {
    errno = ENOMEM;
    return nullptr;
  }
  try {
    file->raw.resize(kRawBufferSize);
  } catch (const std::bad_alloc&) {
    delete file;
    errno = ENOMEM;
    return nullptr;
  }
  cookie_io_functions_t functions{TextRead, TextWrite, TextSeek, TextClose};
  std::FILE* stream = ::fopencookie(file, mode, functions);
  if (!stream) {
    delete file;
    return nullptr;
  }
  // The stream's own buffer would hold translated bytes, and glibc would then compute disk
  // positions from their count. The read-ahead lives in the cookie instead, which knows how
  // many disk bytes it has not delivered yet.
  std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

}  // namespace platform
