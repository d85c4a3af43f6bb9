#include "store/durable_append.h"

#include <sys/stat.h>

#include <string>

#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/share.h"
#include "platform/shared_folder.h"
#include "store/store_internal.h"
#include "store/text_lines.h"

namespace store {

off_t SizeBeforeAppending(const std::string& path) {
  std::string file;
  struct stat st;
  return platform::FollowTrustedLinks(path, &file) == 0 && ::stat(file.c_str(), &st) == 0
             ? st.st_size
             : 0;
}

bool AppendDurably(const std::string& path, off_t size, std::string_view bytes, AppendAs as,
                   bool* added) {
  const bool existed = StoreFileExists(path);
  platform::SharedFile file;
  const platform::OpenRequest request{platform::kAccessReadWrite, platform::kShareRead,
                                      platform::Disposition::kOpenAlways};
  if (platform::SharedFile::Open(path, request, &file) != 0) return false;
  const off_t now = file.Size();
  if (now < 0) return false;
  const off_t at = now < size ? now : size;
  std::string text(bytes);
  if (as == AppendAs::kOwnLine && at > 0) {
    char last = '\n';
    if (file.ReadAt(&last, 1, at - 1) != 1) return false;
    if (last != '\n' && last != '\r') text.insert(0, "\r\n");
  }
  const off_t end = at + static_cast<off_t>(text.size());
  std::string there;
  if (now >= end && !ReadRange(file, at, end, &there)) return false;
  *added = there != text;
  if (*added) {
    if (!file.WriteAt(text.data(), text.size(), at)) return false;
    // Whatever an interrupted addition left beyond it goes.
    if (now > end && platform::TruncateFile(file.fd(), end, path) != 0) return false;
  }
  // Sync: on the disk before the journal moves past this step; a new file's name too.
  if (platform::SyncFileData(file.fd(), path) != 0 || file.Close() != 0) return false;
  if (!existed) platform::SyncDirectory(platform::DirectoryOf(path));
  return true;
}

}  // namespace store
