// A block for reading PREPAID.DAT many records at a time, as the lookups and the import's card
// index do.
#ifndef LINDAVOX_STORE_CARD_BLOCK_H
#define LINDAVOX_STORE_CARD_BLOCK_H

#include <cstddef>
#include <cstdlib>
#include <memory>

#include "store/card_record.h"

namespace store {

// 32768 records (1 MiB), starting on a page. How fast the kernel copies file pages into the
// block decides what a scan of the file costs: into a buffer that starts inside a cache line
// (as the heap hands them out) it copies up to twice as slowly, and blocks of 256 KiB cost a
// third more than blocks of 1 MiB. Larger blocks gain nothing more.
class CardBlock {
 public:
  static constexpr size_t kRecords = 32768;
  static constexpr size_t kBytes = kRecords * kRecordSize;

  CardBlock() : bytes_(static_cast<unsigned char*>(std::aligned_alloc(kPage, kBytes))) {}
  // The block's kBytes bytes; null when the memory could not be had.
  unsigned char* data() const { return bytes_.get(); }

 private:
  static constexpr size_t kPage = 4096;
  struct Free {
    void operator()(unsigned char* bytes) const { std::free(bytes); }
  };
  std::unique_ptr<unsigned char, Free> bytes_;
};

}  // namespace store

#endif
