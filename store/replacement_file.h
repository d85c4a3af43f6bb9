// A file written beside a store file to take its place whole (PREPAID.NEW for the card file,
// .PREPAID.TXT.new for the report): created anew, exclusively, with every other open kept out,
// written front to back, synced, and then renamed into place in one step, so a reader finds the old
// file or the new one whole, never a part. Until it is in place the object owns the file and
// removes it again, on every path.
#ifndef LINDAVOX_STORE_REPLACEMENT_FILE_H
#define LINDAVOX_STORE_REPLACEMENT_FILE_H

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <utility>

#include "platform/share.h"

namespace store {

class ReplacementFile {
 public:
  explicit ReplacementFile(std::string path) : path_(std::move(path)) {}
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates the file anew, exclusively. A file of that name that a killed run left is removed
  // first when it is an ordinary file of the folder's owner or of this user. False when that
  // fails: when another process is writing it (another export or compaction, which then keeps
  // it), or when something else is in the way (a link, another user's file: see
  // platform::TakeRefusal).
  bool Create();
  // Appends `size` bytes. False when not all of them were written.
  bool Append(const void* data, size_t size);
  // The open file, until it is put in place.
  int fd() const { return file_.fd(); }
  // Gives the file the access of the file that `held` holds open (permissions, and owner and
  // group where this process may), syncs and closes it, then renames it over that file while
  // `held` is its only open, or with OthersMay::kRead the only one besides readers
  // (platform::ReplaceHeldShared).
  bool Replace(const platform::SharedFile& held,
               platform::OthersMay others = platform::OthersMay::kNothing);
  // Syncs and closes the file, then renames it to `target`, where no file may be yet; the
  // folder is synced too.
  bool RenameTo(const std::string& target);

  // The errno value of the last step that failed (0 while none has), for telling an operator
  // why: EACCES for a folder the caller may not write, ENOSPC, kSharingViolation, ...; and the
  // file it concerns: this file, or the one it was to replace or be renamed to.
  int error() const { return error_; }
  const std::string& failedPath() const { return failedPath_; }

 private:
  bool Finish();
  bool Fail(int error, const std::string& path);

  const std::string path_;
  platform::SharedFile file_;
  off_t written_ = 0;
  bool owned_ = false;  // created here and not yet in place
  int error_ = 0;
  std::string failedPath_;
};

}  // namespace store

#endif
