// The telephony stand-in's journal of charged units, and how it survives a kill.
//
// The journal is a text file with one line per charge that is in the card file:
//
//   charge <card number> <units>
//
// and, rarely, a line "unresolved <card number> <units>" for a charge whose fate could not be
// told after a crash (below). Adding up the units of the charge lines per card gives exactly
// what the stand-in took from each card.
//
// A charge is two writes to two files, the card record and the journal line, and a kill can
// fall between them. So right before the record is written (under the record's lock) the
// stand-in notes in a small state file beside the journal (<journal>.pending, one fixed
// 100-byte entry rewritten in place) which record it is about to write, as it was and as it
// will be. After the journal line is written the entry is cleared. A stand-in that starts and
// finds an entry left behind settles it: the card's record as it is now (where it was, or
// where a compaction moved it) tells whether the write happened (it holds the new image) or
// not (it holds the old one); when somebody has changed the record since, it cannot be told,
// and the charge is journalled as unresolved. The state
// file's entry is written at offset 0 with a checksum, so a torn entry reads as none (a torn
// entry belongs to a kill before the record write). The entry also holds the journal's length
// when it was written: a journal that is longer holds the charge's line already, and the entry
// only has to be cleared.
#ifndef LINDAVOX_TOOLS_CHARGE_JOURNAL_H
#define LINDAVOX_TOOLS_CHARGE_JOURNAL_H

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>

#include "platform/unique_fd.h"
#include "store/prepaid.h"

namespace standin {

struct PendingCharge {
  int32_t card = 0;
  int32_t index = 0;
  int32_t units = 0;
  PrepaidCard before{};
  PrepaidCard after{};
  off_t journalLength = 0;  // the journal's length when the charge was noted
};

class ChargeJournal {
 public:
  // Opens (creating) the journal and its state file, cuts a line a kill left half written, and
  // settles a charge left pending against the card file of `dataDir`. Returns 0 or an errno
  // value.
  int Open(const std::string& path, const std::string& dataDir);

  // Notes the charge about to be written. False when the note cannot be written: the charge
  // must not be made then.
  bool NotePending(const PendingCharge& charge);
  // The record holds the charge noted last: journals it and clears the note.
  bool Charged();
  // The charge noted last was not written: clears the note.
  bool NotWritten();
  // A write whose outcome is not known (it failed): settles the note from the record.
  bool Settle();

  // Units per card from the journal at `path`; `unresolved` counts the unresolved charges.
  static bool Totals(const std::string& path, std::map<int32_t, int64_t>* units,
                     int64_t* unresolved);

 private:
  bool Append(const char* kind, int32_t card, int32_t units);
  bool WriteState(bool pending);
  bool ReadState(PendingCharge* charge);
  bool SettleFromRecord(const PendingCharge& charge);

  std::string path_, statePath_, dataDir_;
  platform::UniqueFd journal_, state_;
  PendingCharge pending_;
  off_t length_ = 0;  // the journal's length: complete lines only
};

}  // namespace standin

#endif
