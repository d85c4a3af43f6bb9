// Card orders: 'A' adds units, 'D' empties a card, 'L' locks and 'U' unlocks it.
//
// The import applies every order line of PREPAID.INC through an OrderApplier, and the operator's
// command line applies single orders through ApplyOneOrder, so an order means the same wherever
// it comes from:
//   - it acts on the first record of its card, locked or not;
//   - 'A' for an absent card appends the card with the amount as its balance, every other byte
//     0; 'D', 'L' and 'U' for an absent card do nothing;
//   - 'A' with amount 0 and any other command do nothing;
//   - 'A' whose new balance would not fit in 32 bits changes nothing (kOverflow);
//   - a change is one read-modify-write under the record's lock (store/record_update.h), so what
//     another writer changed in the same record meanwhile is kept.
#ifndef LINDAVOX_STORE_ORDER_H
#define LINDAVOX_STORE_ORDER_H

#include <cstdint>
#include <functional>
#include <unordered_map>

#include "platform/share.h"
#include "store/card_history.h"
#include "store/card_index.h"
#include "store/prepaid.h"
#include "store/record_update.h"

namespace store {

struct Order {
  char command;    // only 'A', 'D', 'L' and 'U' do something
  int32_t card;    // card number
  int32_t amount;  // units to add ('A' only)
};

enum class OrderResult {
  kChanged,    // the record was rewritten, or the card appended
  kUnchanged,  // the card is there and already as the order wants it
  kNoCard,     // 'D', 'L' or 'U' for a card that does not exist
  kIgnored,    // another command, or 'A' with amount 0
  kOverflow,   // the new balance would not fit in 32 bits; nothing written
  kFailed,     // PREPAID.DAT could not be read, locked or written
  kReplan,     // Plan only: the card file changed under the plans (it was compacted); write the
               // plans first and plan the order again
};

// A card write that an order needs, worked out without writing: the record at `index` goes from
// `before` to `after` (appended when `append`; `before` is then all zero).
struct PlannedWrite {
  int32_t index = -1;
  bool append = false;
  PrepaidCard before{};
  PrepaidCard after{};
};

// Applies orders to an open PREPAID.DAT. Cards are found through an index of the file that
// follows what other processes append, and that is built again when the file was reorganised
// meanwhile.
//
// A dry run writes nothing and takes no lock: the records it would write are kept in memory,
// and later orders of the same run see them, as they would see the file. BeforeWrite runs
// there too, where the write would be.
class OrderApplier {
 public:
  // REQUIRES: `cards` is PREPAID.DAT, open for reading and writing (for a dry run: for reading,
  // or not open at all when there is no card file), for the applier's lifetime.
  explicit OrderApplier(const platform::SharedFile& cards, bool dryRun = false)
      : cards_(cards), dryRun_(dryRun) {}

  // Indexes the file; false on a read error.
  bool Start() { return (dryRun_ && !cards_.isOpen()) || index_.Build(cards_); }

  // Runs under the record's lock right before a write, with the record's position, whether it
  // is appended, and the record as read and as it will be written; false stops the write
  // (kFailed).
  using BeforeWrite = std::function<bool(int32_t index, bool append, const PrepaidCard& before,
                                         const PrepaidCard& after)>;
  // REQUIRES: Start() succeeded. `afterWrite` runs under the record's lock after the write.
  OrderResult Apply(const Order& order, const BeforeWrite& beforeWrite = nullptr,
                    const AfterWrite& afterWrite = nullptr);

  // The position of the record the last Apply found or appended; -1 when it found none.
  int32_t lastIndex() const { return lastIndex_; }

  // Orders applied in rounds, for a caller that must say what it will write before it writes
  // (the import's journal): Plan works out each order's write against the records as they are
  // and as the writes planned before in the round leave them, Write then writes the plans in
  // their order, and Settle ends the round.
  //
  // Plans `order` without writing; kChanged fills `*write`. The record is read without its
  // lock: Write compares it under the lock with the plan's `before`, so a plan made from a
  // record another writer was changing is never written (kMoved). A dry run applies the order to
  // the records it keeps in memory instead (`*write` then names the record's position and value
  // only). REQUIRES: Start() succeeded.
  OrderResult Plan(const Order& order, PlannedWrite* write);
  enum class WriteResult {
    kWritten,
    kMoved,  // the record is no longer as planned (another writer changed it, the file was
             // compacted or grew meanwhile): nothing written
    kFailed,
  };
  // Writes a planned change under the record's lock when the record is still as planned;
  // `beforeWrite` runs under the lock right before the write (false: kFailed).
  WriteResult Write(const PlannedWrite& write, const BeforeWrite& beforeWrite = nullptr,
                    const AfterWrite& afterWrite = nullptr);
  // Ends the round. `allWritten` false: some plans were not written, and the index learns the
  // file anew. False on a read error.
  bool Settle(bool allWritten);

  // Dry run: takes record `index` (the file's next one or beyond when it is new) to hold
  // `card`, as an interrupted import's recovery would leave it. REQUIRES: Start() succeeded.
  void Assume(int32_t index, const PrepaidCard& card);

 private:
  OrderResult ApplyInMemory(const Order& order, const BeforeWrite& beforeWrite);

  const platform::SharedFile& cards_;
  const bool dryRun_;
  CardIndex index_;
  int32_t lastIndex_ = -1;
  std::unordered_map<int32_t, PrepaidCard> planned_;  // record index -> record after the plans
  int32_t plannedAppends_ = 0;
  std::unordered_map<int32_t, PrepaidCard> written_;  // dry run: the records by position
};

// How ApplyOneOrder goes about an order.
struct OrderMode {
  bool create = true;   // an 'A' for an absent card appends it; else kNoCard, as for 'D'
  bool dryRun = false;  // everything up to the write, which is left out: the outcome tells
                        // what the order would do now
};

struct OrderOutcome {
  OrderResult result = OrderResult::kFailed;
  int32_t index = -1;      // the position of the card's record; -1 when there is none
  bool appended = false;   // the card was (with a dry run: would be) created
  PrepaidCard card{};      // kChanged: the record as written (or as it would be written)
  int error = 0;           // the errno value of a failure, as far as it is known
  std::string failedPath;  // the file of that failure (PREPAID.DAT or the card history)
  int historyError = 0;    // the change is made, but its history line could not be written
};

// Applies one order to the PREPAID.DAT of `dataDir`, opened shared for the call; the file must
// exist. With `source`, the change goes into the card history (card_history.h), which is opened
// first (not for a dry run): when it cannot be, nothing changes.
OrderOutcome ApplyOneOrder(const char* dataDir, const Order& order, const OrderMode& mode = {},
                           const HistorySource* source = nullptr);

}  // namespace store

#endif
