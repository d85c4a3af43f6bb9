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
// written whole or not at all), and two slots for a group's records, used in turn, so the
// records of the step the header names stay intact while the next group's are written:
//
//   offset size  header
//        0    8  "LVINJ002"
//        8   32  the order file it belongs to: device, inode, size, modification time (ns)
//       40    4  state (JournalState)
//       44    4  flags: 2 = the rejection ends the import; bits 8 to 15: why lines are rejected
//       48    8  position of the first order line of the step in PREPAID.INC
//       56    8  position of the line after the step (for a rejection that ends the import: the
//                end of the text)
//       64    8  size of PREPAID.REJ before a rejection
//       72    8  size of PREPAID.TRR before a marker
//       80    4  records of the group
//       84    4  slot of the group's records (0 or 1)
//       88    4  FNV-1a checksum of the group's records
//       92  128  one bit per record of the group: its order cannot be told applied (rejected)
//      508    4  FNV-1a checksum of bytes 0 to 507
//
//   offset 512 + slot * kSlotBytes: the group's records, 96 bytes each:
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
#ifndef LINDAVOX_STORE_IMPORT_JOURNAL_H
#define LINDAVOX_STORE_IMPORT_JOURNAL_H

#include <sys/types.h>

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/share.h"
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

// One card write of a group.
struct JournalRecord {
  off_t line = 0;
  off_t next = 0;
  int32_t index = 0;
  bool append = false;
  PrepaidCard before{};
  PrepaidCard after{};
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
};

class ImportJournal {
 public:
  // Opens (creating) the journal without sharing. 0 or an errno value (kSharingViolation
  // while another import holds it).
  int Open(const std::string& path);
  // The entry in the file. kNone: no entry, or one of another order file; kDamaged: a header
  // that cannot be read. A group whose records did not all reach the disk never began to
  // write: it reads as kResume at its first line.
  enum class ReadResult { kEntry, kNone, kDamaged };
  ReadResult Read(const OrderFileId& orderFile, JournalEntry* entry);
  // Writes `entry`, its group's records into the slot the last group did not use. Nothing is
  // synced: a step that must not begin before the journal is on the disk calls Sync().
  bool Write(const JournalEntry& entry);
  // Puts what was written on the disk, and the journal's name too when Open created the file.
  bool Sync();
  // Closes and removes the journal.
  bool Remove();
  void Close() { file_.Close(); }

 private:
  platform::SharedFile file_;
  std::string path_;
  uint32_t nextSlot_ = 0;  // never the slot of the group the header on the disk may name
  bool created_ = false;   // the name is not on the disk yet
};

}  // namespace store

#endif
