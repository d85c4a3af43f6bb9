// Numbers as the store writes them into texts, fast enough for a line per card of a million
// cards: written straight into the caller's buffer, no allocation, no locale.
#ifndef LINDAVOX_STORE_NUMBER_TEXT_H
#define LINDAVOX_STORE_NUMBER_TEXT_H

#include <cstddef>
#include <cstdint>

namespace store {

// Room for any 64-bit number in decimal, sign included.
inline constexpr size_t kDecimalRoom = 20;

// `value` in decimal at `out`; returns the end of what was written (at most kDecimalRoom).
char* WriteDecimal(int64_t value, char* out);

// `value` as printf's "%0*d" writes it for `width`: the sign, then zeros up to `width`
// characters in all, then the digits. `out` has room for max(width, 11) characters; returns
// the end of what was written.
char* WriteZeroPadded(int32_t value, size_t width, char* out);

}  // namespace store

#endif
