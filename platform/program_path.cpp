#include "platform/program_path.h"

#include <unistd.h>

#include <cstring>

#include "platform/message_box.h"
#include "platform/path.h"

namespace platform {
namespace {

std::string RunningExecutable() {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) return buffer.substr(0, length);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string ProgramDirectory(const char* argv0) {
  if (argv0 != nullptr && std::strchr(argv0, '/') != nullptr) return DirectoryOf(argv0);
  return DirectoryOf(RunningExecutable());
}

bool TakeDataDirectory(const char* argv0, char* buffer, size_t size) {
  std::string directory = ProgramDirectory(argv0);
  if (!directory.empty() && directory.size() < size) {
    std::memcpy(buffer, directory.c_str(), directory.size() + 1);
    return true;
  }
  std::string message =
      "Das Programmverzeichnis kann nicht als Datenverzeichnis dienen:\n" +
      (directory.empty() ? std::string(argv0 != nullptr ? argv0 : "") : directory);
  ShowMessageBox(message.c_str(), "Fehler", 0x10);  // MB_OK | MB_ICONHAND
  return false;
}

}  // namespace platform
