#include "tools/charge_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/backoff.h"
#include "platform/file_io.h"
#include "platform/little_endian.h"
#include "platform/share.h"
#include "store/card_record.h"
#include "store/record_update.h"
#include "store/store_internal.h"
#include "util/file_open_internal.h"

namespace standin {
namespace {

// The state file's entry:
//   0  8  "LVSTJ001"
//   8  4  1 while a charge is pending, else 0
//  12  4  card number      16  4  record index      20  4  units
//  24 32  the record as read
//  56 32  the record as it is being written
//  88  8  the journal's length before the charge's line
//  96  4  FNV-1a checksum of bytes 0 to 95
constexpr char kMagic[8] = {'L', 'V', 'S', 'T', 'J', '0', '0', '1'};
constexpr size_t kStateSize = 100;
constexpr size_t kChecked = 96;

uint32_t Fnv1a(const unsigned char* bytes, size_t size) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

// The length of the journal up to and including its last line end.
off_t CompleteLength(int fd, const std::string& path) {
  struct stat status;
  if (platform::StatOpenFile(fd, path, &status) != 0) return -1;
  off_t end = status.st_size;
  char byte = 0;
  while (end > 0) {
    if (platform::ReadAll(fd, &byte, 1, path, end - 1) != 1) return -1;
    if (byte == '\n') break;
    --end;
  }
  return end;
}

}  // namespace

int ChargeJournal::Open(const std::string& path, const std::string& dataDir) {
  path_ = path;
  statePath_ = path + ".pending";
  dataDir_ = dataDir;
  int error = platform::OpenRegularFile(path_, O_RDWR | O_CREAT, 0644, &journal_);
  if (error == 0) error = platform::OpenRegularFile(statePath_, O_RDWR | O_CREAT, 0644, &state_);
  if (error != 0) return error;
  // A kill in the middle of a line leaves a piece without its line end: it is cut off, and the
  // charge it was about to journal is settled from the state file like any other.
  const off_t complete = CompleteLength(journal_.get(), path_);
  if (complete < 0 || ftruncate(journal_.get(), complete) != 0) return errno ? errno : EIO;
  if (lseek(journal_.get(), 0, SEEK_END) < 0) return errno;
  length_ = complete;
  PendingCharge left;
  if (ReadState(&left)) {
    pending_ = left;
    // A journal that grew past the note holds the charge's line already.
    if (!(complete > left.journalLength ? WriteState(false) : SettleFromRecord(left))) {
      return EIO;
    }
  }
  return 0;
}

bool ChargeJournal::NotePending(const PendingCharge& charge) {
  pending_ = charge;
  pending_.journalLength = length_;
  return WriteState(true);
}

bool ChargeJournal::Charged() {
  return Append("charge", pending_.card, pending_.units) && WriteState(false);
}

bool ChargeJournal::NotWritten() { return WriteState(false); }

bool ChargeJournal::Settle() { return SettleFromRecord(pending_); }

bool ChargeJournal::SettleFromRecord(const PendingCharge& charge) {
  // The card file may be held by a compaction for a moment.
  platform::SharedFile cards;
  platform::Backoff wait(std::chrono::seconds(5));
  while (util::OpenAsFopen(store::StorePath(dataDir_.c_str(), "PREPAID.DAT"), "rb+", false,
                           &cards) != 0) {
    if (!wait.Wait()) return false;
  }
  // The card's record: where it was, or, after a compaction moved the cards, where it is now.
  const auto read = [&](int32_t index, PrepaidCard* now) {
    return store::ReadCardLocked(cards, index, now) && now->cardNumber == charge.card;
  };
  PrepaidCard now{};
  bool present = read(charge.index, &now);
  if (!present) {
    int32_t index = 0;
    PrepaidCard found{};
    Prepaid_Search(dataDir_.c_str(), charge.card, &index, &found);  // also finds a locked card
    present = read(index, &now);
  }
  cards.Close();
  const char* kind = nullptr;
  if (present && store::SameCardBytes(now, charge.after)) {
    kind = "charge";
  } else if (!present || !store::SameCardBytes(now, charge.before)) {
    kind = "unresolved";  // changed by somebody since: either could be true
  }
  if (kind && !Append(kind, charge.card, charge.units)) return false;
  return WriteState(false);
}

bool ChargeJournal::Append(const char* kind, int32_t card, int32_t units) {
  char line[64];
  const int length = std::snprintf(line, sizeof line, "%s %d %d\n", kind, card, units);
  if (!platform::WriteAll(journal_.get(), line, static_cast<size_t>(length), path_)) {
    // No piece of a line stays behind to run into the next one.
    if (ftruncate(journal_.get(), length_) == 0) lseek(journal_.get(), length_, SEEK_SET);
    return false;
  }
  length_ += length;
  return true;
}

bool ChargeJournal::WriteState(bool pending) {
  unsigned char entry[kStateSize] = {};
  std::memcpy(entry, kMagic, sizeof kMagic);
  platform::StoreLE32(entry + 8, pending ? 1u : 0u);
  platform::StoreLE32(entry + 12, static_cast<uint32_t>(pending_.card));
  platform::StoreLE32(entry + 16, static_cast<uint32_t>(pending_.index));
  platform::StoreLE32(entry + 20, static_cast<uint32_t>(pending_.units));
  platform::StoreLE32(entry + 88, static_cast<uint32_t>(pending_.journalLength));
  platform::StoreLE32(entry + 92, static_cast<uint32_t>(pending_.journalLength >> 32));
  store::EncodeCard(pending_.before, entry + 24);
  store::EncodeCard(pending_.after, entry + 56);
  platform::StoreLE32(entry + kChecked, Fnv1a(entry, kChecked));
  return platform::WriteAll(state_.get(), entry, sizeof entry, statePath_, 0);
}

bool ChargeJournal::ReadState(PendingCharge* charge) {
  unsigned char entry[kStateSize];
  if (platform::ReadAll(state_.get(), entry, sizeof entry, statePath_, 0) !=
      static_cast<ssize_t>(sizeof entry)) {
    return false;
  }
  if (std::memcmp(entry, kMagic, sizeof kMagic) != 0 ||
      platform::LoadLE32(entry + kChecked) != Fnv1a(entry, kChecked) ||
      platform::LoadLE32(entry + 8) != 1u) {
    return false;
  }
  charge->card = static_cast<int32_t>(platform::LoadLE32(entry + 12));
  charge->index = static_cast<int32_t>(platform::LoadLE32(entry + 16));
  charge->units = static_cast<int32_t>(platform::LoadLE32(entry + 20));
  charge->journalLength = static_cast<off_t>(platform::LoadLE32(entry + 88)) |
                          static_cast<off_t>(platform::LoadLE32(entry + 92)) << 32;
  store::DecodeCard(entry + 24, &charge->before);
  store::DecodeCard(entry + 56, &charge->after);
  return true;
}

bool ChargeJournal::Totals(const std::string& path, std::map<int32_t, int64_t>* units,
                           int64_t* unresolved) {
  std::FILE* file = std::fopen(path.c_str(), "re");
  if (!file) return false;
  char kind[16];
  int32_t card = 0, count = 0;
  while (std::fscanf(file, "%15s %d %d", kind, &card, &count) == 3) {
    if (std::strcmp(kind, "charge") == 0) {
      (*units)[card] += count;
    } else {
      ++*unresolved;
    }
  }
  const bool read = std::ferror(file) == 0;
  std::fclose(file);
  return read;
}

}  // namespace standin
