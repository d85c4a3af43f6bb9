// Keeps C++ exceptions from crossing the C interface: an exported function runs its body
// through CallNoThrow, and an allocation failure (the only exception the code can meet)
// becomes the function's failure result.
#ifndef LINDAVOX_PLATFORM_C_BOUNDARY_H
#define LINDAVOX_PLATFORM_C_BOUNDARY_H

#include <exception>

namespace platform {

template <typename Result, typename Body>
Result CallNoThrow(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception&) {
    return failure;
  }
}

}  // namespace platform

#endif
