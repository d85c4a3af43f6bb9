// The C++ side of the card store, shared by its modules and the export tables.
#ifndef LINDAVOX_STORE_STORE_INTERNAL_H
#define LINDAVOX_STORE_STORE_INTERNAL_H

#include <cstdint>
#include <string>

#include "store/prepaid.h"

namespace store {

// The highest record index the C interface can name (it is a signed 32-bit number).
inline constexpr int64_t kLastIndex = INT32_MAX;

// The path of a store file: the directory prefix followed by the fixed name.
std::string StorePath(const char* dir, const char* name);

// True when `path` names an existing ordinary file (not a folder, pipe or device). The store
// looks a file up this way before opening it, so a missing file is told apart from one that
// cannot be opened, and a pipe never blocks a lookup.
bool StoreFileExists(const std::string& path);

// The two generations of the telephone search: the card editor's skips cards without units,
// the balance query's matches on the telephone number alone.
enum class TelefonMatch { kWithUnitsOnly, kAnyBalance };

// Reads the whole record at `index` of PREPAID.DAT (shared, like every store access); false
// when the file or the record is missing. Callers that rewrite a record they found earlier read
// it again first, so fields another process changed meanwhile are kept.
bool ReadCardAt(const char* dataDir, int32_t index, PrepaidCard* card);

int32_t SearchTelefon(const char* dataDir, uint8_t enabled, int32_t telefonLow, int32_t telefonHigh,
                      int32_t* index, PrepaidCard* card, TelefonMatch match);

}  // namespace store

#endif
