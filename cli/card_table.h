// Writing card records as a table, as CSV or as JSON, one record at a time, so a listing of any
// length is written without holding the cards.
//
// Table: fixed columns separated by two blanks; on a terminal the header is bold (unless
// NO_COLOR is set) and underlined with a rule, into a pipe it is a plain line. CSV: a header
// line, then one line per card. JSON: an array of objects, one per line. Card numbers are
// zero-padded to the configured width everywhere; telephone and last numbers are digit texts
// with their leading zeros.
//
// A million cards are listed in well under a second: each line is formatted straight into a
// block of text (no stream formatting, no allocation per card), and the block is handed to the
// stream when it is full.
#ifndef LINDAVOX_CLI_CARD_TABLE_H
#define LINDAVOX_CLI_CARD_TABLE_H

#include <cstdint>
#include <memory>
#include <ostream>

#include "cli/session.h"
#include "store/prepaid.h"

namespace cli {

class CardTable {
 public:
  CardTable(std::ostream& out, Format format, uint16_t cardDigits, bool terminal);
  // Ends the JSON array and writes what is left.
  ~CardTable();
  CardTable(const CardTable&) = delete;
  CardTable& operator=(const CardTable&) = delete;

  // One card and its record position.
  void Write(const PrepaidCard& card, int64_t index);

 private:
  char* TableRow(const PrepaidCard& card, int64_t index, char* out) const;
  char* CsvRow(const PrepaidCard& card, int64_t index, char* out) const;
  char* JsonRow(const PrepaidCard& card, int64_t index, char* out) const;
  void Flush();

  std::ostream& out_;
  const Format format_;
  const size_t cardDigits_;  // the width of card numbers, at most that of 32 bits
  size_t cardWidth_;         // the table's card column
  int64_t written_ = 0;
  std::unique_ptr<char[]> block_;
  size_t used_ = 0;
};

}  // namespace cli

#endif
