// The C++ side of the field splitter, for the card import.
#ifndef LINDAVOX_UTIL_SPLIT_LINE_INTERNAL_H
#define LINDAVOX_UTIL_SPLIT_LINE_INTERNAL_H

#include <cstddef>
#include <cstdint>

namespace util {

// The two generations of the splitter (see split_line.h).
enum class SplitGeneration { kCurrent, kBalanceQuery };

// Splits `line` with the comma into up to three fields, as the generation's exported splitter
// does with three destinations. Every destination must hold kSplitField characters and is
// set to "" first, so a field that the line lacks reads as empty.
inline constexpr size_t kSplitField = 200;
int32_t SplitThreeFields(char* line, SplitGeneration generation, char* d1, char* d2, char* d3);

}  // namespace util

#endif
