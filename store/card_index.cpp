#include "store/card_index.h"

#include <algorithm>

#include "platform/little_endian.h"
#include "store/card_blocks.h"
#include "store/card_record.h"
#include "store/store_internal.h"

namespace store {
namespace {

constexpr size_t kMinSlots = 1024;

// Slots for `cards` cards at a load of 2/3, leaving room for cards appended later.
size_t SlotsFor(size_t cards) { return std::max(kMinSlots, cards + cards / 2 + 16); }

}  // namespace

size_t CardIndex::SlotOf(int32_t cardNumber) const {
  // Fibonacci hashing spreads consecutive card numbers; the high half is mapped onto the table
  // size by a multiplication instead of a division.
  const uint64_t hash =
      (static_cast<uint64_t>(static_cast<uint32_t>(cardNumber)) * 0x9E3779B97F4A7C15ull) >> 32;
  return static_cast<size_t>((hash * slots_.size()) >> 32);
}

void CardIndex::Reserve(size_t cards) {
  if (cards * 4 <= slots_.size() * 3) return;
  std::vector<Slot> old;
  old.swap(slots_);
  slots_.assign(SlotsFor(cards), Slot{0, -1});
  used_ = 0;
  // Re-inserting in any order keeps the first record of each card: positions are unique.
  for (const Slot& slot : old) {
    if (slot.index >= 0) Insert(slot.card, slot.index);
  }
}

void CardIndex::Insert(int32_t cardNumber, int32_t index) {
  for (size_t i = SlotOf(cardNumber);; i = i + 1 == slots_.size() ? 0 : i + 1) {
    Slot& slot = slots_[i];
    if (slot.index < 0) {
      slot = Slot{cardNumber, index};
      ++used_;
      return;
    }
    if (slot.card == cardNumber) {
      if (index < slot.index) slot.index = index;
      return;
    }
  }
}

int32_t CardIndex::Find(int32_t cardNumber) const {
  if (slots_.empty()) return -1;
  for (size_t i = SlotOf(cardNumber);; i = i + 1 == slots_.size() ? 0 : i + 1) {
    const Slot& slot = slots_[i];
    if (slot.index < 0) return -1;
    if (slot.card == cardNumber) return slot.index;
  }
}

void CardIndex::AddAppended(int32_t cardNumber) {
  Reserve(used_ + 1);
  Insert(cardNumber, recordCount_++);
}

bool CardIndex::Build(const platform::SharedFile& file) {
  slots_.clear();
  used_ = 0;
  recordCount_ = 0;
  // Sized as the cards come, not by the file's length, which says nothing about the cards of a
  // file with holes.
  return IndexFrom(file, 0);
}

bool CardIndex::Refresh(const platform::SharedFile& file) {
  const off_t size = file.Size();
  if (size < 0) return false;
  const off_t records = size / static_cast<off_t>(kRecordSize);
  if (records < recordCount_) return Build(file);
  if (records == recordCount_) return true;
  return IndexFrom(file, recordCount_);
}

// A hole holds empty records (card 0, as a lookup finds them there): only its first one can be
// a card's first record, so it is indexed as that and the rest is stepped over unread. Records
// beyond the highest index are not indexed (no index names them).
bool CardIndex::IndexFrom(const platform::SharedFile& file, int32_t firstRecord) {
  const off_t size = file.Size();
  const CardBlock block;
  if (size < 0 || !block.data()) return false;
  int64_t position = firstRecord;
  off_t dataEnd = 0;  // where the data being read ends (a hole or the end of the file)
  for (;;) {
    off_t offset = static_cast<off_t>(position) * static_cast<off_t>(kRecordSize);
    if (offset >= dataEnd && offset < size) {
      if (const int64_t hole = HoleRecordsAt(file, offset, size); hole > 0) {
        Reserve(used_ + 1);
        Insert(0, static_cast<int32_t>(std::min<int64_t>(position, kLastIndex)));
        position += hole;
        offset = static_cast<off_t>(position) * static_cast<off_t>(kRecordSize);
      }
      dataEnd = DataEndFrom(file, offset, size);
    }
    if (position > kLastIndex) break;
    const ssize_t got = file.ReadAt(block.data(), CardBlock::kBytes, offset);
    if (got < 0) return false;
    const size_t records = std::min<size_t>(static_cast<size_t>(got) / kRecordSize,
                                            static_cast<size_t>(kLastIndex + 1 - position));
    Reserve(used_ + records);
    for (size_t i = 0; i < records; ++i) {
      Insert(platform::LoadLE32Signed(block.data() + i * kRecordSize + field::kCardNumber),
             static_cast<int32_t>(position + static_cast<int64_t>(i)));
    }
    position += static_cast<int64_t>(records);
    if (records < CardBlock::kRecords) break;
  }
  recordCount_ = static_cast<int32_t>(std::min<int64_t>(position, kLastIndex));
  return true;
}

}  // namespace store
