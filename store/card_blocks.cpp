#include "store/card_blocks.h"

#include <unistd.h>

#include <cerrno>
#include <memory>

#include "store/card_record.h"

namespace store {

static_assert(kRecordBlockSize % kRecordSize == 0, "blocks hold whole records");

int64_t HoleRecordsAt(const platform::SharedFile& file, off_t offset, off_t size) {
  if (offset >= size) return 0;
  off_t data = ::lseek(file.fd(), offset, SEEK_DATA);
  if (data < 0) {
    if (errno != ENXIO) return 0;
    data = size;  // a hole up to the end
  }
  return (data - offset) / static_cast<off_t>(kRecordSize);
}

bool ForEachRecordBlock(const platform::SharedFile& file, const RecordBlockVisit& visit) {
  const off_t size = file.Size();
  if (size < 0) return false;
  std::unique_ptr<unsigned char[]> block(new unsigned char[kRecordBlockSize]);
  off_t offset = 0;
  for (;;) {
    offset += static_cast<off_t>(HoleRecordsAt(file, offset, size) * kRecordSize);
    const ssize_t got = file.ReadAt(block.get(), kRecordBlockSize, offset);
    if (got < 0) return false;
    const size_t records = static_cast<size_t>(got) / kRecordSize;
    if (records > 0 && !visit(block.get(), records)) return false;
    if (static_cast<size_t>(got) < kRecordBlockSize) return true;
    offset += got;
  }
}

}  // namespace store
