#include "platform/boot_id.h"

#include <fcntl.h>
#include <unistd.h>

#include <optional>
#include <utility>

#include "platform/unique_fd.h"

namespace platform {
namespace {

std::optional<std::string>& Override() {
  static std::optional<std::string> id;
  return id;
}

}  // namespace

std::string BootId() {
  if (Override()) return *Override();
  UniqueFd fd(::open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC));
  char text[36];
  if (!fd || ::read(fd.get(), text, sizeof text) != static_cast<ssize_t>(sizeof text)) return "";
  return std::string(text, sizeof text);
}

ScopedBootId::ScopedBootId(std::string id) : hadPrevious_(Override().has_value()) {
  if (hadPrevious_) previous_ = *Override();
  Override() = std::move(id);
}

ScopedBootId::~ScopedBootId() {
  if (hadPrevious_) {
    Override() = std::move(previous_);
  } else {
    Override().reset();
  }
}

}  // namespace platform
