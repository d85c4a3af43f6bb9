// Card codes decoded with the tables of PREPAID.BIN, telling why a code is not valid
// (Prepaid_GetSerialNumber gives only -1 for every failure).
#ifndef LINDAVOX_STORE_CARD_CODE_H
#define LINDAVOX_STORE_CARD_CODE_H

#include <cstddef>
#include <cstdint>

namespace store {

enum class CodeVerdict {
  kValid,
  kNoCodeFile,            // PREPAID.BIN missing, not an ordinary file, or its header incomplete
  kCardDigitsOutOfRange,  // PREPAID.BIN gives card numbers more than 10 digits: no code fits
  kTooLong,               // more than 16 symbols
  kUnknownSymbol,         // the symbol at `position` is not in its row of the symbol table
  kUnknownPosition,       // the position table lacks the position number `position` + 1
  kTooShort,              // fewer symbols than the card number has digits
  kCardOutOfRange,        // the card number does not fit in 32 bits
  kNoCheckWord,           // the check word table ends before the card number
  kCheckMismatch,         // the check digits do not match the card's check word
};

struct CodeCheck {
  CodeVerdict verdict = CodeVerdict::kNoCodeFile;
  int32_t cardNumber = -1;  // the card number when valid
  size_t position = 0;      // the code position an unknown symbol or position concerns
};

// Decodes `code` in place as Prepaid_GetSerialNumber does (prepaid.h).
CodeCheck CheckCardCode(const char* dataDir, char* code, uint16_t cardDigits);

}  // namespace store

#endif
