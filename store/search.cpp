// Lookups in PREPAID.DAT: by card number and by telephone number.
//
// A lookup reads the file from its start in large blocks and scans the records of each block
// in file order; the first matching record decides. Reading whole blocks instead of one record
// per call keeps a lookup of a million cards close to the cost of reading the file once.
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/c_boundary.h"
#include "platform/file_io.h"
#include "platform/little_endian.h"
#include "store/card_blocks.h"
#include "store/card_record.h"
#include "store/store_internal.h"
#include "util/file_open_internal.h"

namespace store {
namespace {

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

// What a scan that ended gives: the record at `position` matched (`record`), or none did and
// `position` is the number of whole records. A position no index can name gives the failure
// result with index -1, never a wrong index.
int32_t Report(int64_t position, const unsigned char* record, int32_t* index, PrepaidCard* card) {
  if (position > kLastIndex) {
    *index = -1;
    return 0;
  }
  *index = static_cast<int32_t>(position);
  if (!record || IsLocked(record)) return 0;
  DecodeCard(record, card);
  return 1;
}

// Scans PREPAID.DAT for the first record that `matches` and reports it (see Report). Positions
// are 64-bit: a file may hold more records than an index can name.
template <typename Match>
int32_t ScanCards(const char* dataDir, int32_t* index, PrepaidCard* card, const Match& matches) {
  *index = 0;
  const std::string path = StorePath(dataDir, "PREPAID.DAT");
  if (!StoreFileExists(path)) return 0;
  platform::SharedFile file;
  if (util::OpenAsFopen(path, "rb", false, &file) != 0) return 0;
  static const unsigned char kZeroRecord[kRecordSize] = {};
  const bool zeroRecordMatches = matches(kZeroRecord);
  const off_t size = file.Size();
  const CardBlock block;
  if (!block.data()) return 0;
  int64_t position = 0;  // records before `offset`
  off_t offset = 0;
  off_t dataEnd = 0;  // where the data being read ends (a hole or the end of the file)
  for (;;) {
    if (offset >= dataEnd && offset < size) {
      if (const int64_t hole = HoleRecordsAt(file, offset, size); hole > 0) {
        if (zeroRecordMatches) return Report(position, kZeroRecord, index, card);
        position += hole;
        offset += static_cast<off_t>(hole * kRecordSize);
      }
      dataEnd = DataEndFrom(file, offset, size);
    }
    if (position > kLastIndex) return Report(position, nullptr, index, card);
    const ssize_t got = file.ReadAt(block.data(), CardBlock::kBytes, offset);
    if (got < 0) {
      // A read that failed says nothing about the records behind it: no count to give.
      *index = 0;
      return 0;
    }
    const size_t records = static_cast<size_t>(got) / kRecordSize;
    const size_t found = FindFirst(block.data(), records, matches);
    if (found < records) {
      return Report(position + static_cast<int64_t>(found), block.data() + found * kRecordSize,
                    index, card);
    }
    position += static_cast<int64_t>(records);
    // The end of the file (a trailing piece is ignored).
    if (got < static_cast<ssize_t>(CardBlock::kBytes))
      return Report(position, nullptr, index, card);
    offset += got;
  }
}

}  // namespace

bool StoreFileExists(const std::string& path) { return platform::IsRegularFile(path); }

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
