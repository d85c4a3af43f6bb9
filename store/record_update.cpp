#include "store/record_update.h"

#include <fcntl.h>
#include <time.h>

#include <cerrno>
#include <string>

#include "platform/c_boundary.h"
#include "store/card_record.h"
#include "store/store_internal.h"
#include "util/file_open_internal.h"

namespace store {
namespace {

// How long a writer waits for a record that another writer holds: ample for one read and one
// write, short enough that a stuck peer does not hang the caller.
constexpr int kLockAttempts = 2000;
constexpr long kLockPauseNs = 2'000'000;  // 2 ms, so at most about 4 s

off_t RecordOffset(int32_t index) {
  return static_cast<off_t>(index) * static_cast<off_t>(kRecordSize);
}

// Holds the write lock on one record's bytes for its lifetime (see record_update.h).
class RecordLock {
 public:
  RecordLock(int fd, int32_t index) : fd_(fd), start_(RecordOffset(index)) {
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
      struct flock lock = Request(F_WRLCK);
      if (fcntl(fd_, F_OFD_SETLK, &lock) == 0) {
        held_ = true;
        return;
      }
      if (errno != EAGAIN && errno != EACCES && errno != EINTR) return;
      const struct timespec pause { 0, kLockPauseNs };
      nanosleep(&pause, nullptr);
    }
    // The record stayed held by another writer: a sharing conflict, not a missing permission
    // (which is how fcntl words a lock held elsewhere, EACCES).
    errno = platform::kSharingViolation;
  }
  ~RecordLock() {
    if (!held_) return;
    struct flock unlock = Request(F_UNLCK);
    fcntl(fd_, F_OFD_SETLK, &unlock);
  }
  RecordLock(const RecordLock&) = delete;
  RecordLock& operator=(const RecordLock&) = delete;
  bool held() const { return held_; }

 private:
  struct flock Request(short type) const {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start_;
    lock.l_len = static_cast<off_t>(kRecordSize);
    return lock;
  }

  int fd_;
  off_t start_;
  bool held_ = false;
};

bool ReadRecord(const platform::SharedFile& file, int32_t index, PrepaidCard* card) {
  unsigned char bytes[kRecordSize];
  if (file.ReadAt(bytes, sizeof bytes, RecordOffset(index)) != static_cast<ssize_t>(kRecordSize)) {
    return false;
  }
  DecodeCard(bytes, card);
  return true;
}

bool WriteRecord(const platform::SharedFile& file, int32_t index, const PrepaidCard& card) {
  unsigned char bytes[kRecordSize];
  EncodeCard(card, bytes);
  return file.WriteAt(bytes, sizeof bytes, RecordOffset(index));
}

}  // namespace

UpdateResult UpdateCardAt(const platform::SharedFile& file, int32_t index, int32_t cardNumber,
                          const CardChange& change, const BeforeWrite& beforeWrite,
                          const AfterWrite& afterWrite) {
  if (index < 0) return UpdateResult::kOtherCard;
  RecordLock lock(file.fd(), index);
  if (!lock.held()) return UpdateResult::kFailed;
  PrepaidCard before{};
  if (!ReadRecord(file, index, &before)) {
    // A read error is a failure; a record past the end of the file is no longer this card.
    const off_t size = file.Size();
    return size >= 0 && size < RecordOffset(index) + static_cast<off_t>(kRecordSize)
               ? UpdateResult::kOtherCard
               : UpdateResult::kFailed;
  }
  if (before.cardNumber != cardNumber) return UpdateResult::kOtherCard;
  PrepaidCard after = before;
  if (!change(&after) || SameCardBytes(before, after)) return UpdateResult::kUnchanged;
  after.cardNumber = cardNumber;  // the change may not move the record to another card
  if (beforeWrite && !beforeWrite(before, after)) return UpdateResult::kFailed;
  if (!WriteRecord(file, index, after)) return UpdateResult::kFailed;
  if (afterWrite) afterWrite(before, after);
  return UpdateResult::kWritten;
}

UpdateResult UpdateCard(const char* dataDir, int32_t index, int32_t cardNumber,
                        const CardChange& change, const BeforeWrite& beforeWrite,
                        const AfterWrite& afterWrite) {
  if (!dataDir) return UpdateResult::kFailed;
  return platform::CallNoThrow<UpdateResult>(UpdateResult::kFailed, [&] {
    const std::string path = StorePath(dataDir, "PREPAID.DAT");
    if (!StoreFileExists(path)) return UpdateResult::kOtherCard;
    platform::SharedFile file;
    if (const int error = util::OpenAsFopen(path, "rb+", false, &file); error != 0) {
      errno = error;
      return UpdateResult::kFailed;
    }
    const UpdateResult result =
        UpdateCardAt(file, index, cardNumber, change, beforeWrite, afterWrite);
    const bool closed = file.Close() == 0;
    return result == UpdateResult::kWritten && !closed ? UpdateResult::kFailed : result;
  });
}

AppendResult AppendCardAt(const platform::SharedFile& file, int32_t recordCount,
                          const PrepaidCard& card, const BeforeWrite& beforeWrite,
                          const AfterWrite& afterWrite) {
  if (recordCount < 0) return AppendResult::kFailed;
  RecordLock lock(file.fd(), recordCount);
  if (!lock.held()) return AppendResult::kFailed;
  const off_t size = file.Size();
  if (size < 0) return AppendResult::kFailed;
  if (size / static_cast<off_t>(kRecordSize) != recordCount) return AppendResult::kFileChanged;
  if (beforeWrite && !beforeWrite(PrepaidCard{}, card)) return AppendResult::kFailed;
  if (!WriteRecord(file, recordCount, card)) return AppendResult::kFailed;
  if (afterWrite) afterWrite(PrepaidCard{}, card);
  return AppendResult::kAppended;
}

UpdateResult ReplaceCardIf(const platform::SharedFile& file, int32_t index,
                           const std::function<bool(const PrepaidCard& now)>& expected,
                           const PrepaidCard& card) {
  if (index < 0) return UpdateResult::kOtherCard;
  RecordLock lock(file.fd(), index);
  if (!lock.held()) return UpdateResult::kFailed;
  const off_t size = file.Size();
  if (size < 0) return UpdateResult::kFailed;
  const off_t records = size / static_cast<off_t>(kRecordSize);
  PrepaidCard now{};
  if (index > records) return UpdateResult::kOtherCard;
  if (index < records && !ReadRecord(file, index, &now)) return UpdateResult::kFailed;
  if (!expected(now)) return UpdateResult::kUnchanged;
  return WriteRecord(file, index, card) ? UpdateResult::kWritten : UpdateResult::kFailed;
}

bool ReadCardUnlocked(const platform::SharedFile& file, int32_t index, PrepaidCard* card) {
  return index >= 0 && ReadRecord(file, index, card);
}

bool ReadCardLocked(const platform::SharedFile& file, int32_t index, PrepaidCard* card) {
  if (index < 0) return false;
  RecordLock lock(file.fd(), index);
  return lock.held() && ReadRecord(file, index, card);
}

bool WriteCardLocked(const platform::SharedFile& file, int32_t index, const PrepaidCard& card,
                     const AfterWrite& afterWrite, const BeforeWrite& beforeWrite) {
  if (index < 0) return false;
  RecordLock lock(file.fd(), index);
  if (!lock.held()) return false;
  PrepaidCard before{};
  if ((afterWrite || beforeWrite) && !ReadRecord(file, index, &before)) before = PrepaidCard{};
  if (beforeWrite && !beforeWrite(before, card)) return false;
  if (!WriteRecord(file, index, card)) return false;
  if (afterWrite) afterWrite(before, card);
  return true;
}

}  // namespace store
