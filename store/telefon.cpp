#include "store/telefon.h"

#include <algorithm>
#include <cstdio>

#include "util/decimal.h"

namespace store {
namespace {

constexpr size_t kLowDigits = 9;
constexpr int32_t kLargestLow = 999'999'999;

size_t DecimalLength(int32_t value) { return std::to_string(value).size(); }

}  // namespace

std::string TelefonText(const PrepaidCard& card, size_t capacity) {
  char formatted[32] = "";
  if (card.telefonDigits >= 10) {
    std::snprintf(formatted, sizeof formatted, "%d%09d", card.telefonHigh, card.telefonLow);
  } else if (card.telefonDigits >= 1) {
    std::snprintf(formatted, sizeof formatted, "%d", card.telefonLow);
  }
  std::string text = formatted;
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
  std::string text;
  if (card.lastDigits >= 10) {
    text = std::to_string(card.lastHigh) + std::to_string(card.lastLow);
  } else if (card.lastDigits >= 1) {
    text = std::to_string(card.lastLow);
  }
  if (text.size() < card.lastDigits) text.insert(0, card.lastDigits - text.size(), '0');
  return text;
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
