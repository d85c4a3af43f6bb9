#include "store/order.h"

#include <cerrno>
#include <string>

#include "platform/c_boundary.h"
#include "store/record_update.h"
#include "store/store_internal.h"
#include "util/file_open_internal.h"

namespace store {
namespace {

// Applies the command to a card that exists; false when it leaves the record as it is.
bool ApplyCommand(const Order& order, PrepaidCard* card, bool* overflow) {
  switch (order.command) {
    case 'A': {
      const int64_t balance = int64_t{card->balance} + order.amount;
      if (balance < INT32_MIN || balance > INT32_MAX) {
        *overflow = true;
        return false;
      }
      card->balance = static_cast<int32_t>(balance);
      return true;
    }
    case 'D':
      card->balance = 0;
      return true;
    case 'L':
      card->flags |= PREPAID_CARD_LOCKED;
      return true;
    default:  // 'U'
      card->flags &= ~PREPAID_CARD_LOCKED;
      return true;
  }
}

bool DoesSomething(const Order& order) {
  switch (order.command) {
    case 'A':
      return order.amount != 0;
    case 'D':
    case 'L':
    case 'U':
      return true;
    default:
      return false;
  }
}

}  // namespace

OrderResult OrderApplier::Apply(const Order& order, const BeforeWrite& beforeWrite) {
  lastIndex_ = -1;
  if (!DoesSomething(order)) return OrderResult::kIgnored;
  // Each round either applies the order or has learnt that the file changed under it; a few
  // rounds cover any sensible amount of concurrent change.
  for (int round = 0; round < 4; ++round) {
    int32_t at = index_.Find(order.card);
    if (at < 0) {
      if (!index_.Refresh(cards_)) return OrderResult::kFailed;  // another process may have
      at = index_.Find(order.card);                              // added it
    }
    if (at < 0) {
      if (order.command != 'A') return OrderResult::kNoCard;
      PrepaidCard card{};
      card.cardNumber = order.card;
      card.balance = order.amount;
      const int32_t position = index_.recordCount();
      const auto journal = [&](const PrepaidCard& before, const PrepaidCard& after) {
        return !beforeWrite || beforeWrite(position, true, before, after);
      };
      switch (AppendCardAt(cards_, position, card, journal)) {
        case AppendResult::kAppended:
          index_.AddAppended(order.card);
          lastIndex_ = position;
          return OrderResult::kChanged;
        case AppendResult::kFileChanged:
          if (!index_.Refresh(cards_)) return OrderResult::kFailed;
          continue;
        case AppendResult::kFailed:
          return OrderResult::kFailed;
      }
    }
    bool overflow = false;
    const auto change = [&](PrepaidCard* card) { return ApplyCommand(order, card, &overflow); };
    const auto journal = [&](const PrepaidCard& before, const PrepaidCard& after) {
      return !beforeWrite || beforeWrite(at, false, before, after);
    };
    lastIndex_ = at;
    switch (UpdateCardAt(cards_, at, order.card, change, journal)) {
      case UpdateResult::kWritten:
        return OrderResult::kChanged;
      case UpdateResult::kUnchanged:
        return overflow ? OrderResult::kOverflow : OrderResult::kUnchanged;
      case UpdateResult::kOtherCard:
        // The file was reorganised meanwhile: every position may have moved.
        lastIndex_ = -1;
        if (!index_.Build(cards_)) return OrderResult::kFailed;
        continue;
      case UpdateResult::kFailed:
        return OrderResult::kFailed;
    }
  }
  return OrderResult::kFailed;
}

OrderOutcome ApplyOneOrder(const char* dataDir, const Order& order, const OrderMode& mode) {
  OrderOutcome outcome;
  outcome.error = ENOMEM;
  return platform::CallNoThrow<OrderOutcome>(outcome, [&] {
    platform::SharedFile cards;
    // A dry run too opens the file for writing: the record locks need it, and so it finds out
    // whether the order could be written at all.
    outcome.error = util::OpenAsFopen(StorePath(dataDir, "PREPAID.DAT"), "rb+", false, &cards);
    if (outcome.error != 0) return outcome;
    OrderApplier applier(cards);
    errno = 0;
    // The last step before a write decides: a creation that is not allowed and every write of
    // a dry run stop here, and the outcome says what would have been written.
    bool stoppedOnPurpose = false;
    const auto beforeWrite = [&](int32_t index, bool append, const PrepaidCard&,
                                 const PrepaidCard& after) {
      outcome.appended = append;
      outcome.index = index;
      outcome.card = after;
      stoppedOnPurpose = (append && !mode.create) || mode.dryRun;
      return !stoppedOnPurpose;
    };
    outcome.result = applier.Start() ? applier.Apply(order, beforeWrite) : OrderResult::kFailed;
    if (stoppedOnPurpose) {
      outcome.result =
          outcome.appended && !mode.create ? OrderResult::kNoCard : OrderResult::kChanged;
      if (outcome.result == OrderResult::kNoCard) outcome.index = -1;
      outcome.error = 0;
      return outcome;
    }
    outcome.index = applier.lastIndex();
    if (outcome.result == OrderResult::kFailed) outcome.error = errno != 0 ? errno : EIO;
    if (const int closed = cards.Close(); closed != 0 && outcome.result == OrderResult::kChanged) {
      outcome.error = closed;
      outcome.result = OrderResult::kFailed;
    }
    return outcome;
  });
}

}  // namespace store
