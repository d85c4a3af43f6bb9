// Going over every record of PREPAID.DAT in large blocks, for the operations that read the
// whole card file (the report and the compaction).
#ifndef LINDAVOX_STORE_CARD_BLOCKS_H
#define LINDAVOX_STORE_CARD_BLOCKS_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/share.h"

namespace store {

// The number of whole records from `offset` on that lie in a hole of the file: never written,
// read as zeros without being stored. A write far beyond the end leaves such a hole (a card file
// of 64 GiB that holds a few kilobytes), and a scan steps over it instead of reading it. 0
// where data follows at once, or where the file system cannot tell. `size`: the file's size.
int64_t HoleRecordsAt(const platform::SharedFile& file, off_t offset, off_t size);

// The most bytes ForEachRecordBlock hands on at once: 32768 records, 1 MiB, few enough reads
// to cost nothing beside the copying.
inline constexpr size_t kRecordBlockSize = 32768 * 32;

// Receives `count` whole records, 32 bytes each, in file order; returns false to stop.
using RecordBlockVisit = std::function<bool(const unsigned char* records, size_t count)>;

// Reads `file` from its start to its end and hands every whole record to `visit`, a block at a
// time; a trailing piece of fewer than 32 bytes is not handed on. Holes are stepped over: their
// records are all zero, with no card number and no units, so this serves only callers that pass
// over cards without units. Records that another process appends during the pass are read too.
// Returns true when the end was reached; false on a read error (errno set) or when `visit`
// stopped.
bool ForEachRecordBlock(const platform::SharedFile& file, const RecordBlockVisit& visit);

}  // namespace store

#endif
