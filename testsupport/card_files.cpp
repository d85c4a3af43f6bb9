#include "testsupport/card_files.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>

#include "testsupport/temp_dir.h"

namespace testsupport {
namespace {

void Put32(std::string* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(value >> shift));
}

void Put16(std::string* out, uint16_t value) {
  out->push_back(static_cast<char>(value));
  out->push_back(static_cast<char>(value >> 8));
}

uint32_t Get32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// Splits a digit text into the number before the last nine digits and the last nine.
void SplitNumber(const std::string& digits, int32_t* high, int32_t* low, uint8_t* count) {
  const size_t split = digits.size() > 9 ? digits.size() - 9 : 0;
  *high = split ? static_cast<int32_t>(std::stoll(digits.substr(0, split))) : 0;
  *low = digits.size() > split ? static_cast<int32_t>(std::stoll(digits.substr(split))) : 0;
  *count = static_cast<uint8_t>(digits.size());
}

}  // namespace

CardBuilder::CardBuilder(int32_t cardNumber) : card_{} { card_.cardNumber = cardNumber; }

CardBuilder& CardBuilder::Balance(int32_t units) {
  card_.balance = units;
  return *this;
}

CardBuilder& CardBuilder::Telefon(const std::string& digits) {
  SplitNumber(digits, &card_.telefonHigh, &card_.telefonLow, &card_.telefonDigits);
  return *this;
}

CardBuilder& CardBuilder::Last(const std::string& digits) {
  SplitNumber(digits, &card_.lastHigh, &card_.lastLow, &card_.lastDigits);
  return *this;
}

CardBuilder& CardBuilder::Flags(uint32_t flags) {
  card_.flags = flags;
  return *this;
}

CardBuilder& CardBuilder::Locked() {
  card_.flags |= PREPAID_CARD_LOCKED;
  return *this;
}

CardBuilder& CardBuilder::Reserved(uint8_t first, uint8_t second) {
  card_.reserved[0] = first;
  card_.reserved[1] = second;
  return *this;
}

std::string CardBytes(const PrepaidCard& card) {
  std::string out;
  Put32(&out, static_cast<uint32_t>(card.cardNumber));
  Put32(&out, static_cast<uint32_t>(card.balance));
  out.push_back(static_cast<char>(card.reserved[0]));
  out.push_back(static_cast<char>(card.reserved[1]));
  out.push_back(static_cast<char>(card.telefonDigits));
  out.push_back(static_cast<char>(card.lastDigits));
  Put32(&out, static_cast<uint32_t>(card.lastHigh));
  Put32(&out, static_cast<uint32_t>(card.lastLow));
  Put32(&out, card.flags);
  Put32(&out, static_cast<uint32_t>(card.telefonHigh));
  Put32(&out, static_cast<uint32_t>(card.telefonLow));
  return out;
}

void WriteCardFile(const std::string& path, const std::vector<PrepaidCard>& cards,
                   const std::string& trailing) {
  std::string bytes;
  bytes.reserve(cards.size() * 32 + trailing.size());
  for (const PrepaidCard& card : cards) bytes += CardBytes(card);
  WriteFile(path, bytes + trailing);
}

std::vector<PrepaidCard> ReadCardFile(const std::string& path) {
  const std::string bytes = ReadFile(path);
  std::vector<PrepaidCard> cards;
  for (size_t at = 0; at + 32 <= bytes.size(); at += 32) {
    PrepaidCard card{};
    card.cardNumber = static_cast<int32_t>(Get32(bytes, at));
    card.balance = static_cast<int32_t>(Get32(bytes, at + 4));
    card.reserved[0] = static_cast<uint8_t>(bytes[at + 8]);
    card.reserved[1] = static_cast<uint8_t>(bytes[at + 9]);
    card.telefonDigits = static_cast<uint8_t>(bytes[at + 10]);
    card.lastDigits = static_cast<uint8_t>(bytes[at + 11]);
    card.lastHigh = static_cast<int32_t>(Get32(bytes, at + 12));
    card.lastLow = static_cast<int32_t>(Get32(bytes, at + 16));
    card.flags = Get32(bytes, at + 20);
    card.telefonHigh = static_cast<int32_t>(Get32(bytes, at + 24));
    card.telefonLow = static_cast<int32_t>(Get32(bytes, at + 28));
    cards.push_back(card);
  }
  return cards;
}

std::string NumberText(int32_t high, int32_t low, uint8_t digits) {
  std::string text;
  if (digits >= 10) {
    char lowPart[16];
    std::snprintf(lowPart, sizeof lowPart, "%09d", low);
    text = std::to_string(high) + lowPart;
  } else if (digits > 0) {
    text = std::to_string(low);
  }
  if (text.size() < digits) text.insert(0, digits - text.size(), '0');
  return text;
}

bool SameCard(const PrepaidCard& a, const PrepaidCard& b) { return CardBytes(a) == CardBytes(b); }

CodeTables MakeCodeTables(int cardDigits, int checkDigits, int cardCount, uint32_t seed) {
  static const char kSymbols[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghjkmnpqrstuvwxyz23456789#*";
  std::mt19937 random(seed);
  CodeTables tables;
  const int length = std::min(cardDigits + checkDigits, 16);
  tables.codeLength = static_cast<uint16_t>(length);
  tables.checkLength = static_cast<uint16_t>(checkDigits);
  std::vector<uint8_t> order(static_cast<size_t>(length));
  std::iota(order.begin(), order.end(), 1);
  std::shuffle(order.begin(), order.end(), random);
  std::copy(order.begin(), order.end(), tables.positionTable);
  for (auto& row : tables.symbolTable) {
    std::string symbols(kSymbols);
    std::shuffle(symbols.begin(), symbols.end(), random);
    std::copy_n(symbols.begin(), 10, row);
  }
  // Every check value W + checkOffset must fit in checkDigits decimal digits.
  long limit = 1;
  for (int i = 0; i < checkDigits && limit <= 65535L * 2; ++i) limit *= 10;
  const long offsetRoom = std::max<long>(1, std::min<long>(limit / 4, 65535));  // 1: offset 0
  tables.checkOffset = static_cast<uint16_t>(random() % static_cast<uint32_t>(offsetRoom));
  const long wordRoom = std::min<long>(limit - tables.checkOffset, 65536);
  tables.checkWords.resize(static_cast<size_t>(cardCount));
  for (auto& word : tables.checkWords) {
    word = static_cast<uint16_t>(random() % static_cast<uint32_t>(wordRoom));
  }
  return tables;
}

std::string BinBytes(const CodeTables& tables) {
  std::string out;
  Put16(&out, tables.word0);
  Put16(&out, tables.codeLength);
  Put16(&out, tables.checkLength);
  Put16(&out, tables.checkOffset);
  out.append(reinterpret_cast<const char*>(tables.positionTable), 16);
  out.append(reinterpret_cast<const char*>(tables.symbolTable), 160);
  for (uint16_t word : tables.checkWords) Put16(&out, word);
  return out;
}

void WriteBinFile(const std::string& path, const CodeTables& tables) {
  WriteFile(path, BinBytes(tables));
}

std::string EncodeCardCode(const CodeTables& tables, int32_t cardNumber) {
  const int length = tables.codeLength;
  const int cardDigits = tables.codeLength - tables.checkLength;
  const unsigned check =
      tables.checkWords.at(static_cast<size_t>(cardNumber)) + unsigned{tables.checkOffset};
  char digits[40];
  std::snprintf(digits, sizeof digits, "%0*d", cardDigits, cardNumber);
  if (tables.checkLength > 0) {
    std::snprintf(digits + cardDigits, sizeof digits - static_cast<size_t>(cardDigits), "%0*u",
                  static_cast<int>(tables.checkLength), check);
  }
  // Digit j of the reordered result comes from code position positionTable[j] - 1.
  std::string code(static_cast<size_t>(length), '?');
  for (int j = 0; j < length; ++j) {
    const int position = tables.positionTable[j] - 1;
    code[static_cast<size_t>(position)] =
        static_cast<char>(tables.symbolTable[position][digits[j] - '0']);
  }
  return code;
}

}  // namespace testsupport
