// The card history, PREPAID.HIS in the data directory: one line for every change that the
// operator's side makes to a card (the card editor's save, the command line's orders and sets,
// every line of an import, every card a compaction drops; and Prepaid_Write when the setting
// asks for it), so an operator can tell a customer where the units went.
//
// The file is plain text, one line per change, fields separated by ';' (quoted as CSV quotes
// them where a field holds ';', '"' or blanks at its ends), under a header line that names the
// fields:
//
//   time;offset;user;program;detail;card;balance_before;balance_after;locked_before;
//   locked_after;phone_changed;phone
//
//   time            UTC, 2026-03-05T11:30:11Z
//   offset          the local offset from UTC at that moment, +01:00
//   user            the name of the real user (the number when it has none)
//   program         editor, command, import, compaction or write (Prepaid_Write)
//   detail          editor "save"; command the command ("topup 100", "set balance phone",
//                   "lock", "unlock", "empty"); import the batch marker and the line number of
//                   the order file ("E17 line 3", "line 3" before any marker); compaction
//                   "dropped"; write the name of the calling program
//   card            the card number, decimal
//   balance_*       the balance before and after the change (a new card: 0 before)
//   locked_*        1 when the card is locked, else 0
//   phone_changed   1 when the telephone number changed
//   phone           the new telephone number, only when [History] PhoneNumbers=1 (personal data)
//
// Appending follows the rules of shared folders (platform/shared_folder.h): a symbolic link
// is followed only when trusted, the file is created exclusively and takes the folder's group
// and group permissions on its descriptor. Each line is one write(2) with O_APPEND, so lines
// of concurrent writers never mix. The card file's format is not touched.
//
// Rotation: once the file has reached the limit ([History] MaxSize in LINDAVOX.INI, bytes,
// default 10 MiB; 0 never), the writer that finds it so renames it to PREPAID.HIS.1 (replacing
// an older one) under an flock on the file, so two writers never rotate twice. Writers open the
// file anew for every change (an import once, checking before each line that the name still
// holds its file), so a rotation by logrotate (rename, no copytruncate) works as well.
//
// Order of the writes: a change's line is appended after its card write, under the record's
// lock, so a change that did not take effect is never listed. A full disk does not come in
// between: before a card is changed, room for the next lines is allocated beyond the history's
// end (fallocate with FALLOC_FL_KEEP_SIZE, kHistoryReserve bytes); when that fails, the change
// is not made. A kill between the card write and the line is settled by the next writer: the
// import and the compaction through their journals (import_journal.h, history_drops.h), a
// single change (editor, command line, Prepaid_Write) through the intent it announced right
// before its card write (history_intents.h).
#ifndef LINDAVOX_STORE_CARD_HISTORY_H
#define LINDAVOX_STORE_CARD_HISTORY_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"
#include "store/prepaid.h"

namespace store {

inline constexpr const char* kHistoryName = "PREPAID.HIS";
inline constexpr uint32_t kDefaultHistoryLimit = 10u << 20;
inline constexpr off_t kHistoryReserve = 64 << 10;

// [History] of LINDAVOX.INI in the data directory.
struct HistorySettings {
  uint64_t limit = kDefaultHistoryLimit;  // MaxSize: rotate at this size; 0: never
  bool charges = false;                   // Charges=1: Prepaid_Write is recorded too
  bool phoneNumbers = false;              // PhoneNumbers=1: the new number itself is listed
};
// Read anew only when LINDAVOX.INI changed since the last call (a stat per call), so a
// charge pays no INI parse.
HistorySettings ReadHistorySettings(const char* dataDir);

// Who made a change.
struct HistorySource {
  std::string program;
  std::string detail;
};

// One line of the history.
struct HistoryEntry {
  int64_t time = 0;    // seconds since 1970, UTC
  int32_t offset = 0;  // seconds east of UTC
  std::string user, program, detail;
  int32_t card = 0;
  int32_t balanceBefore = 0, balanceAfter = 0;
  bool lockedBefore = false, lockedAfter = false, phoneChanged = false;
  std::string phone;
  // The fields that tell one change from another (not its time, user or number).
  bool SameChange(const HistoryEntry& other) const;
};

extern const char* const kHistoryHeader;                   // the header line, without its line end
std::string FormatHistoryLine(const HistoryEntry& entry);  // ends with '\n'
// False for the header and for a line that is not a history line.
bool ParseHistoryLine(std::string_view line, HistoryEntry* entry);
// The entry for a change now, by the calling user.
HistoryEntry MakeHistoryEntry(const HistorySource& source, const PrepaidCard& before,
                              const PrepaidCard& after, bool withPhone);

// Where the history stood: the file and its size. All 0 when it is not known.
struct HistoryStamp {
  uint64_t device = 0, inode = 0, size = 0;
};

class HistoryIntents;

// The history of one data directory, opened for appending.
class CardHistory {
 public:
  explicit CardHistory(const char* dataDir);
  ~CardHistory();
  CardHistory(const CardHistory&) = delete;
  CardHistory& operator=(const CardHistory&) = delete;

  // Opens (creating) the history. 0 or an errno value (platform::kUntrustedLink for a planted
  // link); nothing is written then. Check before changing a card, so a change is never made
  // that cannot be listed. Lists first what single changes of killed writers left unlisted.
  int Open();
  // For a single change: announces it under the record's lock right before its card write
  // (history_intents.h), so that Record's line is listed once even if the writer is killed in
  // between. 0 or an errno value: the change must not be made then.
  int Intend(const HistorySource& source, int32_t index, const PrepaidCard& before,
             const PrepaidCard& after);
  // Makes sure the next `bytes` (at least kHistoryReserve) of the file are allocated, so the
  // lines of changes made now cannot meet a full disk. 0 or an errno value (ENOSPC). Open()
  // reserves too; an import reserves again before each group of card writes. A file system
  // without fallocate counts as done.
  int Reserve(off_t bytes = 0) const;
  // Appends the line of one change. False, with error() set, when it could not be written.
  bool Record(const HistorySource& source, const PrepaidCard& before, const PrepaidCard& after);
  // Appends whole lines (each ending with '\n'), in writes of whole lines.
  bool Append(std::string_view lines);
  // The file and its size now; false when it is not open.
  bool Stamp(HistoryStamp* stamp) const;
  // The first failure of Record or Append; 0 when all went in.
  int error() const { return error_; }
  const std::string& path() const { return path_; }
  const HistorySettings& settings() const { return settings_; }

 private:
  int Reopen();
  bool WriteLines(std::string_view lines, off_t* size);
  void RotateWhenFull(off_t size);

  std::string dataDir_;
  std::string path_;  // PREPAID.HIS in the data directory
  std::string file_;  // the file it names once trusted links are followed
  HistorySettings settings_;
  std::string user_;  // the calling user, looked up once
  platform::UniqueFd fd_;
  dev_t device_ = 0;  // the open file
  ino_t inode_ = 0;
  int error_ = 0;
  std::unique_ptr<HistoryIntents> intents_;
  std::string intended_;  // the line Intend announced, for Record
};

// Opens `path`, the history or a file its writers share beside it, under the rules of shared
// folders: links followed only when trusted (`*file`: the file reached), created exclusively
// with the folder's group when `flags` hold O_CREAT and nothing is there (`*created`), an
// ordinary file only (`*status`), left blocking. 0 or an errno value.
int OpenHistoryFile(const std::string& path, int flags, std::string* file, platform::UniqueFd* fd,
                    struct stat* status, bool* created = nullptr);

// Reads the history of `dataDir`, the rotated generation PREPAID.HIS.1 first, and passes each
// line to `line` in file order (the raw line without its end) until it returns false. Missing
// files count as empty. Returns 0 or an errno value (a planted link: kUntrustedLink).
int ReadHistoryLines(const char* dataDir, const std::function<bool(std::string_view)>& line);

// The lines appended to the history since `from` (the current file from there on, and, when the
// file was rotated since, the rest of PREPAID.HIS.1 too; an unknown `from`: both whole).
int ReadHistorySince(const char* dataDir, const HistoryStamp& from,
                     const std::function<bool(std::string_view)>& line);

}  // namespace store

#endif
