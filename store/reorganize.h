// The compaction of PREPAID.DAT (Prepaid_Reorganize, prepaid.h), telling what it did.
#ifndef LINDAVOX_STORE_REORGANIZE_H
#define LINDAVOX_STORE_REORGANIZE_H

#include <cstdint>

namespace store {

// The records a compaction went over; valid when it succeeded.
struct ReorganizeReport {
  int64_t kept = 0;     // cards with units
  int64_t dropped = 0;  // cards without units
};

// Prepaid_Reorganize with the counts in `*report` (may be null).
int32_t Reorganize(const char* dataDir, ReorganizeReport* report);

}  // namespace store

#endif
