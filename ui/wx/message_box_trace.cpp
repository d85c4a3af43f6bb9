#include "ui/wx/message_box_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace ui {
namespace {

void AppendEscaped(std::string& line, std::string_view field) {
  for (char c : field) {
    switch (c) {
      case '\\':
        line += "\\\\";
        break;
      case '\n':
        line += "\\n";
        break;
      case '\r':
        line += "\\r";
        break;
      case '\t':
        line += "\\t";
        break;
      default:
        line += c;
        break;
    }
  }
}

bool WriteAll(int fd, const std::string& data) {
  size_t written = 0;
  while (written < data.size()) {
    ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string FormatMessageBoxTrace(unsigned type, std::string_view caption, std::string_view text) {
  std::string line = std::to_string(type);
  line += '\t';
  AppendEscaped(line, caption);
  line += '\t';
  AppendEscaped(line, text);
  line += '\n';
  return line;
}

bool TraceMessageBox(unsigned type, std::string_view caption, std::string_view text) {
  const char* path = std::getenv(kMessageBoxTraceVariable);
  if (path == nullptr || *path == '\0') return true;
  int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = WriteAll(fd, FormatMessageBoxTrace(type, caption, text));
  bool closed = ::close(fd) == 0;
  return written && closed;
}

}  // namespace ui
