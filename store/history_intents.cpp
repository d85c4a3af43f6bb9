#include "store/history_intents.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/file_io.h"
#include "platform/little_endian.h"
#include "store/card_record.h"
#include "store/record_update.h"
#include "store/store_internal.h"
#include "util/file_open_internal.h"

namespace store {
namespace {

constexpr unsigned char kInUse[4] = {'L', 'V', 'H', 'I'};
// Offsets within a slot.
constexpr size_t kChecksum = 4, kIndex = 8, kBefore = 12, kAfter = kBefore + kRecordSize,
                 kHistory = kAfter + kRecordSize, kLineLength = kHistory + 24,
                 kLine = kLineLength + 4;
constexpr size_t kMaxLine = kSlotSize - kLine;

int Errno() { return errno != 0 ? errno : EIO; }

// FNV-1a over the slot after its checksum, so a slot half written or written by anything else
// is never taken for an intent.
uint32_t Checksum(const unsigned char* slot, size_t size) {
  uint32_t hash = 2166136261u;
  for (size_t i = kIndex; i < size; ++i) hash = (hash ^ slot[i]) * 16777619u;
  return hash;
}

// An OFD write lock on one slot's bytes, tried once.
bool LockSlot(int fd, int slot, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(slot) * static_cast<off_t>(kSlotSize);
  lock.l_len = static_cast<off_t>(kSlotSize);
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

struct Intent {
  int32_t index = 0;
  PrepaidCard before{}, after{};
  HistoryStamp history;
  std::string line;  // with its '\n'
};

// The intent in the `size` bytes read of a slot; nullopt for a free or damaged slot.
std::optional<Intent> ReadIntent(const unsigned char* slot, size_t size) {
  if (size < kLine || std::memcmp(slot, kInUse, sizeof kInUse) != 0) return std::nullopt;
  const uint32_t length = platform::LoadLE32(slot + kLineLength);
  if (length == 0 || length > size - kLine ||
      platform::LoadLE32(slot + kChecksum) != Checksum(slot, kLine + length)) {
    return std::nullopt;
  }
  Intent intent;
  intent.index = platform::LoadLE32Signed(slot + kIndex);
  DecodeCard(slot + kBefore, &intent.before);
  DecodeCard(slot + kAfter, &intent.after);
  intent.history = {platform::LoadLE64(slot + kHistory), platform::LoadLE64(slot + kHistory + 8),
                    platform::LoadLE64(slot + kHistory + 16)};
  intent.line.assign(reinterpret_cast<const char*>(slot + kLine), length);
  return intent;
}

// The record the card file holds at `index` now (all zeros beyond its end); false when it
// cannot be read.
bool RecordNow(const std::string& dataDir, int32_t index, PrepaidCard* now) {
  *now = PrepaidCard{};
  const std::string path = StorePath(dataDir.c_str(), "PREPAID.DAT");
  if (!StoreFileExists(path)) return true;
  platform::SharedFile file;
  if (util::OpenAsFopen(path, "rb+", false, &file) != 0) return false;
  const off_t size = file.Size();
  if (size < 0) return false;
  if (size < (static_cast<off_t>(index) + 1) * static_cast<off_t>(kRecordSize)) return true;
  return ReadCardLocked(file, index, now);
}

enum class Outcome { kListed, kMade, kNotMade, kUncertain, kUnknown };

// Whether the change of `intent` was made (see history_intents.h).
Outcome Decide(const std::string& dataDir, const Intent& intent) {
  const std::string_view line(intent.line.data(), intent.line.size() - 1);
  bool listed = false;
  std::optional<HistoryEntry> later;
  if (ReadHistorySince(dataDir.c_str(), intent.history, [&](std::string_view text) {
        HistoryEntry entry;
        if (text == line) {
          listed = true;
          return false;
        }
        if (!later && ParseHistoryLine(text, &entry) && entry.card == intent.after.cardNumber) {
          later = entry;
        }
        return true;
      }) != 0) {
    return Outcome::kUnknown;
  }
  if (listed) return Outcome::kListed;
  PrepaidCard now{};
  if (!RecordNow(dataDir, intent.index, &now)) return Outcome::kUnknown;
  const PrepaidCard& before = intent.before;
  const PrepaidCard& after = intent.after;
  if (SameCardBytes(now, after)) return Outcome::kMade;
  if (SameCardBytes(now, before)) return Outcome::kNotMade;
  if (later) {
    const bool fromAfter =
        later->balanceBefore == after.balance && later->lockedBefore == CardLocked(after);
    const bool fromBefore =
        later->balanceBefore == before.balance && later->lockedBefore == CardLocked(before);
    if (fromAfter != fromBefore) return fromAfter ? Outcome::kMade : Outcome::kNotMade;
  }
  if (now.cardNumber == after.cardNumber &&
      (CardLocked(before) != CardLocked(after) || !SameTelefon(before, after))) {
    const bool likeAfter = CardLocked(now) == CardLocked(after) && SameTelefon(now, after);
    const bool likeBefore = CardLocked(now) == CardLocked(before) && SameTelefon(now, before);
    if (likeAfter != likeBefore) return likeAfter ? Outcome::kMade : Outcome::kNotMade;
  }
  return Outcome::kUncertain;
}

}  // namespace

HistoryIntents::HistoryIntents(const char* dataDir)
    : dataDir_(dataDir), path_(StorePath(dataDir, kIntentsName)) {}

int HistoryIntents::OpenFile(bool create) {
  if (fd_) return 0;
  std::string file;
  struct stat status {};
  return OpenHistoryFile(path_, O_RDWR | (create ? O_CREAT : 0), &file, &fd_, &status);
}

int HistoryIntents::Settle(CardHistory* history) {
  if (const int error = OpenFile(false); error != 0) return error == ENOENT ? 0 : error;
  // One read finds the slots in use; only those are locked and read again.
  struct stat status {};
  if (::fstat(fd_.get(), &status) != 0) return Errno();
  std::vector<unsigned char> slots(
      std::min(static_cast<size_t>(std::max<off_t>(status.st_size, 0)), kSlots * kSlotSize));
  const ssize_t got = platform::ReadAll(fd_.get(), slots.data(), slots.size(), path_, 0);
  if (got < 0) return Errno();
  int result = 0;
  for (int slot = 0; slot < kSlots; ++slot) {
    const size_t start = static_cast<size_t>(slot) * kSlotSize;
    if (start + sizeof kInUse > static_cast<size_t>(got)) break;
    if (std::memcmp(&slots[start], kInUse, sizeof kInUse) != 0) continue;
    if (!LockSlot(fd_.get(), slot, F_WRLCK)) continue;  // its writer is at work
    unsigned char bytes[kSlotSize] = {};
    const off_t at = static_cast<off_t>(start);
    const ssize_t read = platform::ReadAll(fd_.get(), bytes, sizeof bytes, path_, at);
    const std::optional<Intent> intent =
        read > 0 ? ReadIntent(bytes, static_cast<size_t>(read)) : std::nullopt;
    bool settled = true;
    if (intent) {
      switch (Decide(dataDir_, *intent)) {
        case Outcome::kListed:
        case Outcome::kNotMade:
          break;
        case Outcome::kMade:
          settled = history->Append(intent->line);
          break;
        case Outcome::kUncertain: {
          HistoryEntry entry;
          settled = ParseHistoryLine(std::string_view(intent->line.data(), intent->line.size() - 1),
                                     &entry);
          entry.detail += kUncertainRemark;
          settled = settled && history->Append(FormatHistoryLine(entry));
          break;
        }
        case Outcome::kUnknown:
          settled = false;
          break;
      }
    }
    if (!settled || !FreeSlot(slot)) {
      result = result != 0 ? result : Errno();
    }
    LockSlot(fd_.get(), slot, F_UNLCK);
  }
  return result;
}

int HistoryIntents::Announce(int32_t index, const PrepaidCard& before, const PrepaidCard& after,
                             const HistoryStamp& history, const std::string& line) {
  if (line.size() > kMaxLine || line.empty()) return E2BIG;
  if (const int error = OpenFile(true); error != 0) return error;
  unsigned char bytes[kSlotSize] = {};
  std::memcpy(bytes, kInUse, sizeof kInUse);
  platform::StoreLE32(bytes + kIndex, index);
  EncodeCard(before, bytes + kBefore);
  EncodeCard(after, bytes + kAfter);
  platform::StoreLE64(bytes + kHistory, history.device);
  platform::StoreLE64(bytes + kHistory + 8, history.inode);
  platform::StoreLE64(bytes + kHistory + 16, history.size);
  platform::StoreLE32(bytes + kLineLength, static_cast<uint32_t>(line.size()));
  std::memcpy(bytes + kLine, line.data(), line.size());
  platform::StoreLE32(bytes + kChecksum, Checksum(bytes, kLine + line.size()));
  for (int slot = 0; slot < kSlots; ++slot) {
    if (!LockSlot(fd_.get(), slot, F_WRLCK)) continue;
    const off_t at = static_cast<off_t>(slot) * static_cast<off_t>(kSlotSize);
    unsigned char mark[sizeof kInUse] = {};
    // A slot in use that nobody holds waits for Settle, which looks at the card file.
    if (platform::ReadAll(fd_.get(), mark, sizeof mark, path_, at) >= 0 &&
        std::memcmp(mark, kInUse, sizeof kInUse) != 0) {
      if (!platform::WriteAll(fd_.get(), bytes, kLine + line.size(), path_, at)) {
        const int error = Errno();
        LockSlot(fd_.get(), slot, F_UNLCK);
        return error;
      }
      claimed_ = slot;
      return 0;
    }
    LockSlot(fd_.get(), slot, F_UNLCK);
  }
  return EBUSY;
}

bool HistoryIntents::FreeSlot(int slot) {
  static constexpr unsigned char kFree[sizeof kInUse] = {};
  return platform::WriteAll(fd_.get(), kFree, sizeof kFree, path_,
                            static_cast<off_t>(slot) * static_cast<off_t>(kSlotSize));
}

void HistoryIntents::Done() {
  if (claimed_ < 0) return;
  FreeSlot(claimed_);
  LockSlot(fd_.get(), claimed_, F_UNLCK);
  claimed_ = -1;
}

}  // namespace store
