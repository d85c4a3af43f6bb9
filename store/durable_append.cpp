#include "store/durable_append.h"

#include <sys/stat.h>

#include <string>

#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/share.h"
#include "store/store_internal.h"
#include "store/text_lines.h"

namespace store {

off_t SizeBeforeAppending(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

bool AppendDurably(const std::string& path, off_t size, std::string_view bytes, bool* added) {
  const bool existed = StoreFileExists(path);
  platform::SharedFile file;
  const platform::OpenRequest request{platform::kAccessReadWrite, platform::kShareReadWrite,
                                      platform::Disposition::kOpenAlways};
  if (platform::SharedFile::Open(path, request, &file) != 0) return false;
  const off_t now = file.Size();
  if (now < 0) return false;
  std::string there;
  if (now >= size + static_cast<off_t>(bytes.size()) &&
      !ReadRange(file, size, size + static_cast<off_t>(bytes.size()), &there)) {
    return false;
  }
  *added = there != bytes;
  if (*added) {
    const off_t at = now < size ? now : size;
    if (!file.WriteAt(bytes.data(), bytes.size(), at)) return false;
    // Whatever an interrupted addition left beyond it goes.
    const off_t end = at + static_cast<off_t>(bytes.size());
    if (now > end && platform::TruncateFile(file.fd(), end, path) != 0) return false;
  }
  // On the disk before the journal moves past this step; a new file's name too.
  if (platform::SyncFileData(file.fd(), path) != 0 || file.Close() != 0) return false;
  if (!existed) platform::SyncDirectory(platform::DirectoryOf(path));
  return true;
}

}  // namespace store
