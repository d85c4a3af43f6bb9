// What one line of an order file says: a batch marker, an order, or why it can be neither.
//
// A line whose first character is 'E' is a batch marker. Any other line is an order line, its
// fields separated by commas (a semicolon where the rest of the line holds no comma; fields may
// be quoted), split by the generation's splitter, every field read whole:
//   - field 1: the command, its first character: 'A' adds units, 'D' empties a card, 'L' locks
//     and 'U' unlocks it; any other character makes the line one that does nothing;
//   - field 2: the card number, 0 to 2147483647: leading blanks, a sign and leading zeros
//     allowed, read up to the first character that is no digit;
//   - field 3, for 'A' only: the units to add, -2147483648 to 2147483647, read the same way;
//     0 makes the line one that does nothing.
// A line is taken only as a whole: a line that holds a control character (a byte below 0x20
// other than the tab) or more than kLongestLine bytes, a card number or an amount missing or
// beyond its range, are refused with the reason, and nothing of the line is applied.
#ifndef LINDAVOX_STORE_ORDER_LINE_H
#define LINDAVOX_STORE_ORDER_LINE_H

#include <cstdint>

#include "store/order.h"
#include "store/text_lines.h"
#include "util/split_line_internal.h"

namespace store {

// Why a line is not applied. The values are stored in the import journal (import_journal.h), so
// a rejection that an interrupted import had begun is written again with the same words.
enum class LineFault : uint8_t {
  kNone = 0,
  kTooFewFields = 1,     // ends the import: the line and all after it are not applied
  kBalanceOverflow = 2,  // the new balance would not fit in 32 bits
  kUndecidable = 3,      // an interrupted import's order whose fate cannot be told
  kJournalDamaged = 4,   // the whole order file: the journal cannot be read
  kControlCharacter = 5,
  kTooLong = 6,
  kNoCardNumber = 7,
  kCardNumberTooLarge = 8,
  kNegativeCardNumber = 9,
  kNoAmount = 10,
  kAmountOutOfRange = 11,
  kMarkerControlCharacter = 12,  // ends the import, like kTooFewFields
  kMarkerTooLong = 13,           // ends the import, like kTooFewFields
};

// The words PREPAID.REJ gives for `fault`.
const char* LineFaultText(LineFault fault);

// True for the faults after which the rest of the order file is not applied either.
bool EndsImport(LineFault fault);

struct OrderLine {
  bool marker = false;
  Order order{};  // when it is no marker and has no fault
  LineFault fault = LineFault::kNone;
};

OrderLine ReadOrderLine(const TextLine& line, util::SplitGeneration generation);

}  // namespace store

#endif
