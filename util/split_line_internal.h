// The C++ side of the field splitter, for the card import.
#ifndef LINDAVOX_UTIL_SPLIT_LINE_INTERNAL_H
#define LINDAVOX_UTIL_SPLIT_LINE_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace util {

// The two generations of the splitter (see split_line.h).
enum class SplitGeneration { kCurrent, kBalanceQuery };

// Splits `line` with the comma into up to three fields, as the generation's exported splitter
// does with three destinations. Every destination must hold kSplitField characters and is
// set to "" first, so a field that the line lacks reads as empty.
inline constexpr size_t kSplitField = 200;
int32_t SplitThreeFields(char* line, SplitGeneration generation, char* d1, char* d2, char* d3);

// The first three fields of `line` (a line without its line end) as the generation's splitter
// finds them, each copied whole however long it is, where the card editor's splitter cuts a
// field to 99 characters. A zero byte ends the line. Returns the number of fields found (at
// most 3); the fields the line lacks are empty.
int32_t SplitThreeWholeFields(const std::string& line, SplitGeneration generation,
                              std::string fields[3]);

}  // namespace util

#endif
