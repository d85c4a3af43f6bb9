#include "store/card_reader.h"

#include <cerrno>

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
  block_.reset(new unsigned char[kBlockSize]);
  return 0;
}

bool CardReader::Fill() {
  position_ += static_cast<int64_t>(inBlock_);
  inBlock_ = next_ = 0;
  if (atEnd_ || !block_) return false;
  const ssize_t got = file_.ReadAt(block_.get(), kBlockSize, offset_);
  if (got < 0) {
    error_ = errno != 0 ? errno : EIO;
    atEnd_ = true;
    return false;
  }
  inBlock_ = static_cast<size_t>(got) / kRecordSize;
  offset_ += static_cast<off_t>(got);
  if (static_cast<size_t>(got) < kBlockSize) {
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
