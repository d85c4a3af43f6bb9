#include "store/card_edit.h"

#include <cerrno>

#include "store/card_record.h"
#include "store/record_update.h"

namespace store {

UpdateResult UpdateCardListed(const char* dataDir, int32_t index, int32_t cardNumber,
                              const CardChange& change, const HistorySource& source,
                              HistoryOutcome* outcome) {
  if (!dataDir) return UpdateResult::kFailed;
  CardHistory history(dataDir);
  outcome->path = history.path();
  outcome->openError = history.Open();
  if (outcome->openError != 0) {
    errno = outcome->openError;
    return UpdateResult::kFailed;
  }
  const auto announce = [&](const PrepaidCard& before, const PrepaidCard& after) {
    const int error = history.Intend(source, index, before, after);
    if (error != 0) {
      outcome->openError = error;
      errno = error;
    }
    return error == 0;
  };
  const auto listed = [&](const PrepaidCard& before, const PrepaidCard& after) {
    if (!history.Record(source, before, after)) outcome->writeError = history.error();
  };
  return UpdateCard(dataDir, index, cardNumber, change, announce, listed);
}

EditResult SaveCardEdit(const char* dataDir, int32_t index, const PrepaidCard& shown,
                        const PrepaidCard& edited, int* error, const HistorySource& source,
                        HistoryOutcome* history) {
  HistoryOutcome ignored;
  if (!history) history = &ignored;
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
  errno = 0;
  switch (UpdateCardListed(dataDir, index, shown.cardNumber, change, source, history)) {
    case UpdateResult::kWritten:
      return EditResult::kSaved;
    case UpdateResult::kUnchanged:
      return stale ? EditResult::kChangedMeanwhile : EditResult::kSaved;
    case UpdateResult::kOtherCard:
      return EditResult::kGone;
    case UpdateResult::kFailed:
      break;
  }
  if (error) *error = errno != 0 ? errno : EIO;
  return EditResult::kFailed;
}

}  // namespace store
