// Copying a byte range of one shared file into another in fixed blocks, for the file
// conversions and the line removal, which must never hold a whole file in memory.
#ifndef LINDAVOX_UTIL_BLOCK_COPY_H
#define LINDAVOX_UTIL_BLOCK_COPY_H

#include <sys/types.h>

#include <cstddef>
#include <functional>

#include "platform/share.h"

namespace util {

// Changes `size` bytes at `data` in place.
using BlockConversion = std::function<void(char* data, size_t size)>;

// Copies the bytes of `in` from offset `begin` up to `end` (to the end of the file when `end` is
// negative) to `out` at `*position`, in blocks of at most `blockSize` bytes, each passed through
// `convert` when one is given. Advances `*position` past every byte written. Returns false, with
// errno set, when a read or a write fails.
bool CopyBlocks(const platform::SharedFile& in, off_t begin, off_t end,
                const platform::SharedFile& out, off_t* position, size_t blockSize,
                const BlockConversion& convert = nullptr);

}  // namespace util

#endif
