// Saving an operator's edit of a card: the new balance and telephone number that the card
// editor's dialog (or a command line) took for a card that was looked up a while ago.
//
// The record is changed by one read-modify-write under its lock (record_update.h), and only in
// the fields the operator changed: a field left as it was shown keeps what the record holds
// now, so units that a call charged or a number the telephony server wrote while the dialog
// was open stay. A changed field is written only while the record still holds the value the
// operator saw: when the balance moved since (a call was charged, an import added units), the
// operator's new figure was reckoned from a stale one, and writing it would take back or
// hand out those units. Nothing is written then, and the operator looks the card up again.
#ifndef LINDAVOX_STORE_CARD_EDIT_H
#define LINDAVOX_STORE_CARD_EDIT_H

#include <cstdint>
#include <string>

#include "store/card_history.h"
#include "store/prepaid.h"
#include "store/record_update.h"

namespace store {

// How the card history took a change.
struct HistoryOutcome {
  int openError = 0;   // the history could not be opened: nothing was changed
  int writeError = 0;  // the change is made, but its line could not be written
  std::string path;    // the history file
};

// UpdateCard (record_update.h) with the change listed in the card history, which is opened
// first: when it cannot be, nothing changes and the result is kFailed.
UpdateResult UpdateCardListed(const char* dataDir, int32_t index, int32_t cardNumber,
                              const CardChange& change, const HistorySource& source,
                              HistoryOutcome* history);

enum class EditResult {
  kSaved,             // the edit is in the file (or there was nothing to change)
  kGone,              // the record is missing or holds another card (the file was compacted)
  kChangedMeanwhile,  // a field the operator changed no longer holds what was shown
  kFailed,            // the file could not be opened, locked, read or written
};

// `shown` is the record as the lookup returned it at `index`, `edited` the same record with the
// operator's balance and telephone fields (telefonDigits, telefonHigh, telefonLow). Every other
// field of `edited` is ignored. The change is listed in the card history as `source` (kFailed
// when the history cannot be opened; `history`, when given, tells). After kFailed, `*error`
// (when given) holds the errno value of the step that failed (kSharingViolation for a file or
// record another program holds).
EditResult SaveCardEdit(const char* dataDir, int32_t index, const PrepaidCard& shown,
                        const PrepaidCard& edited, int* error = nullptr,
                        const HistorySource& source = {"editor", "save"},
                        HistoryOutcome* history = nullptr);

}  // namespace store

#endif
