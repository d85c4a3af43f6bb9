// Changing single records of PREPAID.DAT by read-modify-write under a short lock on the record.
//
// Every change of a card record that this code base makes goes through UpdateCardAt: it locks
// the record's 32 bytes, reads the record as it is in the file now, checks that it still holds
// the expected card, lets the caller change it, and writes it back before the lock is released.
// So a change that another writer made a moment ago (a balance the telephony server lowered, a
// lock an import set) is kept, and two of our writers never lose each other's change. The card
// editor's save (store/card_edit.h) is one such change, as is every line of an import.
// Prepaid_Write, which replaces a record with the caller's copy, takes the same lock for its
// write (WriteCardLocked), so it never lands in the middle of somebody's read-modify-write.
// Lookups take no lock. The protocol, for other programs that want to follow it, is described
// in platform/share.cpp.
//
// The lock is an open-file-description write lock (F_OFD_SETLK) on the bytes of the record
// itself, [32 * index, 32 * index + 32). It belongs to the open file, so it separates threads
// and processes alike, and it vanishes with a killed process: a crash never leaves a record
// locked. These bytes lie far below the bytes the sharing layer reserves for its announcements
// (platform/share.cpp, at 0x7FFFFFFFFFFF0000), so the two never meet. Only cooperating writers
// take it; the lock is held for one read and one write, and a writer that cannot get it within
// a few seconds gives up with kFailed instead of waiting for ever.
#ifndef LINDAVOX_STORE_RECORD_UPDATE_H
#define LINDAVOX_STORE_RECORD_UPDATE_H

#include <cstdint>
#include <functional>

#include "platform/share.h"
#include "store/prepaid.h"

namespace store {

enum class UpdateResult {
  kWritten,    // the changed record is in the file
  kUnchanged,  // the change left the record as it was (or declined it); nothing written
  kOtherCard,  // the record is missing or holds another card number; nothing written
  kFailed,     // the lock, the read or the write failed, or BeforeWrite refused; nothing
               // written, or (a failed write) not known to be written
};

// Changes the record in place; returns false to leave it as it is.
using CardChange = std::function<bool(PrepaidCard* record)>;
// Runs under the lock right before the write, with the record as read and as it will be
// written; returns false to stop without writing.
using BeforeWrite = std::function<bool(const PrepaidCard& before, const PrepaidCard& after)>;
// Runs under the lock right after a successful write (the card history's line goes in here, so
// lines of one card stand in the order of its writes).
using AfterWrite = std::function<void(const PrepaidCard& before, const PrepaidCard& after)>;

// REQUIRES: `file` is PREPAID.DAT, open for reading and writing.
UpdateResult UpdateCardAt(const platform::SharedFile& file, int32_t index, int32_t cardNumber,
                          const CardChange& change, const BeforeWrite& beforeWrite = nullptr,
                          const AfterWrite& afterWrite = nullptr);

// The same on the PREPAID.DAT of `dataDir`, opened shared for the call. After kFailed, errno
// tells why (kSharingViolation also when the record stayed locked by another writer).
UpdateResult UpdateCard(const char* dataDir, int32_t index, int32_t cardNumber,
                        const CardChange& change, const BeforeWrite& beforeWrite = nullptr,
                        const AfterWrite& afterWrite = nullptr);

enum class AppendResult { kAppended, kFileChanged, kFailed };

// Writes `card` as record `recordCount` when the file still holds exactly that many whole
// records (a trailing piece of a torn record is overwritten); kFileChanged when it holds more
// or fewer, so the caller can look at the file again first. Locks the new record's bytes like
// an update.
AppendResult AppendCardAt(const platform::SharedFile& file, int32_t recordCount,
                          const PrepaidCard& card, const BeforeWrite& beforeWrite = nullptr,
                          const AfterWrite& afterWrite = nullptr);

// Writes `card` as record `index` under its lock when `expected` accepts the record as it is
// there now, a missing record reading as all zeros (and written only when it would be the
// file's next one). kWritten; kUnchanged when `expected` refused (nothing written); kOtherCard
// when the record is missing beyond the next one; kFailed.
UpdateResult ReplaceCardIf(const platform::SharedFile& file, int32_t index,
                           const std::function<bool(const PrepaidCard& now)>& expected,
                           const PrepaidCard& card);

// Reads record `index` under its lock; false when it is missing or cannot be read.
bool ReadCardLocked(const platform::SharedFile& file, int32_t index, PrepaidCard* card);
// The same without the lock, for a reader that must take none (an import that only tells what
// it would do, on a file it may only read).
bool ReadCardUnlocked(const platform::SharedFile& file, int32_t index, PrepaidCard* card);

// Writes `card` as record `index` under its lock, replacing whatever the record holds (the
// meaning of Prepaid_Write). False when the lock cannot be had, `beforeWrite` refuses or the
// write fails. With `afterWrite` or `beforeWrite`, the record is read under the lock first (a
// record beyond the end reads as all zeros) and handed to them with `card`.
bool WriteCardLocked(const platform::SharedFile& file, int32_t index, const PrepaidCard& card,
                     const AfterWrite& afterWrite = nullptr,
                     const BeforeWrite& beforeWrite = nullptr);

}  // namespace store

#endif
