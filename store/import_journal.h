// The import journal, PREPAID.INJ beside the order file: what the import is about to do, so an
// import that was killed or lost its power is finished by the next one without applying any
// order twice or losing one.
//
// The import works in steps: a group of order lines whose card writes go to the disk together,
// a batch marker recorded in PREPAID.TRR, lines added to PREPAID.REJ. Before a step changes a
// file, the journal says what the step will do, and that is put on the disk (synced) before
// the step's first write, so whatever of the step reached the disk, the journal that explains
// it did too. After a group's card writes the card file is synced before the journal moves on,
// so every step the journal has forgotten is on the disk.
//
// The file: a header of one 512-byte sector, rewritten in place for every step (a sector is
// written whole or not at all); a sector that notes, right before each card write of a group,
// which of its records is being written (not synced: it serves an import that finds the
// journal before the system was restarted); and two slots for a group's records, used in turn,
// so the records of the step the header names stay intact while the next group's are written:
//
//   offset size  header
//        0    8  "LVINJ003"
//        8   32  the order file it belongs to: device, inode, size, modification time (ns)
//       40    4  state (JournalState)
//       44    4  flags: 2 = the rejection ends the import; bits 8 to 15: why lines are rejected
//                (LineFault, order_line.h)
//       48    8  position of the first order line of the step in PREPAID.INC
//       56    8  position of the line after the step (for a rejection that ends the import: the
//                end of the text)
//       64    8  size of PREPAID.REJ before a rejection
//       72    8  size of PREPAID.TRR before a marker
//       80    4  records of the group
//       84    4  slot of the group's records (0 or 1)
//       88    4  FNV-1a checksum of the group's records
//       92  128  one bit per record of the group: its order cannot be told applied (rejected)
//      224   36  boot id of the system that wrote the group (platform/boot_id.h)
//      260   24  the card history right before the group's first write: device, inode, size
//                (all 0, as in a journal of an import that kept no history: not known)
//      508    4  FNV-1a checksum of bytes 0 to 507
//
//   offset 512  progress of the group's card writes
//        0    4  checksum of the header of the group it belongs to (header bytes 508 to 511)
//        4    4  the record about to be written
//        8   24  the card file right before that write: device, inode, modification time (ns)
//       32    4  FNV-1a checksum of bytes 0 to 31
//
//   offset 1024 + slot * kSlotBytes: the group's records, 96 bytes each:
//        0    8  position of the order line in PREPAID.INC
//        8    8  position of the line after it
//       16    4  record index
//       20    4  flags: 1 = the record is appended
//       24   32  the record as read
//       56   32  the record as the order leaves it
//       88    8  zero
//
// All integers are little-endian. A journal that belongs to another order file (the order file
// was replaced since) is ignored. The file is opened without sharing, so it also keeps a second
// import out while one runs.
//
// The steps of one import, each file-system change after the journal entry that announces it:
//
//   order lines that change cards    entry kGroup (the group's records, up to kOrdersPerSync),
//                                    synced; for each record, under its lock right before its
//                                    write, the progress note (not synced); the card file
//                                    synced; entry kResume (the line after the group), synced
//   new batch marker                 entry kMarkerPending (size of PREPAID.TRR), synced; the
//                                    marker is added there on a line of its own and synced
//   lines refused                    entry kRejectPending (size of PREPAID.REJ), synced; the
//                                    reason line and the lines are added there and synced
//   every line done                  entry kFinishing; PREPAID.INC is removed, its folder
//                                    synced; PREPAID.INJ is removed
//   a write fails                    the card file synced; PREPAID.INC is replaced by the lines
//                                    not yet applied; PREPAID.INJ is removed
//
// Order lines that change nothing write no record: doing them again changes nothing either.
// What the next import does with an entry it finds (import.cpp, Recover):
//
//   kResume           goes on at `line`
//   kFinishing        removes PREPAID.INC and PREPAID.INJ
//   kMarkerPending    adds the marker at the size noted, unless it is there already
//   kRejectPending    adds the lines at the size noted, unless they are there already
//   kGroup, kGroupRejecting   the card history gets the line of every record found written
//                     (below), less those it holds already: the lines appended since the place
//                     the entry noted (in PREPAID.HIS.1 too when the history was rotated since)
//                     are searched for each by what identifies it (program, batch marker and
//                     line number, card, balance and lock before and after). So a kill between
//                     a record write and its history line leaves the line to the next import,
//                     and a kill after it never doubles it.
//   kGroup, written in this start of the system (the import was killed; all it wrote is
//   visible): the records before the one the progress note names were written. That one is
//   looked for by its card number, wherever it is now (a compaction may have moved it or
//   dropped it), and its 32 bytes compared:
//                     - as it was to be written: written, go on after its line;
//                     - a new card: no record of it, in the same card file or in one nobody
//                       has written since: not written, go on at its line;
//                     - a changed card: as it was read, in a card file nobody has written
//                       since the note (the same modification time; a compaction keeps it, as
//                       it changes no card): not written, go on at its line;
//                     - anything else (the server charged the card, an operator changed it, a
//                       compaction dropped it after it was emptied, another card was written):
//                       it cannot be told; the line goes to PREPAID.REJ with that reason, and
//                       the import goes on after it. Never applied a second time.
//                     No progress note of the group: none of its writes began; go on at its
//                     first line. A write stamps the card file with a modification time other
//                     than the one read right before it on file systems with fine-grained
//                     timestamps; with coarse ones a write within the clock tick of the one
//                     before may leave the time as it was. A record that somebody else brought
//                     to exactly the state the order would have given counts as written.
//   kGroup, written before the system was restarted (a power cut: any of the group's writes
//   may be lost), or kGroupRejecting: each card of the group at the index the journal names
//   holds the last value the group gives it (done), its value before the group or one the
//   group gives it on the way (unfinished: finished now), or another one (the card was changed
//   since, or the file compacted: its orders cannot be told applied and go to PREPAID.REJ,
//   which the journal notes first as kGroupRejecting)
//   damaged entry     the whole order file goes to PREPAID.REJ
#ifndef LINDAVOX_STORE_IMPORT_JOURNAL_H
#define LINDAVOX_STORE_IMPORT_JOURNAL_H

#include <sys/types.h>

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/share.h"
#include "store/card_history.h"
#include "store/prepaid.h"

namespace store {

// The most records a group holds.
inline constexpr size_t kJournalGroupRecords = 1024;

enum class JournalState : uint32_t {
  kResume = 1,         // every line before `line` is done
  kGroup = 2,          // the group's records are being written for the lines [line, next)
  kMarkerPending = 3,  // the batch marker at `line` is being recorded in PREPAID.TRR
  kRejectPending = 4,  // the lines [line, next) are being added to PREPAID.REJ
  kFinishing = 5,      // every line is done; the order file is being deleted
  kGroupRejecting = 6  // a group's records are settled; the lines of those marked undecidable
                       // are being added to PREPAID.REJ
};

// The order file a journal belongs to.
struct OrderFileId {
  uint64_t device = 0, inode = 0, size = 0, modified = 0;
  bool operator==(const OrderFileId&) const = default;
};
bool IdentifyOrderFile(const platform::SharedFile& file, OrderFileId* id);

// The card file as a record write found it: a write by anybody changes the modification
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

// One card write of a group.
struct JournalRecord {
  off_t line = 0;
  off_t next = 0;
  int32_t index = 0;
  bool append = false;
  PrepaidCard before{};
  PrepaidCard after{};
};

// The record of a group that was about to be written, and the card file right before.
struct JournalProgress {
  uint32_t record = 0;
  CardFileStamp cardFile;
};

struct JournalEntry {
  OrderFileId orderFile;
  JournalState state = JournalState::kResume;
  bool endsImport = false;
  uint8_t reason = 0;
  off_t line = 0;
  off_t next = 0;
  off_t rejectSize = 0;
  off_t markerSize = 0;
  std::vector<JournalRecord> records;          // kGroup, kGroupRejecting
  std::bitset<kJournalGroupRecords> rejected;  // kGroupRejecting
  std::string bootId;                          // kGroup, kGroupRejecting
  std::optional<JournalProgress> progress;     // kGroup, as read
  HistoryStamp history;                        // kGroup, kGroupRejecting; all 0: not known
};

class ImportJournal {
 public:
  // Opens (creating) the journal without sharing. 0 or an errno value (kSharingViolation
  // while another import holds it).
  int Open(const std::string& path);
  // Opens an existing journal for reading only, sharing it with none that writes: an import
  // that only tells what it would do. ENOENT when there is none.
  int OpenToRead(const std::string& path);
  // The entry in the file. kNone: no entry, or one of another order file; kDamaged: a header
  // that cannot be read. A group whose records did not all reach the disk never began to
  // write: it reads as kResume at its first line. A group's progress is read when it belongs
  // to the group.
  enum class ReadResult { kEntry, kNone, kDamaged };
  ReadResult Read(const OrderFileId& orderFile, JournalEntry* entry);
  // Writes `entry`, its group's records into the slot the last group did not use. Nothing is
  // synced: a step that must not begin before the journal is on the disk calls Sync().
  bool Write(const JournalEntry& entry);
  // Notes that record `record` of the group written last is about to be written, the card
  // file standing as `cardFile`. Not synced.
  bool NoteProgress(uint32_t record, const CardFileStamp& cardFile);
  // Puts what was written on the disk, and the journal's name too when Open created the file.
  bool Sync();
  // Closes and removes the journal.
  bool Remove();
  void Close() { file_.Close(); }
  bool isOpen() const { return file_.isOpen(); }

 private:
  platform::SharedFile file_;
  std::string path_;
  uint32_t nextSlot_ = 0;       // never the slot of the group the header on the disk may name
  uint32_t groupChecksum_ = 0;  // the header checksum of the group written last
  bool created_ = false;        // the name is not on the disk yet
};

}  // namespace store

#endif
