// The card history's line of a single change (the card editor's save, a command-line order,
// a listed Prepaid_Write), listed exactly once also when its writer is killed between the card
// write and the line.
//
// Under the record's lock, right before the card write, the writer claims a slot of
// .PREPAID.HIS.pending beside the card file and writes into it what the change is: the record's
// position, the record before and after, where the history ended, and the line it will append.
// It holds an OFD lock on the slot's bytes while the change runs and frees the slot once the
// line is in the history. A slot still in use that nobody holds belongs to a writer that died;
// the next writer that opens the history settles it before its own change:
//   - the line is in the history since the noted place: nothing more;
//   - the record holds the value after: the change happened, the line is appended;
//   - it holds the value before: the change did not happen, nothing is listed;
//   - another program changed the card since: the first line listed for the card after the
//     noted place tells from its value before; without one, a change of the lock or the
//     telephone number tells from those fields, which a charge leaves alone. When nothing
//     tells, the line is appended with the remark kUncertainRemark in its detail, so the
//     operator sees the change and that it may not have been made.
//
// Slots are kSlotSize bytes: "LVHI", a checksum of the rest, the record's position, the record
// before and after, the history's device, inode and size, the line's length and the line.
#ifndef LINDAVOX_STORE_HISTORY_INTENTS_H
#define LINDAVOX_STORE_HISTORY_INTENTS_H

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/unique_fd.h"
#include "store/card_history.h"
#include "store/prepaid.h"

namespace store {

inline constexpr const char* kIntentsName = ".PREPAID.HIS.pending";
inline constexpr size_t kSlotSize = 1024;
inline constexpr int kSlots = 64;  // writers changing single cards at the same moment
inline constexpr const char* kUncertainRemark =
    " (writer killed; the change may not have been made)";

class HistoryIntents {
 public:
  explicit HistoryIntents(const char* dataDir);
  // A slot still claimed stays for the next writer to settle (the change's outcome unknown).
  ~HistoryIntents() = default;
  HistoryIntents(const HistoryIntents&) = delete;
  HistoryIntents& operator=(const HistoryIntents&) = delete;

  // Settles the slots of writers that died, appending through `history`. 0 or an errno value;
  // a slot that cannot be settled now stays for a later writer.
  int Settle(CardHistory* history);
  // Claims a free slot and writes the change into it (`line` ends with '\n'). 0 or an errno
  // value (EBUSY: every slot in use; E2BIG: a line too long for a slot).
  int Announce(int32_t index, const PrepaidCard& before, const PrepaidCard& after,
               const HistoryStamp& history, const std::string& line);
  // The claimed slot's line is in the history: the slot is free again.
  void Done();

 private:
  int OpenFile(bool create);
  bool FreeSlot(int slot);  // marks `slot` free; false when that could not be written

  std::string dataDir_;
  std::string path_;
  platform::UniqueFd fd_;
  int claimed_ = -1;
};

}  // namespace store

#endif
