#include "util/block_copy.h"

#include <algorithm>
#include <vector>

namespace util {

bool CopyBlocks(const platform::SharedFile& in, off_t begin, off_t end,
                const platform::SharedFile& out, off_t* position, size_t blockSize,
                const BlockConversion& convert) {
  std::vector<char> block(blockSize);
  for (off_t offset = begin; end < 0 || offset < end;) {
    const size_t wanted =
        end < 0 ? blockSize : std::min<size_t>(blockSize, static_cast<size_t>(end - offset));
    const ssize_t got = in.ReadAt(block.data(), wanted, offset);
    if (got < 0) return false;
    if (got == 0) break;
    const size_t size = static_cast<size_t>(got);
    if (convert) convert(block.data(), size);
    if (!out.WriteAt(block.data(), size, *position)) return false;
    offset += got;
    *position += got;
  }
  return true;
}

}  // namespace util
