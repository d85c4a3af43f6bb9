#include "store/card_edit.h"

#include "store/record_update.h"

namespace store {
namespace {

bool SameTelefon(const PrepaidCard& a, const PrepaidCard& b) {
  return a.telefonDigits == b.telefonDigits && a.telefonHigh == b.telefonHigh &&
         a.telefonLow == b.telefonLow;
}

}  // namespace

EditResult SaveCardEdit(const char* dataDir, int32_t index, const PrepaidCard& shown,
                        const PrepaidCard& edited) {
  const bool balanceEdited = edited.balance != shown.balance;
  const bool telefonEdited = !SameTelefon(edited, shown);
  bool stale = false;
  const auto change = [&](PrepaidCard* record) {
    stale = (balanceEdited && record->balance != shown.balance) ||
            (telefonEdited && !SameTelefon(*record, shown));
    if (stale) return false;
    if (balanceEdited) record->balance = edited.balance;
    if (telefonEdited) {
      record->telefonDigits = edited.telefonDigits;
      record->telefonHigh = edited.telefonHigh;
      record->telefonLow = edited.telefonLow;
    }
    return true;
  };
  switch (UpdateCard(dataDir, index, shown.cardNumber, change)) {
    case UpdateResult::kWritten:
      return EditResult::kSaved;
    case UpdateResult::kUnchanged:
      return stale ? EditResult::kChangedMeanwhile : EditResult::kSaved;
    case UpdateResult::kOtherCard:
      return EditResult::kGone;
    case UpdateResult::kFailed:
      break;
  }
  return EditResult::kFailed;
}

}  // namespace store
