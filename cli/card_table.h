// Writing card records as a table, as CSV or as JSON, one record at a time, so a listing of any
// length is written without holding the cards.
//
// Table: fixed columns separated by two blanks; on a terminal the header is bold (unless
// NO_COLOR is set) and underlined with a rule, into a pipe it is a plain line. CSV: a header
// line, then one line per card. JSON: an array of objects, one per line. Card numbers are
// zero-padded to the configured width everywhere; telephone and last numbers are digit texts
// with their leading zeros.
#ifndef LINDAVOX_CLI_CARD_TABLE_H
#define LINDAVOX_CLI_CARD_TABLE_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/session.h"
#include "store/prepaid.h"

namespace cli {

class CardTable {
 public:
  CardTable(std::ostream& out, Format format, uint16_t cardDigits, bool terminal);
  // Ends the JSON array.
  ~CardTable();
  CardTable(const CardTable&) = delete;
  CardTable& operator=(const CardTable&) = delete;

  // One card and its record position.
  void Write(const PrepaidCard& card, int64_t index);

 private:
  std::ostream& out_;
  const Format format_;
  const uint16_t cardDigits_;
  int cardWidth_;
  int64_t written_ = 0;
  nlohmann::ordered_json object_;  // one JSON row, its members reused from row to row
};

}  // namespace cli

#endif
