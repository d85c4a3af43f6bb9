// The import journal, PREPAID.INJ beside the order file: what the import is about to do, so an
// import that was killed (kill -9, a crash) is finished by the next one without applying any
// order twice or losing one.
//
// The journal is one fixed 144-byte entry, rewritten in place before each step that changes a
// file; a later entry replaces the earlier one:
//
//   offset size
//        0    8  "LVINJ001"
//        8   32  the order file it belongs to: device, inode, size, modification time (ns)
//       40    4  state (JournalState)
//       44    4  flags: 1 = the record is appended, 2 = the rejection ends the import;
//                bits 8 to 15: why a line is rejected
//       48    8  position of the order line concerned in PREPAID.INC
//       56    8  position of the line after it (for a rejection that ends the import: the end)
//       64    8  size of PREPAID.REJ before a rejection
//       72    4  record index
//       76   32  the record as read
//      108   32  the record as it is being written
//      140    4  FNV-1a checksum of bytes 0 to 139
//
// All integers are little-endian. A journal that belongs to another order file (the order file
// was replaced since) is ignored. The file is opened without sharing, so it also keeps a second
// import out while one runs.
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
  kRecordPending = 2,  // `after` is being written as record `index` for the line at `line`
  kMarkerPending = 3,  // the batch marker at `line` is being recorded in PREPAID.TRR
  kRejectPending = 4,  // the line at `line` (up to `next`) is being added to PREPAID.REJ
  kFinishing = 5,      // every line is done; the order file is being deleted
};

// The order file a journal belongs to.
struct OrderFileId {
  uint64_t device = 0, inode = 0, size = 0, modified = 0;
  bool operator==(const OrderFileId&) const = default;
};
bool IdentifyOrderFile(const platform::SharedFile& file, OrderFileId* id);

struct JournalEntry {
  OrderFileId orderFile;
  JournalState state = JournalState::kResume;
  bool append = false;
  bool endsImport = false;
  uint8_t reason = 0;
  off_t line = 0;
  off_t next = 0;
  off_t rejectSize = 0;
  int32_t index = 0;
  PrepaidCard before{};
  PrepaidCard after{};
};

class ImportJournal {
 public:
  // Opens (creating) the journal without sharing. 0 or an errno value (kSharingViolation
  // while another import holds it).
  int Open(const std::string& path);
  // The entry in the file. kNone: no entry, or one of another order file; kDamaged: an entry
  // that cannot be read.
  enum class ReadResult { kEntry, kNone, kDamaged };
  ReadResult Read(const OrderFileId& orderFile, JournalEntry* entry) const;
  bool Write(const JournalEntry& entry) const;
  // Closes and removes the journal.
  bool Remove();
  void Close() { file_.Close(); }

 private:
  platform::SharedFile file_;
  std::string path_;
};

}  // namespace store

#endif
