#include "store/telefon.h"

#include <algorithm>
#include <cstring>

#include "store/number_text.h"
#include "util/decimal.h"

namespace store {
namespace {

constexpr size_t kLowDigits = 9;
constexpr int32_t kLargestLow = 999'999'999;

size_t DecimalLength(int32_t value) { return std::to_string(value).size(); }

// The digits of the number before leading zeros are added ("%d%09d" of both parts from ten
// digits on, "%d" of the low part from one to nine, nothing for none); `lowWidth` is 9 for the
// telephone number's low part and 0 for the last number's. `out` has room for 22 characters.
char* WriteParts(uint8_t digits, int32_t high, int32_t low, size_t lowWidth, char* out) {
  if (digits >= 10) return WriteZeroPadded(low, lowWidth, WriteDecimal(high, out));
  if (digits >= 1) return WriteDecimal(low, out);
  return out;
}

// Zeros in front of the `length` characters at `text` up to `digits` characters in all.
char* PadWithZeros(char* text, size_t length, size_t digits) {
  if (length >= digits) return text + length;
  std::memmove(text + (digits - length), text, length);
  std::memset(text, '0', digits - length);
  return text + digits;
}

}  // namespace

char* WriteTelefonText(const PrepaidCard& card, char* out) {
  char* const end =
      WriteParts(card.telefonDigits, card.telefonHigh, card.telefonLow, kLowDigits, out);
  return PadWithZeros(out, static_cast<size_t>(end - out), card.telefonDigits);
}

char* WriteLastNumberText(const PrepaidCard& card, char* out) {
  char* const end = WriteParts(card.lastDigits, card.lastHigh, card.lastLow, 0, out);
  return PadWithZeros(out, static_cast<size_t>(end - out), card.lastDigits);
}

std::string TelefonText(const PrepaidCard& card, size_t capacity) {
  char formatted[kNumberTextRoom];
  std::string text(formatted, WriteParts(card.telefonDigits, card.telefonHigh, card.telefonLow,
                                         kLowDigits, formatted));
  size_t wanted = std::min<size_t>(card.telefonDigits, capacity > 0 ? capacity - 1 : 0);
  if (text.size() < wanted) text.insert(0, wanted - text.size(), '0');
  if (text.size() >= capacity && capacity > 0) text.resize(capacity - 1);
  return text;
}

void SetTelefon(PrepaidCard* card, const std::string& text) {
  const size_t length = text.size();
  const size_t split = length > kLowDigits ? length - kLowDigits : 0;
  card->telefonLow = util::ParseDecimal32(text.c_str() + split);
  card->telefonHigh = split > 0 ? util::ParseDecimal32(text.substr(0, split).c_str()) : 0;
  card->telefonDigits = static_cast<uint8_t>(std::min<size_t>(length, 255));
}

bool TelefonFits(std::string_view text) {
  if (text.size() > 255) return false;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  if (text.size() <= kLowDigits) return true;
  std::string_view high = text.substr(0, text.size() - kLowDigits);
  high.remove_prefix(std::min(high.find_first_not_of('0'), high.size()));
  return high.size() < 10 || (high.size() == 10 && high <= "2147483647");
}

std::string LastNumberText(const PrepaidCard& card) {
  char text[kNumberTextRoom];
  return std::string(text, WriteLastNumberText(card, text));
}

bool TelefonDigitsFit(const PrepaidCard& card) {
  const int32_t high = card.telefonHigh, low = card.telefonLow;
  if (high < 0 || low < 0 || low > kLargestLow) return false;
  if (card.telefonDigits == 0) return high == 0 && low == 0;
  if (card.telefonDigits < 10) return high == 0 && DecimalLength(low) <= card.telefonDigits;
  return DecimalLength(high) + kLowDigits <= card.telefonDigits;
}

bool LastDigitsFit(const PrepaidCard& card) {
  const int32_t high = card.lastHigh, low = card.lastLow;
  if (high < 0 || low < 0) return false;
  if (card.lastDigits == 0) return high == 0 && low == 0;
  if (card.lastDigits < 10) return high == 0 && DecimalLength(low) <= card.lastDigits;
  return DecimalLength(high) + DecimalLength(low) <= card.lastDigits;
}

}  // namespace store
