// Prepaid_GetSerialNumber: card codes to card numbers, with the tables of PREPAID.BIN.
//
// A code hides a card number: every position has its own ten symbols for the digits, the
// decoded digits are put into another order, and the digits after the card number must match a
// check word stored for that number. Everything the decoder indexes (16 positions, 10 symbols a
// row, the check word table) is bounded before it is read.
#include <cstring>
#include <string>

#include "store/card_code.h"

#include "platform/c_boundary.h"
#include "platform/little_endian.h"
#include "store/card_record.h"
#include "store/store_internal.h"
#include "util/file_open_internal.h"

namespace store {
namespace {

constexpr size_t kDigitsPerRow = 10;

// Replaces each symbol of `code` by its digit character; false at the first symbol that its row
// does not hold (`*failed`), with the symbols before it already replaced.
bool DecodeSymbols(const unsigned char* head, char* code, size_t length, size_t* failed) {
  for (size_t i = 0; i < length; ++i) {
    const unsigned char* row = head + header::kSymbolTable + i * kDigitsPerRow;
    const void* hit = std::memchr(row, static_cast<unsigned char>(code[i]), kDigitsPerRow);
    if (!hit) {
      *failed = i;
      return false;
    }
    code[i] = static_cast<char>('0' + (static_cast<const unsigned char*>(hit) - row));
  }
  return true;
}

// The decoded digits in the order of the position table; false when a position number from 1
// to `length` is missing from its first `length` entries (`*failed` + 1).
bool Reorder(const unsigned char* head, const char* digits, size_t length, std::string* result,
             size_t* failed) {
  const unsigned char* positions = head + header::kPositionTable;
  result->assign(length, '0');
  for (size_t i = 0; i < length; ++i) {
    const void* hit = std::memchr(positions, static_cast<int>(i + 1), length);
    if (!hit) {
      *failed = i;
      return false;
    }
    (*result)[static_cast<size_t>(static_cast<const unsigned char*>(hit) - positions)] = digits[i];
  }
  return true;
}

// At most 16 digits, so the value always fits.
uint64_t DecimalValue(const char* digits, size_t count) {
  uint64_t value = 0;
  for (size_t i = 0; i < count; ++i) value = value * 10 + static_cast<uint64_t>(digits[i] - '0');
  return value;
}

CodeCheck Verdict(CodeVerdict verdict, size_t position = 0) {
  return CodeCheck{verdict, -1, position};
}

// The most digits a 32-bit card number has: code tables that give card numbers more (a check
// length above the code length wraps the count to 65535) decode no code.
constexpr uint16_t kWidestCardNumber = 10;

CodeCheck Decode(const char* dataDir, char* code, uint16_t cardDigits) {
  const size_t length = std::strlen(code);
  if (length > kCodePositions) return Verdict(CodeVerdict::kTooLong);  // 16 positions at most
  platform::SharedFile file;
  if (util::OpenAsFopen(StorePath(dataDir, "PREPAID.BIN"), "rb", false, &file) != 0) {
    return Verdict(CodeVerdict::kNoCodeFile);
  }
  unsigned char head[kBinHeaderSize];
  if (file.ReadAt(head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) {
    return Verdict(CodeVerdict::kNoCodeFile);
  }
  std::string reordered;
  size_t failed = 0;
  if (!DecodeSymbols(head, code, length, &failed)) {
    return Verdict(CodeVerdict::kUnknownSymbol, failed);
  }
  if (cardDigits > kWidestCardNumber) return Verdict(CodeVerdict::kCardDigitsOutOfRange);
  // A code too short for a card number is told as such, whatever the position table says.
  if (length < cardDigits) return Verdict(CodeVerdict::kTooShort);
  if (!Reorder(head, code, length, &reordered, &failed)) {
    return Verdict(CodeVerdict::kUnknownPosition, failed);
  }
  const uint64_t cardNumber = DecimalValue(reordered.data(), cardDigits);
  if (cardNumber > INT32_MAX) return Verdict(CodeVerdict::kCardOutOfRange);
  const uint64_t check = DecimalValue(reordered.data() + cardDigits, length - cardDigits);
  unsigned char word[2];
  const off_t at = static_cast<off_t>(kBinHeaderSize + 2 * cardNumber);
  if (file.ReadAt(word, sizeof word, at) != static_cast<ssize_t>(sizeof word)) {
    return Verdict(CodeVerdict::kNoCheckWord);
  }
  const uint64_t expected =
      uint64_t{platform::LoadLE16(word)} + platform::LoadLE16(head + header::kCheckOffset);
  if (check != expected) return Verdict(CodeVerdict::kCheckMismatch);
  return CodeCheck{CodeVerdict::kValid, static_cast<int32_t>(cardNumber), 0};
}

}  // namespace

CodeCheck CheckCardCode(const char* dataDir, char* code, uint16_t cardDigits) {
  return platform::CallNoThrow<CodeCheck>(Verdict(CodeVerdict::kNoCodeFile),
                                          [&] { return Decode(dataDir, code, cardDigits); });
}

}  // namespace store

int32_t Prepaid_GetSerialNumber(const char* dataDir, char* code, const PrepaidConfig* config) {
  if (!dataDir || !code || !config) return -1;
  return store::CheckCardCode(dataDir, code, config->cardDigits).cardNumber;
}
