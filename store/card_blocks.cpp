#include "store/card_blocks.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace store {

static_assert(CardBlock::kBytes % kRecordSize == 0, "blocks hold whole records");

int64_t HoleRecordsAt(const platform::SharedFile& file, off_t offset, off_t size) {
  if (offset >= size) return 0;
  off_t data = ::lseek(file.fd(), offset, SEEK_DATA);
  if (data < 0) {
    if (errno != ENXIO) return 0;
    data = size;  // a hole up to the end
  }
  return (data - offset) / static_cast<off_t>(kRecordSize);
}

off_t DataEndFrom(const platform::SharedFile& file, off_t offset, off_t size) {
  const off_t hole = ::lseek(file.fd(), offset, SEEK_HOLE);
  if (hole < 0) return size;
  return std::max(hole, offset + 1);  // less than a record of hole: asked again after a block
}

bool ForEachRecordBlock(const platform::SharedFile& file, const RecordBlockVisit& visit) {
  const off_t size = file.Size();
  if (size < 0) return false;
  const CardBlock block;
  if (!block.data()) {
    errno = ENOMEM;
    return false;
  }
  off_t offset = 0;
  off_t dataEnd = 0;  // where the data being read ends (a hole or the end of the file)
  for (;;) {
    if (offset >= dataEnd && offset < size) {
      offset += static_cast<off_t>(HoleRecordsAt(file, offset, size) * kRecordSize);
      dataEnd = DataEndFrom(file, offset, size);
    }
    const ssize_t got = file.ReadAt(block.data(), CardBlock::kBytes, offset);
    if (got < 0) return false;
    const size_t records = static_cast<size_t>(got) / kRecordSize;
    if (records > 0 && !visit(block.data(), records)) return false;
    if (static_cast<size_t>(got) < CardBlock::kBytes) return true;
    offset += got;
  }
}

}  // namespace store
