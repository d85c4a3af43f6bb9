#include "ui/wx/message_box_trace.h"

#include <fcntl.h>

#include <cstdlib>

#include "platform/file_io.h"
#include "platform/unique_fd.h"

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
  platform::UniqueFd fd;
  if (platform::OpenRegularFile(path, O_WRONLY | O_CREAT | O_APPEND, 0644, &fd) != 0) return false;
  const std::string line = FormatMessageBoxTrace(type, caption, text);
  const bool written = platform::WriteAll(fd.get(), line.data(), line.size(), path);
  return fd.Close(path) == 0 && written;
}

}  // namespace ui
