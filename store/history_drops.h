// The card history's lines for the cards a compaction drops, listed exactly once.
//
// The drops take effect in one step, when the compacted file is renamed over PREPAID.DAT, and
// they may be many, so their lines are not appended before that rename (a kill in between would
// list drops that never happened) nor only after it (a kill would lose them). They are staged in
// .PREPAID.HIS.new beside the card file, created exclusively, under a fixed-width header line:
//
//   #LVDROPS <device> <inode> <history device> <history inode> <history size>
//
// The first two numbers name the compacted file, the last three are 0 until the lines are about
// to be appended and then say where the history ended. After the rename the lines are appended
// and the staging file is removed. The next compaction first settles what a killed one left:
//   - PREPAID.DAT is not the file the header names: the rename never happened; the staging file
//     is removed, nothing listed;
//   - it is: the lines go into the history, less those already there (the lines appended since
//     the noted place are compared with the staged ones, in order, byte for byte), then the
//     staging file is removed.
// Until that next compaction, the drops of one that was killed right after its rename are not
// listed yet.
#ifndef LINDAVOX_STORE_HISTORY_DROPS_H
#define LINDAVOX_STORE_HISTORY_DROPS_H

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/unique_fd.h"
#include "store/card_history.h"

namespace store {

class HistoryDrops {
 public:
  HistoryDrops(const char* dataDir, CardHistory* history);
  ~HistoryDrops();
  HistoryDrops(const HistoryDrops&) = delete;
  HistoryDrops& operator=(const HistoryDrops&) = delete;

  // Settles the staging file a killed compaction left, if any. 0 or an errno value
  // (platform::kFileInTheWay for something there that is not ours).
  int Recover();
  // Creates the staging file for the compacted file `compactedFd`. 0 or an errno value.
  int Create(int compactedFd);
  // Stages the line of a dropped card.
  bool Stage(const PrepaidCard& card);
  // Writes what Stage collected since the last call.
  bool Flush();
  // The compacted file is in place: appends the staged lines to the history and removes the
  // staging file. False when a line could not be appended (the card file is compacted all the
  // same; the next compaction appends what is missing).
  bool Commit();
  // The compacted file was not put in place: removes the staging file.
  void Discard();

 private:
  bool WriteHeader(const HistoryStamp& history);
  bool AppendMissing(const HistoryStamp& from);

  std::string path_;
  std::string dataDir_;
  CardHistory* history_;
  HistoryEntry drop_;  // time, user and program of this compaction's lines
  platform::UniqueFd fd_;
  uint64_t device_ = 0, inode_ = 0;
  off_t size_ = 0;
  std::string pending_;
};

}  // namespace store

#endif
