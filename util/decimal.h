// Reading a decimal number from a text the way the C library's atol reads it on a 32-bit
// system, without its undefined overflow: leading blanks, an optional sign, digits up to the
// first other character. A text without digits gives 0; values beyond the 32-bit range stop at
// its limits.
#ifndef LINDAVOX_UTIL_DECIMAL_H
#define LINDAVOX_UTIL_DECIMAL_H

#include <cstdint>

namespace util {

int32_t ParseDecimal32(const char* text);

}  // namespace util

#endif
