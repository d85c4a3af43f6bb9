// Reading PREPAID.DAT many records at a time: the block the lookups, the import's card index,
// the report and the compaction read into, the holes of a sparse file, and a walk over every
// record for the operations that read the whole file.
#ifndef LINDAVOX_STORE_CARD_BLOCKS_H
#define LINDAVOX_STORE_CARD_BLOCKS_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

#include "platform/share.h"
#include "store/card_record.h"

namespace store {

// 16384 records (512 KiB), starting on a page. A scan costs the kernel's copy of the file's
// pages into the block and a pass over the block. The copy is slower into a buffer that starts
// inside a cache line (as the heap hands them out). The pass is cheapest while the block is
// still in the processor's second-level cache: the block and the file pages it was copied from
// fit into 1 MiB. Blocks of 1 MiB are passed over from the third level, a few percent of a
// lookup more; blocks of 128 KiB and less make so many system calls that they cost more.
//
// The block comes from plain malloc and is put on a page by hand. glibc maps an allocation this
// large afresh, and unmaps it on free, until a free teaches it to keep blocks of that size on
// its heap; an aligned allocation always asks for a little more than the block it freed, so it
// never learns, and every scan would pay a page fault for each of the block's pages (in a
// virtual machine, more than the read of a million cards costs). With plain malloc the scans
// after a process's first one reuse the pages of the one before.
class CardBlock {
 public:
  static constexpr size_t kRecords = 16384;
  static constexpr size_t kBytes = kRecords * kRecordSize;

  CardBlock() : raw_(static_cast<unsigned char*>(std::malloc(kBytes + kPage))) {}
  // The block's kBytes bytes; null when the memory could not be had.
  unsigned char* data() const {
    if (!raw_) return nullptr;
    const auto at = reinterpret_cast<uintptr_t>(raw_.get());
    return raw_.get() + (kPage - at % kPage) % kPage;
  }

 private:
  static constexpr size_t kPage = 4096;
  struct Free {
    void operator()(unsigned char* bytes) const { std::free(bytes); }
  };
  std::unique_ptr<unsigned char, Free> raw_;
};

// The number of whole records from `offset` on that lie in a hole of the file: never written,
// read as zeros without being stored. A write far beyond the end leaves such a hole (a card file
// of 64 GiB that holds a few kilobytes), and a scan steps over it instead of reading it. 0
// where data follows at once, at or beyond `size` (the file's size), or where the file system
// cannot tell.
int64_t HoleRecordsAt(const platform::SharedFile& file, off_t offset, off_t size);

// Where the data from `offset` on ends: at the next hole, or at `size`. Up to there a scan
// reads without asking again, so a file without holes costs one question, not one per block.
off_t DataEndFrom(const platform::SharedFile& file, off_t offset, off_t size);

// Receives `count` whole records, 32 bytes each, in file order; returns false to stop.
using RecordBlockVisit = std::function<bool(const unsigned char* records, size_t count)>;

// Reads `file` from its start to its end and hands every whole record to `visit`, a block at a
// time; a trailing piece of fewer than 32 bytes is not handed on. Holes are stepped over: their
// records are all zero, with no card number and no units, so this serves only callers that pass
// over cards without units. Records that another process appends during the pass are read too.
// Returns true when the end was reached; false on a read error (errno set), when the block
// could not be had (ENOMEM) or when `visit` stopped.
bool ForEachRecordBlock(const platform::SharedFile& file, const RecordBlockVisit& visit);

}  // namespace store

#endif
