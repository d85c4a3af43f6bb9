// Lookups in PREPAID.DAT: by card number and by telephone number.
//
// A lookup reads the file from its start in large blocks and scans the records of each block
// in file order; the first matching record decides. Reading whole blocks instead of one record
// per call keeps a lookup of a million cards close to the cost of reading the file once.
#include <sys/stat.h>

#include <memory>
#include <new>

#include "platform/c_boundary.h"
#include "platform/little_endian.h"
#include "store/card_record.h"
#include "store/store_internal.h"
#include "util/file_open_internal.h"

namespace store {
namespace {

// 8192 records a block: large enough to make the per-read cost vanish, small enough to stay
// in the processor's cache while it is scanned.
constexpr size_t kRecordsPerBlock = 8192;
constexpr size_t kBlockSize = kRecordsPerBlock * kRecordSize;

bool IsLocked(const unsigned char* record) {
  return (platform::LoadLE32(record + field::kFlags) & PREPAID_CARD_LOCKED) != 0;
}

// The position of the first record in `records` records at `block` that `matches`, or
// `records` when none does. Groups of eight records are tested without branching, which lets
// the processor run through the block at the speed of its loads.
template <typename Match>
size_t FindFirst(const unsigned char* block, size_t records, const Match& matches) {
  constexpr size_t kGroup = 8;
  size_t i = 0;
  for (; i + kGroup <= records; i += kGroup) {
    bool any = false;
    for (size_t k = 0; k < kGroup; ++k) any |= matches(block + (i + k) * kRecordSize);
    if (any) break;
  }
  for (; i < records; ++i) {
    if (matches(block + i * kRecordSize)) return i;
  }
  return records;
}

// Scans PREPAID.DAT for the first record that `matches`. Counts the records before it in
// `*index`; on a match that is not locked copies it to `*card` and returns 1.
template <typename Match>
int32_t ScanCards(const char* dataDir, int32_t* index, PrepaidCard* card, const Match& matches) {
  *index = 0;
  const std::string path = StorePath(dataDir, "PREPAID.DAT");
  if (!StoreFileExists(path)) return 0;
  platform::SharedFile file;
  if (util::OpenAsFopen(path, "rb", false, &file) != 0) return 0;
  std::unique_ptr<unsigned char[]> block(new unsigned char[kBlockSize]);
  off_t offset = 0;
  for (;;) {
    const ssize_t got = file.ReadAt(block.get(), kBlockSize, offset);
    if (got <= 0) return 0;
    const size_t records = static_cast<size_t>(got) / kRecordSize;
    const size_t found = FindFirst(block.get(), records, matches);
    *index += static_cast<int32_t>(found);
    if (found < records) {
      const unsigned char* record = block.get() + found * kRecordSize;
      if (IsLocked(record)) return 0;
      DecodeCard(record, card);
      return 1;
    }
    if (static_cast<size_t>(got) < kBlockSize) return 0;  // end of file, trailing piece ignored
    offset += got;
  }
}

}  // namespace

bool StoreFileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int32_t SearchTelefon(const char* dataDir, uint8_t enabled, int32_t telefonLow, int32_t telefonHigh,
                      int32_t* index, PrepaidCard* card, TelefonMatch match) {
  if (!dataDir || !index || !card) return 0;
  if (!enabled) return 0;
  const bool withUnitsOnly = match == TelefonMatch::kWithUnitsOnly;
  return platform::CallNoThrow<int32_t>(0, [&] {
    return ScanCards(dataDir, index, card, [=](const unsigned char* record) {
      return platform::LoadLE32Signed(record + field::kTelefonLow) == telefonLow &&
             platform::LoadLE32Signed(record + field::kTelefonHigh) == telefonHigh &&
             (!withUnitsOnly || platform::LoadLE32Signed(record + field::kBalance) != 0);
    });
  });
}

}  // namespace store

int32_t Prepaid_Search(const char* dataDir, int32_t cardNumber, int32_t* index, PrepaidCard* card) {
  if (!dataDir || !index || !card) return 0;
  if (cardNumber == -1) return 0;
  return platform::CallNoThrow<int32_t>(0, [&] {
    return store::ScanCards(dataDir, index, card, [=](const unsigned char* record) {
      return platform::LoadLE32Signed(record + store::field::kCardNumber) == cardNumber;
    });
  });
}
