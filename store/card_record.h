// The 32-byte card record of PREPAID.DAT and the 184-byte header of PREPAID.BIN, field by
// field in little-endian order.
#ifndef LINDAVOX_STORE_CARD_RECORD_H
#define LINDAVOX_STORE_CARD_RECORD_H

#include <cstddef>
#include <cstdint>

#include "store/prepaid.h"

namespace store {

inline constexpr size_t kRecordSize = PREPAID_RECORD_SIZE;

// Byte offsets of the record fields.
namespace field {
inline constexpr size_t kCardNumber = 0;
inline constexpr size_t kBalance = 4;
inline constexpr size_t kReserved = 8;
inline constexpr size_t kTelefonDigits = 10;
inline constexpr size_t kLastDigits = 11;
inline constexpr size_t kLastHigh = 12;
inline constexpr size_t kLastLow = 16;
inline constexpr size_t kFlags = 20;
inline constexpr size_t kTelefonHigh = 24;
inline constexpr size_t kTelefonLow = 28;
}  // namespace field

void DecodeCard(const unsigned char* bytes, PrepaidCard* card);
void EncodeCard(const PrepaidCard& card, unsigned char* bytes);
// True when the two records have the same 32 bytes on disk.
bool SameCardBytes(const PrepaidCard& a, const PrepaidCard& b);
// True when the card is locked.
bool CardLocked(const PrepaidCard& card);
// True when the two records hold the same telephone number (digit count and both parts).
bool SameTelefon(const PrepaidCard& a, const PrepaidCard& b);

// The header of PREPAID.BIN, as far as the store reads it.
inline constexpr size_t kBinHeaderSize = 184;
namespace header {
inline constexpr size_t kCodeLength = 2;
inline constexpr size_t kCheckLength = 4;
inline constexpr size_t kCheckOffset = 6;
inline constexpr size_t kPositionTable = 8;  // 16 bytes
inline constexpr size_t kSymbolTable = 24;   // 16 rows of 10 bytes
}  // namespace header
inline constexpr size_t kCodePositions = 16;
// The check word of card number k lies at kBinHeaderSize + 2 * k.

}  // namespace store

#endif
