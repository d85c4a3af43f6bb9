#include "store/number_text.h"

#include <charconv>
#include <cstring>

namespace store {

char* WriteDecimal(int64_t value, char* out) {
  return std::to_chars(out, out + kDecimalRoom, value).ptr;
}

char* WriteZeroPadded(int32_t value, size_t width, char* out) {
  char digits[kDecimalRoom];
  const char* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const char* first = digits;
  if (value < 0) *out++ = *first++;
  const size_t written = static_cast<size_t>(end - digits);
  if (width > written) {
    std::memset(out, '0', width - written);
    out += width - written;
  }
  const size_t count = static_cast<size_t>(end - first);
  std::memcpy(out, first, count);
  return out + count;
}

}  // namespace store
