#include "store/replacement_file.h"

#include "platform/file_io.h"
#include "platform/path.h"

namespace store {

ReplacementFile::~ReplacementFile() {
  if (!owned_) return;
  file_.Close();
  platform::RemoveShared(path_);
}

bool ReplacementFile::Create() {
  const platform::OpenRequest alone{platform::kAccessWrite, platform::kShareNone,
                                    platform::Disposition::kCreateTruncate};
  if (platform::SharedFile::Open(path_, alone, &file_) == 0) return owned_ = true;
  // Refused while somebody has it open, so another writer's file stays.
  platform::RemoveShared(path_);
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
