// Writing and reading card store files for tests, benchmarks and the demo: PREPAID.DAT records
// field by field and PREPAID.BIN with consistent code tables (configuration files: ini_text.h).
// The encoders here are written independently of the store's own, so tests compare two
// implementations of the same format.
#ifndef LINDAVOX_TESTSUPPORT_CARD_FILES_H
#define LINDAVOX_TESTSUPPORT_CARD_FILES_H

#include <cstdint>
#include <string>
#include <vector>

#include "store/prepaid.h"

namespace testsupport {

// Builds a PrepaidCard: CardBuilder(4711).Balance(250).Telefon("0301234567").Locked().Build().
class CardBuilder {
 public:
  explicit CardBuilder(int32_t cardNumber);
  CardBuilder& Balance(int32_t units);
  // The telephone number from its digit text: the last nine digits in telefonLow, the digits
  // before them in telefonHigh, the text's length in telefonDigits.
  CardBuilder& Telefon(const std::string& digits);
  // The last number, split the same way.
  CardBuilder& Last(const std::string& digits);
  CardBuilder& Flags(uint32_t flags);
  CardBuilder& Locked();
  CardBuilder& Reserved(uint8_t first, uint8_t second);
  PrepaidCard Build() const { return card_; }

 private:
  PrepaidCard card_;
};

// The 32 bytes of a record.
std::string CardBytes(const PrepaidCard& card);
// PREPAID.DAT with these records, followed by `trailing` raw bytes.
void WriteCardFile(const std::string& path, const std::vector<PrepaidCard>& cards,
                   const std::string& trailing = "");
// The whole records of a card file.
std::vector<PrepaidCard> ReadCardFile(const std::string& path);
// The telephone or last number as its digit text, rebuilt from the two parts and the count.
std::string NumberText(int32_t high, int32_t low, uint8_t digits);
bool SameCard(const PrepaidCard& a, const PrepaidCard& b);

// The code tables of PREPAID.BIN.
struct CodeTables {
  uint16_t word0 = 0x4C56;  // the two bytes at offset 0, unread by the store
  uint16_t codeLength = 0;
  uint16_t checkLength = 0;
  uint16_t checkOffset = 0;
  uint8_t positionTable[16] = {};
  uint8_t symbolTable[16][10] = {};
  std::vector<uint16_t> checkWords;  // one per card number, from 0
};

// Tables for card codes of `cardDigits` + `checkDigits` positions (at most 16) and check words
// for card numbers 0 to cardCount - 1, chosen at random from `seed`: every row holds ten
// distinct symbols, the position table is a permutation, and every check value fits in
// `checkDigits` digits.
CodeTables MakeCodeTables(int cardDigits, int checkDigits, int cardCount, uint32_t seed);
std::string BinBytes(const CodeTables& tables);
void WriteBinFile(const std::string& path, const CodeTables& tables);
// The card code that stands for `cardNumber` under `tables`.
std::string EncodeCardCode(const CodeTables& tables, int32_t cardNumber);

}  // namespace testsupport

#endif
