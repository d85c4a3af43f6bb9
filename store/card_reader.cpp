#include "store/card_reader.h"

#include <algorithm>
#include <cerrno>

#include "store/card_blocks.h"
#include "store/card_record.h"
#include "store/store_internal.h"
#include "util/file_open_internal.h"

namespace store {
namespace {

constexpr size_t kRecordsPerBlock = 8192;
constexpr size_t kBlockSize = kRecordsPerBlock * kRecordSize;

}  // namespace

CardReader::CardReader() = default;
CardReader::~CardReader() = default;

int CardReader::Open(const char* dataDir) {
  if (const int error = util::OpenAsFopen(StorePath(dataDir, "PREPAID.DAT"), "rb", false, &file_);
      error != 0) {
    return error;
  }
  size_ = file_.Size();
  if (size_ < 0) return errno != 0 ? errno : EIO;
  block_.reset(new unsigned char[kBlockSize]);
  return 0;
}

// How much of the file the next block reads: a whole block, or the data up to the next hole
// (at least one record, so a record that a hole begins in is read whole).
size_t CardReader::NextReadSize() {
  if (offset_ >= dataEnd_ && offset_ < size_) {
    const int64_t hole = HoleRecordsAt(file_, offset_, size_);
    holes_ += hole;
    position_ += hole;
    offset_ += static_cast<off_t>(hole * static_cast<int64_t>(kRecordSize));
    dataEnd_ = DataEndFrom(file_, offset_, size_);
  }
  if (dataEnd_ >= size_ || dataEnd_ <= offset_) return kBlockSize;
  const size_t data = static_cast<size_t>(dataEnd_ - offset_) / kRecordSize * kRecordSize;
  return std::clamp(data, kRecordSize, kBlockSize);
}

bool CardReader::Fill() {
  position_ += static_cast<int64_t>(inBlock_);
  inBlock_ = next_ = 0;
  if (atEnd_ || !block_) return false;
  const size_t wanted = NextReadSize();
  const ssize_t got = file_.ReadAt(block_.get(), wanted, offset_);
  if (got < 0) {
    error_ = errno != 0 ? errno : EIO;
    atEnd_ = true;
    return false;
  }
  inBlock_ = static_cast<size_t>(got) / kRecordSize;
  offset_ += static_cast<off_t>(inBlock_ * kRecordSize);
  if (static_cast<size_t>(got) < wanted) {
    atEnd_ = true;
    trailing_ = static_cast<int64_t>(static_cast<size_t>(got) % kRecordSize);
  }
  return inBlock_ > 0;
}

bool CardReader::Next(PrepaidCard* card, int64_t* index) {
  if (next_ == inBlock_ && !Fill()) return false;
  DecodeCard(block_.get() + next_ * kRecordSize, card);
  *index = position_ + static_cast<int64_t>(next_);
  ++next_;
  return true;
}

}  // namespace store
