#include "platform/file_error.h"

#include <cstring>

#include "platform/file_io.h"
#include "platform/share.h"
#include "platform/shared_folder.h"

namespace platform {

std::string FileErrorText(int error) {
  switch (error) {
    case kSharingViolation:
      return "in use by another program that does not share it (try again later)";
    case kNotRegularFile:
      return "is not an ordinary file";
    case kUntrustedLink:
      return "a symbolic link that neither root nor the owner of its folder made, not followed";
    default:
      return std::strerror(error);
  }
}

}  // namespace platform
