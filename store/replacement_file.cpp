#include "store/replacement_file.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/shared_folder.h"

namespace store {

ReplacementFile::~ReplacementFile() {
  if (!owned_) return;
  file_.Close();
  platform::RemoveShared(path_);
}

bool ReplacementFile::Create() {
  // What a killed run left is removed first, unless somebody has it open (another writer's file
  // stays) or it is not ours to remove: a link or another user's file is never written through.
  if (const int error = platform::RemoveStaleFile(path_); error != 0) return Fail(error, path_);
  const platform::OpenRequest alone{platform::kAccessWrite, platform::kShareNone,
                                    platform::Disposition::kCreateNew};
  const int error = platform::SharedFile::Open(path_, alone, &file_);
  if (error == 0) return owned_ = true;
  // An open that failed after it made the file leaves it behind: it is ours to remove again.
  if (error != EEXIST) platform::RemoveStaleFile(path_);
  return Fail(error, path_);
}

bool ReplacementFile::Append(const void* data, size_t size) {
  if (size == 0) return true;
  if (!file_.WriteAt(data, size, written_)) return Fail(errno, path_);
  // The file is synced before it takes its place; writing it out while the rest is still being
  // made leaves that sync little to wait for.
  platform::StartWriteBack(file_.fd(), written_, size);
  written_ += static_cast<off_t>(size);
  return true;
}

bool ReplacementFile::Finish() {
  if (!file_.isOpen()) return Fail(EBADF, path_);
  if (const int error = platform::SyncFile(file_.fd(), path_); error != 0) {
    return Fail(error, path_);
  }
  const int error = file_.Close();
  return error == 0 || Fail(error, path_);
}

bool ReplacementFile::Replace(const platform::SharedFile& held, platform::OthersMay others) {
  if (!file_.isOpen()) return Fail(EBADF, path_);
  // The replacement is as accessible as the file it replaces, set while this open is the one
  // that names it for sure.
  struct stat model;
  if (const int error = platform::StatOpenFile(held.fd(), held.path(), &model); error != 0) {
    return Fail(error, held.path());
  }
  if (const int error = platform::TakeOverAccess(file_.fd(), model); error != 0) {
    return Fail(error, path_);
  }
  if (!Finish()) return false;
  if (const int error = platform::ReplaceHeldShared(path_, held, others); error != 0) {
    return Fail(error, held.path());
  }
  owned_ = false;
  return true;
}

bool ReplacementFile::RenameTo(const std::string& target) {
  if (!Finish()) return false;
  if (const int error = platform::RenameShared(path_, target); error != 0) {
    return Fail(error, target);
  }
  owned_ = false;
  platform::SyncDirectory(platform::DirectoryOf(target));
  return true;
}

bool ReplacementFile::Fail(int error, const std::string& path) {
  error_ = error != 0 ? error : EIO;
  failedPath_ = path;
  return false;
}

}  // namespace store
