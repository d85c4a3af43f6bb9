// The import journal, PREPAID.INJ beside the order file: what the import is about to do, so an
// import that was killed (kill -9, a crash) is finished by the next one without applying any
// order twice or losing one.
//
// The journal is one fixed 164-byte entry, rewritten in place (one pwrite at offset 0) before
// each step that changes a file; a later entry replaces the earlier one:
//
//   offset size
//        0    8  "LVINJ002"
//        8   32  the order file it belongs to: device, inode, size, modification time (ns)
//       40    4  state (JournalState)
//       44    4  flags: 1 = the record is appended, 2 = the rejection ends the import;
//                bits 8 to 15: why the lines are rejected (LineFault, order_line.h)
//       48    8  position of the order line concerned in PREPAID.INC
//       56    8  position of the line after it (for a rejection that ends the import: the end)
//       64    8  size of PREPAID.REJ before a rejection
//       72   24  the card file right before the record write: device, inode, modification
//                time (ns)
//       96   32  the record as read
//      128   32  the record as it is being written
//      160    4  FNV-1a checksum of bytes 0 to 159
//
// All integers are little-endian. A journal that belongs to another order file (the order file
// was replaced since) is ignored. The file is opened without sharing, so it also keeps a second
// import out while one runs.
//
// The steps of one import, each file-system change after the journal entry that announces it:
//
//   order line that changes a card   entry kRecordPending (card file, record before and after),
//                                    written under the record's lock; the record is written
//                                    (the next line's entry says it is done)
//   new batch marker                 entry kMarkerPending; the marker is appended to
//                                    PREPAID.TRR; entry kResume (the next line)
//   lines refused                    entry kRejectPending (size of PREPAID.REJ); the reason line
//                                    and the lines are appended to PREPAID.REJ in one write;
//                                    entry kResume (the next line), unless it ends the import
//   every line done                  entry kFinishing; PREPAID.INC is removed; PREPAID.INJ is
//                                    removed
//   a write fails                    PREPAID.INC is replaced by the lines not yet applied
//                                    (.PREPAID.INC.new renamed over it); PREPAID.INJ is removed
//
// Order lines that change nothing write no entry: doing them again changes nothing either.
// What the next import does with an entry it finds (import.cpp, Recover):
//
//   kResume           goes on at `line`
//   kFinishing        removes PREPAID.INC and PREPAID.INJ
//   kMarkerPending    goes on after the marker when PREPAID.TRR lists it, else at the marker
//   kRejectPending    goes on after the lines when PREPAID.REJ holds them whole (its size is
//                     the size before plus their block), else cuts PREPAID.REJ back to the size
//                     before and adds them (again)
//   kRecordPending    looks for the card's first record by its number, wherever it is now (a
//                     compaction may have moved it or dropped it), and compares its 32 bytes:
//                     - as it was to be written: written, go on after the line;
//                     - a new card: no record of it, in the same card file or in one nobody
//                       has written since: not written, go on at the line;
//                     - a changed card: as it was read, in a card file nobody has written
//                       since (the same modification time; a compaction keeps it, as it
//                       changes no card): not written, go on at the line;
//                     - anything else (the server charged the card, an operator changed it, a
//                       compaction dropped it after it was emptied, another card was written):
//                       it cannot be told; the line goes to PREPAID.REJ with that reason, and
//                       the import goes on after it. Never applied a second time.
//                     A write stamps the card file with a modification time other than the one
//                     read right before it on file systems with fine-grained timestamps; with
//                     coarse ones a write within the clock tick of the one before may leave the
//                     time as it was. A record that somebody else brought to exactly the state
//                     the order would have given counts as written.
//   damaged entry     the whole order file goes to PREPAID.REJ
#ifndef LINDAVOX_STORE_IMPORT_JOURNAL_H
#define LINDAVOX_STORE_IMPORT_JOURNAL_H

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/share.h"
#include "store/prepaid.h"

namespace store {

enum class JournalState : uint32_t {
  kResume = 1,         // every line before `line` is done
  kRecordPending = 2,  // `after` is being written for the line at `line`
  kMarkerPending = 3,  // the batch marker at `line` is being recorded in PREPAID.TRR
  kRejectPending = 4,  // the lines from `line` up to `next` are being added to PREPAID.REJ
  kFinishing = 5,      // every line is done; the order file is being deleted
};

// The order file a journal belongs to.
struct OrderFileId {
  uint64_t device = 0, inode = 0, size = 0, modified = 0;
  bool operator==(const OrderFileId&) const = default;
};
bool IdentifyOrderFile(const platform::SharedFile& file, OrderFileId* id);

// The card file as the record write found it: a write by anybody changes the modification
// time, and a compaction the inode (but not the modification time).
struct CardFileStamp {
  uint64_t device = 0, inode = 0, modified = 0;
  bool SameFile(const CardFileStamp& other) const {
    return device == other.device && inode == other.inode;
  }
  bool Unwritten(const CardFileStamp& other) const {
    return device == other.device && modified == other.modified;
  }
};
bool StampCardFile(const platform::SharedFile& file, CardFileStamp* stamp);

struct JournalEntry {
  OrderFileId orderFile;
  JournalState state = JournalState::kResume;
  bool append = false;
  bool endsImport = false;
  uint8_t reason = 0;
  off_t line = 0;
  off_t next = 0;
  off_t rejectSize = 0;
  CardFileStamp cardFile;
  PrepaidCard before{};
  PrepaidCard after{};
};

class ImportJournal {
 public:
  // Opens (creating) the journal without sharing. 0 or an errno value (kSharingViolation
  // while another import holds it).
  int Open(const std::string& path);
  // Opens an existing journal for reading only, sharing it with none that writes: an import
  // that only tells what it would do. ENOENT when there is none.
  int OpenToRead(const std::string& path);
  // The entry in the file. kNone: no entry, or one of another order file; kDamaged: an entry
  // that cannot be read.
  enum class ReadResult { kEntry, kNone, kDamaged };
  ReadResult Read(const OrderFileId& orderFile, JournalEntry* entry) const;
  bool Write(const JournalEntry& entry) const;
  // Closes and removes the journal.
  bool Remove();
  void Close() { file_.Close(); }
  bool isOpen() const { return file_.isOpen(); }

 private:
  platform::SharedFile file_;
  std::string path_;
};

}  // namespace store

#endif
