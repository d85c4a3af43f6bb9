// The compaction of PREPAID.DAT (Prepaid_Reorganize, prepaid.h), telling what it did.
#ifndef LINDAVOX_STORE_REORGANIZE_H
#define LINDAVOX_STORE_REORGANIZE_H

#include <cstdint>
#include <string>

namespace store {

// The records a compaction went over; valid when it succeeded.
struct ReorganizeReport {
  int64_t kept = 0;           // cards with units
  int64_t dropped = 0;        // cards without units
  int64_t trailingBytes = 0;  // bytes after the last whole record, dropped too
  // When it failed: the file that could not be opened, read, written or replaced, and the
  // errno value of that step (kSharingViolation: another program has the card file open).
  std::string failedPath;
  int error = 0;
};

struct ReorganizeOptions {
  // Read the card file as the compaction would and count, without keeping other writers out
  // and without writing anything.
  bool dryRun = false;
};

// Prepaid_Reorganize with the counts in `*report` (may be null).
int32_t Reorganize(const char* dataDir, ReorganizeReport* report,
                   const ReorganizeOptions& options = {});

}  // namespace store

#endif
