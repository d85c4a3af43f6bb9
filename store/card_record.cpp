#include "store/card_record.h"

#include <cstring>

#include "platform/little_endian.h"

namespace store {

using platform::LoadLE32;
using platform::LoadLE32Signed;
using platform::StoreLE32;

void DecodeCard(const unsigned char* bytes, PrepaidCard* card) {
  card->cardNumber = LoadLE32Signed(bytes + field::kCardNumber);
  card->balance = LoadLE32Signed(bytes + field::kBalance);
  card->reserved[0] = bytes[field::kReserved];
  card->reserved[1] = bytes[field::kReserved + 1];
  card->telefonDigits = bytes[field::kTelefonDigits];
  card->lastDigits = bytes[field::kLastDigits];
  card->lastHigh = LoadLE32Signed(bytes + field::kLastHigh);
  card->lastLow = LoadLE32Signed(bytes + field::kLastLow);
  card->flags = LoadLE32(bytes + field::kFlags);
  card->telefonHigh = LoadLE32Signed(bytes + field::kTelefonHigh);
  card->telefonLow = LoadLE32Signed(bytes + field::kTelefonLow);
}

void EncodeCard(const PrepaidCard& card, unsigned char* bytes) {
  StoreLE32(bytes + field::kCardNumber, card.cardNumber);
  StoreLE32(bytes + field::kBalance, card.balance);
  bytes[field::kReserved] = card.reserved[0];
  bytes[field::kReserved + 1] = card.reserved[1];
  bytes[field::kTelefonDigits] = card.telefonDigits;
  bytes[field::kLastDigits] = card.lastDigits;
  StoreLE32(bytes + field::kLastHigh, card.lastHigh);
  StoreLE32(bytes + field::kLastLow, card.lastLow);
  StoreLE32(bytes + field::kFlags, card.flags);
  StoreLE32(bytes + field::kTelefonHigh, card.telefonHigh);
  StoreLE32(bytes + field::kTelefonLow, card.telefonLow);
}

bool SameCardBytes(const PrepaidCard& a, const PrepaidCard& b) {
  unsigned char ea[kRecordSize], eb[kRecordSize];
  EncodeCard(a, ea);
  EncodeCard(b, eb);
  return std::memcmp(ea, eb, kRecordSize) == 0;
}

bool CardLocked(const PrepaidCard& card) { return (card.flags & PREPAID_CARD_LOCKED) != 0; }

bool SameTelefon(const PrepaidCard& a, const PrepaidCard& b) {
  return a.telefonDigits == b.telefonDigits && a.telefonHigh == b.telefonHigh &&
         a.telefonLow == b.telefonLow;
}

}  // namespace store
