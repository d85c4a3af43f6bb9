// Lookups in PREPAID.DAT: by card number and by telephone number.
//
// A lookup reads the file from its start in large blocks and scans the records of each block
// in file order; the first matching record decides. Reading whole blocks instead of one record
// per call, and passing over each block with vector compares of one field, keeps a lookup of a
// million cards close to the cost of reading the file once.
//
// The file is read, not mapped. A mapping would spare the copy into the block, but another
// process that cuts the file short meanwhile turns every access beyond the new end into SIGBUS
// in the program that looks the card up, the telephony server among them, and only a
// process-wide handler, shared with the host's other threads, could catch it. Mapping was also
// measured slower than reading where the page cache holds the file in small pages.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// Four 32-bit numbers compared at once: one instruction on x86-64 (SSE2) and 64-bit ARM (NEON),
// plain code elsewhere.
using Lanes = uint32_t __attribute__((vector_size(16)));

constexpr size_t kGroup = 8;

// What every record a lookup wants holds: `value` in the 32-bit field at byte `offset` of the
// record (a multiple of 4). A record that holds it need not match; one that does not cannot.
struct Filter {
  size_t offset;
  int32_t value;
};

// The first group of eight records from record `from` on, below record `end` (both multiples
// of eight), in which some record's field holds the filter's value; `end` when there is none.
// Each record costs one vector compare of 16 bytes, the field's lane among them, and the eight
// results are combined in a tree without a branch, so the pass runs at the speed of its loads.
// `block` starts on 16 bytes.
size_t NextCandidates(const unsigned char* block, size_t from, size_t end, Filter filter) {
  const size_t lane = filter.offset % 16 / 4;
  const unsigned char* const fields = block + (filter.offset - filter.offset % 16);
  unsigned char encoded[4];
  platform::StoreLE32(encoded, filter.value);
  uint32_t value = 0;  // the field's bytes as a load on this host sees them
  std::memcpy(&value, encoded, sizeof value);
  const Lanes wanted = {value, value, value, value};
  auto equal = [&](size_t record) {
    Lanes lanes;
    std::memcpy(&lanes, __builtin_assume_aligned(fields + record * kRecordSize, 16), sizeof lanes);
    return lanes == wanted;
  };
  for (size_t i = from; i < end; i += kGroup) {
    const auto any = ((equal(i) | equal(i + 1)) | (equal(i + 2) | equal(i + 3))) |
                     ((equal(i + 4) | equal(i + 5)) | (equal(i + 6) | equal(i + 7)));
    if (any[lane] != 0) return i;
  }
  return end;
}

// The first of `records` records at `block` (which starts on 16 bytes) that `matches`, or
// `records` when none does. Only the groups of eight that the filter lets through, and the
// last few records, are tested record by record.
template <typename Match>
size_t FindFirst(const unsigned char* block, size_t records, Filter filter, const Match& matches) {
  const size_t groups = records - records % kGroup;
  for (size_t i = 0; (i = NextCandidates(block, i, groups, filter)) < groups; i += kGroup) {
    for (size_t k = i; k < i + kGroup; ++k) {
      if (matches(block + k * kRecordSize)) return k;
    }
  }
  for (size_t i = groups; i < records; ++i) {
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
int32_t ScanCards(const char* dataDir, int32_t* index, PrepaidCard* card, Filter filter,
                  const Match& matches) {
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
    const size_t found = FindFirst(block.data(), records, filter, matches);
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
    const Filter filter{field::kTelefonLow, telefonLow};
    return ScanCards(dataDir, index, card, filter, [=](const unsigned char* record) {
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
    const store::Filter filter{store::field::kCardNumber, cardNumber};
    return store::ScanCards(dataDir, index, card, filter, [=](const unsigned char* record) {
      return platform::LoadLE32Signed(record + store::field::kCardNumber) == cardNumber;
    });
  });
}
