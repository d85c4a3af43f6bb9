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
  if (platform::RemoveStaleFile(path_) != 0) return false;
  const platform::OpenRequest alone{platform::kAccessWrite, platform::kShareNone,
                                    platform::Disposition::kCreateNew};
  const int error = platform::SharedFile::Open(path_, alone, &file_);
  if (error == 0) return owned_ = true;
  // An open that failed after it made the file leaves it behind: it is ours to remove again.
  if (error != EEXIST) platform::RemoveStaleFile(path_);
  return false;
}

bool ReplacementFile::Append(const void* data, size_t size) {
  if (size == 0) return true;
  if (!file_.WriteAt(data, size, written_)) return false;
  // The file is synced before it takes its place; writing it out while the rest is still being
  // made leaves that sync little to wait for.
  platform::StartWriteBack(file_.fd(), written_, size);
  written_ += static_cast<off_t>(size);
  return true;
}

bool ReplacementFile::Finish() {
  return file_.isOpen() && platform::SyncFile(file_.fd(), path_) == 0 && file_.Close() == 0;
}

bool ReplacementFile::Replace(const platform::SharedFile& held, platform::OthersMay others) {
  // The replacement is as accessible as the file it replaces, set while this open is the one
  // that names it for sure.
  struct stat model;
  if (!file_.isOpen() || platform::StatOpenFile(held.fd(), held.path(), &model) != 0 ||
      platform::TakeOverAccess(file_.fd(), model) != 0) {
    return false;
  }
  if (!Finish() || platform::ReplaceHeldShared(path_, held, others) != 0) return false;
  owned_ = false;
  return true;
}

bool ReplacementFile::RenameTo(const std::string& target) {
  if (!Finish() || platform::RenameShared(path_, target) != 0) return false;
  owned_ = false;
  platform::SyncDirectory(platform::DirectoryOf(target));
  return true;
}

}  // namespace store
