// An index of PREPAID.DAT for the import: card number -> position of its first record.
//
// Built in one pass over the file, stepping over its holes; kept up to date as the import
// appends cards, and extended by the records another process appended when the file has grown.
// An open-addressing hash table of (card number, position) pairs, 8 bytes a slot, sized for a
// load of 2/3 and grown when the load passes 3/4: about 12 bytes per distinct card number,
// however long the file.
#ifndef LINDAVOX_STORE_CARD_INDEX_H
#define LINDAVOX_STORE_CARD_INDEX_H

#include <cstdint>
#include <vector>

#include "platform/share.h"

namespace store {

class CardIndex {
 public:
  // Indexes every whole record of `file` anew; false on a read error.
  bool Build(const platform::SharedFile& file);
  // Indexes the whole records beyond those known (rebuilds when the file has shrunk);
  // false on a read error.
  bool Refresh(const platform::SharedFile& file);
  // The position of the first record of `cardNumber`, or -1.
  int32_t Find(int32_t cardNumber) const;
  // Records that the import appended `cardNumber` as record recordCount().
  void AddAppended(int32_t cardNumber);
  // The number of whole records indexed.
  int32_t recordCount() const { return recordCount_; }

 private:
  struct Slot {
    int32_t card;
    int32_t index;  // -1: empty
  };
  size_t SlotOf(int32_t cardNumber) const;
  // Adds the record unless the card already has an earlier one.
  void Insert(int32_t cardNumber, int32_t index);
  void Reserve(size_t cards);
  bool IndexFrom(const platform::SharedFile& file, int32_t firstRecord);

  std::vector<Slot> slots_;
  size_t used_ = 0;
  int32_t recordCount_ = 0;
};

}  // namespace store

#endif
