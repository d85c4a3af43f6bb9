// Explicit little-endian encoding of fixed-width integers, so that the binary file formats are
// the same on any host. Callers pass byte pointers into a record or header buffer.
#ifndef LINDAVOX_PLATFORM_LITTLE_ENDIAN_H
#define LINDAVOX_PLATFORM_LITTLE_ENDIAN_H

#include <cstdint>

namespace platform {

inline uint16_t LoadLE16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t LoadLE32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline int32_t LoadLE32Signed(const unsigned char* p) { return static_cast<int32_t>(LoadLE32(p)); }

inline void StoreLE16(unsigned char* p, uint16_t value) {
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
}

inline void StoreLE32(unsigned char* p, uint32_t value) {
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
  p[2] = static_cast<unsigned char>(value >> 16);
  p[3] = static_cast<unsigned char>(value >> 24);
}

inline void StoreLE32(unsigned char* p, int32_t value) {
  StoreLE32(p, static_cast<uint32_t>(value));
}

inline uint64_t LoadLE64(const unsigned char* p) {
  return LoadLE32(p) | (static_cast<uint64_t>(LoadLE32(p + 4)) << 32);
}

inline void StoreLE64(unsigned char* p, uint64_t value) {
  StoreLE32(p, static_cast<uint32_t>(value));
  StoreLE32(p + 4, static_cast<uint32_t>(value >> 32));
}

}  // namespace platform

#endif
