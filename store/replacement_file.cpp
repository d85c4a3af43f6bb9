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
  const int error = platform::SharedFile::Open(path_, alone, &file_);
  if (error == 0) return owned_ = true;
  // Refused while somebody has it open, so another writer's file stays.
  platform::RemoveShared(path_);
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

bool ReplacementFile::Replace(const platform::SharedFile& held) {
  if (!Finish()) return false;
  if (const int error = platform::ReplaceHeldShared(path_, held); error != 0) {
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
