#include "store/order.h"

#include <cerrno>
#include <string>

#include "platform/c_boundary.h"
#include "store/card_record.h"
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

OrderResult OrderApplier::Apply(const Order& order, const BeforeWrite& beforeWrite,
                                const AfterWrite& afterWrite) {
  lastIndex_ = -1;
  if (!DoesSomething(order)) return OrderResult::kIgnored;
  if (dryRun_) return ApplyInMemory(order, beforeWrite);
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
      switch (AppendCardAt(cards_, position, card, journal, afterWrite)) {
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
    switch (UpdateCardAt(cards_, at, order.card, change, journal, afterWrite)) {
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

OrderResult OrderApplier::Plan(const Order& order, PlannedWrite* write) {
  if (!DoesSomething(order)) return OrderResult::kIgnored;
  if (dryRun_) {
    const OrderResult result = ApplyInMemory(order, nullptr);
    if (result == OrderResult::kChanged) {
      *write = PlannedWrite{lastIndex_, false, PrepaidCard{}, written_[lastIndex_]};
    }
    return result;
  }
  for (int round = 0; round < 4; ++round) {
    int32_t at = index_.Find(order.card);
    // Another process may have added it; a round with planned appends, which the file does not
    // hold yet, finds such a card when writing its append instead.
    if (at < 0 && plannedAppends_ == 0) {
      if (!index_.Refresh(cards_)) return OrderResult::kFailed;
      at = index_.Find(order.card);
    }
    if (at < 0) {
      if (order.command != 'A') return OrderResult::kNoCard;
      *write = PlannedWrite{index_.recordCount(), true, PrepaidCard{}, PrepaidCard{}};
      write->after.cardNumber = order.card;
      write->after.balance = order.amount;
      index_.AddAppended(order.card);
      ++plannedAppends_;
      planned_[write->index] = write->after;
      return OrderResult::kChanged;
    }
    PrepaidCard record{};
    if (const auto found = planned_.find(at); found != planned_.end()) {
      record = found->second;
    } else if (!ReadCardUnlocked(cards_, at, &record) || record.cardNumber != order.card) {
      // Missing or another card: the file was compacted meanwhile (or cannot be read, which
      // the index's rebuild tells).
      if (!planned_.empty()) return OrderResult::kReplan;
      if (!index_.Build(cards_)) return OrderResult::kFailed;
      continue;
    }
    PrepaidCard after = record;
    bool overflow = false;
    if (!ApplyCommand(order, &after, &overflow) || SameCardBytes(record, after)) {
      return overflow ? OrderResult::kOverflow : OrderResult::kUnchanged;
    }
    *write = PlannedWrite{at, false, record, after};
    planned_[at] = after;
    return OrderResult::kChanged;
  }
  return OrderResult::kFailed;
}

OrderApplier::WriteResult OrderApplier::Write(const PlannedWrite& write,
                                              const BeforeWrite& beforeWrite,
                                              const AfterWrite& afterWrite) {
  const auto announce = [&](const PrepaidCard& before, const PrepaidCard& after) {
    return !beforeWrite || beforeWrite(write.index, write.append, before, after);
  };
  if (write.append) {
    switch (AppendCardAt(cards_, write.index, write.after, announce, afterWrite)) {
      case AppendResult::kAppended:
        return WriteResult::kWritten;
      case AppendResult::kFileChanged:
        return WriteResult::kMoved;
      case AppendResult::kFailed:
        return WriteResult::kFailed;
    }
    return WriteResult::kFailed;
  }
  bool moved = false;
  const auto change = [&](PrepaidCard* record) {
    moved = !SameCardBytes(*record, write.before);
    if (!moved) *record = write.after;
    return !moved;
  };
  switch (UpdateCardAt(cards_, write.index, write.after.cardNumber, change, announce, afterWrite)) {
    case UpdateResult::kWritten:
      return WriteResult::kWritten;
    case UpdateResult::kUnchanged:
    case UpdateResult::kOtherCard:
      return WriteResult::kMoved;
    case UpdateResult::kFailed:
      return WriteResult::kFailed;
  }
  return WriteResult::kFailed;
}

bool OrderApplier::Settle(bool allWritten) {
  planned_.clear();
  plannedAppends_ = 0;
  return allWritten || dryRun_ || index_.Build(cards_);
}

void OrderApplier::Assume(int32_t index, const PrepaidCard& card) {
  if (index >= index_.recordCount()) index_.AddAppended(card.cardNumber);
  written_[index] = card;
}

OrderResult OrderApplier::ApplyInMemory(const Order& order, const BeforeWrite& beforeWrite) {
  const int32_t found = index_.Find(order.card);
  const bool append = found < 0;
  if (append && order.command != 'A') return OrderResult::kNoCard;
  const int32_t at = append ? index_.recordCount() : found;
  PrepaidCard before{};
  PrepaidCard after{};
  if (append) {
    after.cardNumber = order.card;
    after.balance = order.amount;
  } else {
    lastIndex_ = at;
    if (const auto written = written_.find(at); written != written_.end()) {
      before = written->second;
    } else if (!ReadCardUnlocked(cards_, at, &before)) {
      return OrderResult::kFailed;
    }
    after = before;
    bool overflow = false;
    if (!ApplyCommand(order, &after, &overflow)) return OrderResult::kOverflow;
    if (SameCardBytes(before, after)) return OrderResult::kUnchanged;
  }
  if (beforeWrite && !beforeWrite(at, append, before, after)) return OrderResult::kFailed;
  written_[at] = after;
  if (append) index_.AddAppended(order.card);
  lastIndex_ = at;
  return OrderResult::kChanged;
}

OrderOutcome ApplyOneOrder(const char* dataDir, const Order& order, const OrderMode& mode,
                           const HistorySource* source) {
  OrderOutcome outcome;
  outcome.error = ENOMEM;
  return platform::CallNoThrow<OrderOutcome>(outcome, [&] {
    CardHistory history(dataDir);
    if (source && !mode.dryRun && (outcome.error = history.Open()) != 0) {
      outcome.failedPath = history.path();
      return outcome;
    }
    outcome.failedPath = StorePath(dataDir, "PREPAID.DAT");
    platform::SharedFile cards;
    // A dry run too opens the file for writing, so it finds out whether the order could be
    // written at all.
    outcome.error = util::OpenAsFopen(outcome.failedPath, "rb+", false, &cards);
    if (outcome.error != 0) return outcome;
    const auto record = [&](const PrepaidCard& before, const PrepaidCard& after) {
      if (!history.Record(*source, before, after)) outcome.historyError = history.error();
    };
    OrderApplier applier(cards, mode.dryRun);
    errno = 0;
    // The last step before a write (in a dry run: before the record is kept in memory) says
    // what is written, and stops a creation that is not allowed.
    bool creationRefused = false;
    const auto beforeWrite = [&](int32_t index, bool append, const PrepaidCard& before,
                                 const PrepaidCard& after) {
      outcome.appended = append;
      outcome.index = index;
      outcome.card = after;
      creationRefused = append && !mode.create;
      if (creationRefused) return false;
      if (!source || mode.dryRun) return true;
      if (const int error = history.Intend(*source, index, before, after); error != 0) {
        errno = error;
        outcome.failedPath = history.path();
        return false;
      }
      return true;
    };
    outcome.result = applier.Start()
                         ? applier.Apply(order, beforeWrite, source ? AfterWrite(record) : nullptr)
                         : OrderResult::kFailed;
    if (creationRefused) {
      outcome.result = OrderResult::kNoCard;
      outcome.index = -1;
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
