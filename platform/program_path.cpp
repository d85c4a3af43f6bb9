#include "platform/program_path.h"

#include <unistd.h>

#include <cstring>

namespace platform {
namespace {

std::string DirectoryPart(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

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
  if (argv0 != nullptr && std::strchr(argv0, '/') != nullptr) return DirectoryPart(argv0);
  return DirectoryPart(RunningExecutable());
}

}  // namespace platform
