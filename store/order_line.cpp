#include "store/order_line.h"

#include <string>

namespace store {
namespace {

enum class Number { kRead, kNone, kTooLarge, kTooSmall };

// Reads a number as the import always has (leading blanks, a sign, digits up to the first
// other character) but says when there is none and when it does not fit in 32 bits.
Number ReadNumber(const std::string& field, int32_t* value) {
  size_t at = field.find_first_not_of(" \t\v\f");
  if (at == std::string::npos) return Number::kNone;
  const bool negative = field[at] == '-';
  if (field[at] == '+' || field[at] == '-') ++at;
  int64_t magnitude = 0;
  const size_t digits = at;
  for (; at < field.size() && field[at] >= '0' && field[at] <= '9'; ++at) {
    if (magnitude <= INT32_MAX) magnitude = magnitude * 10 + (field[at] - '0');
  }
  if (at == digits) return Number::kNone;
  const int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > INT32_MAX) return Number::kTooLarge;
  if (signedValue < INT32_MIN) return Number::kTooSmall;
  *value = static_cast<int32_t>(signedValue);
  return Number::kRead;
}

bool HoldsControlCharacter(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return true;
  }
  return false;
}

LineFault ReadCardNumber(const std::string& field, int32_t* card) {
  switch (ReadNumber(field, card)) {
    case Number::kRead:
      return *card < 0 ? LineFault::kNegativeCardNumber : LineFault::kNone;
    case Number::kNone:
      return LineFault::kNoCardNumber;
    case Number::kTooLarge:
      return LineFault::kCardNumberTooLarge;
    case Number::kTooSmall:
      return LineFault::kNegativeCardNumber;
  }
  return LineFault::kNoCardNumber;
}

LineFault ReadAmount(const std::string& field, int32_t* amount) {
  switch (ReadNumber(field, amount)) {
    case Number::kRead:
      return LineFault::kNone;
    case Number::kNone:
      return LineFault::kNoAmount;
    case Number::kTooLarge:
    case Number::kTooSmall:
      return LineFault::kAmountOutOfRange;
  }
  return LineFault::kNoAmount;
}

}  // namespace

const char* LineFaultText(LineFault fault) {
  switch (fault) {
    case LineFault::kNone:
      return "";
    case LineFault::kTooFewFields:
      return "this line has fewer than two fields; it and the lines after it were not imported";
    case LineFault::kBalanceOverflow:
      return "the new balance of the card would not fit in 32 bits";
    case LineFault::kUndecidable:
      return "the import was interrupted here and the card or the card file was changed since; "
             "it cannot be told whether this order was applied";
    case LineFault::kJournalDamaged:
      return "the import journal PREPAID.INJ is damaged; "
             "it cannot be told which of these orders were applied";
    case LineFault::kControlCharacter:
      return "this line holds a control character (a byte below 32 other than the tab, such as "
             "Ctrl-Z or a zero byte)";
    case LineFault::kTooLong:
      return "this line is longer than 65536 characters";
    case LineFault::kNoCardNumber:
      return "the card number field holds no number";
    case LineFault::kCardNumberTooLarge:
      return "the card number is larger than 2147483647, the largest a card can have";
    case LineFault::kNegativeCardNumber:
      return "the card number is negative; no card can have it";
    case LineFault::kNoAmount:
      return "this order adds units but gives no amount";
    case LineFault::kAmountOutOfRange:
      return "the amount does not fit in 32 bits (-2147483648 to 2147483647)";
    case LineFault::kMarkerControlCharacter:
      return "this batch marker line holds a control character; it and the lines after it were "
             "not imported";
    case LineFault::kMarkerTooLong:
      return "this batch marker line is longer than 65536 characters; it and the lines after it "
             "were not imported";
  }
  return "the line cannot be applied";
}

bool EndsImport(LineFault fault) {
  return fault == LineFault::kTooFewFields || fault == LineFault::kJournalDamaged ||
         fault == LineFault::kMarkerControlCharacter || fault == LineFault::kMarkerTooLong;
}

OrderLine ReadOrderLine(const TextLine& line, util::SplitGeneration generation) {
  OrderLine result;
  // A batch marker that cannot be recorded whole cannot keep its batch from a second import,
  // so its batch is not applied at all.
  result.marker = !line.text.empty() && line.text[0] == 'E';
  if (line.tooLong) {
    result.fault = result.marker ? LineFault::kMarkerTooLong : LineFault::kTooLong;
    return result;
  }
  if (HoldsControlCharacter(line.text)) {
    result.fault =
        result.marker ? LineFault::kMarkerControlCharacter : LineFault::kControlCharacter;
    return result;
  }
  if (result.marker) return result;
  std::string fields[3];
  if (util::SplitThreeWholeFields(line.text, generation, fields) < 2) {
    result.fault = LineFault::kTooFewFields;
    return result;
  }
  Order& order = result.order;
  order.command = fields[0][0];
  if (order.command != 'A' && order.command != 'D' && order.command != 'L' &&
      order.command != 'U') {
    return result;  // a line that does nothing
  }
  result.fault = ReadCardNumber(fields[1], &order.card);
  if (result.fault == LineFault::kNone && order.command == 'A') {
    result.fault = ReadAmount(fields[2], &order.amount);
  }
  return result;
}

}  // namespace store
