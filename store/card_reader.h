// Reading every record of PREPAID.DAT in file order, one block of records in memory at a time,
// so a card file of any size is read with the same small amount of memory. Holes (parts of a
// sparse file never written) hold no cards: they are stepped over unread, and counted, so a
// card file of gigabytes that holds a few cards is read as fast as those cards.
#ifndef LINDAVOX_STORE_CARD_READER_H
#define LINDAVOX_STORE_CARD_READER_H

#include <cstdint>
#include <memory>

#include "platform/share.h"
#include "store/prepaid.h"

namespace store {

class CardReader {
 public:
  CardReader();
  ~CardReader();
  CardReader(const CardReader&) = delete;
  CardReader& operator=(const CardReader&) = delete;

  // Opens the PREPAID.DAT of `dataDir` shared for reading, like every store access. Returns 0 or
  // an errno value (ENOENT when it is missing, platform::kNotRegularFile for a folder or pipe).
  int Open(const char* dataDir);

  // The next whole record and its position in `*index`. False at the end of the whole records
  // or on a read error, which error() then tells.
  bool Next(PrepaidCard* card, int64_t* index);

  // The errno value of a read that failed; 0 when the reader came to the end.
  int error() const { return error_; }
  // The bytes after the last whole record, once Next has come to the end.
  int64_t trailingBytes() const { return trailing_; }
  // The records stepped over in holes so far.
  int64_t holeRecords() const { return holes_; }

 private:
  size_t NextReadSize();
  bool Fill();

  platform::SharedFile file_;
  std::unique_ptr<unsigned char[]> block_;
  size_t inBlock_ = 0;    // whole records in the block
  size_t next_ = 0;       // the next record of the block to give out
  int64_t position_ = 0;  // the position of block_[0]'s record
  off_t offset_ = 0;      // where the next block is read
  off_t size_ = 0;        // the file's size when it was opened: where holes may be
  off_t dataEnd_ = 0;     // where the data being read ends (a hole or the end of the file)
  bool atEnd_ = false;
  int error_ = 0;
  int64_t trailing_ = 0;
  int64_t holes_ = 0;
};

}  // namespace store

#endif
