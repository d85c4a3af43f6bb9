#include "store/history_drops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/shared_folder.h"
#include "store/store_internal.h"

namespace store {
namespace {

constexpr size_t kHeaderSize = 114;  // "#LVDROPS", five blanks and 20-digit numbers, '\n'
constexpr size_t kBlock = 1 << 20;   // lines are appended in pieces of about this size

int Errno() { return errno != 0 ? errno : EIO; }

// Reads the lines of a staging file after its header, each with its '\n'.
class StagedLines {
 public:
  explicit StagedLines(int fd) : fd_(fd), offset_(kHeaderSize) {}
  // The next whole line; false at the end (a last line without '\n' is no line).
  bool Next(std::string* line) {
    for (;;) {
      const size_t end = buffer_.find('\n', start_);
      if (end != std::string::npos) {
        line->assign(buffer_, start_, end + 1 - start_);
        start_ = end + 1;
        return true;
      }
      if (!Fill()) return false;
    }
  }
  // Up to about kBlock bytes of whole lines.
  bool NextBlock(std::string* block) {
    block->clear();
    std::string line;
    while (block->size() < kBlock && Next(&line)) *block += line;
    return !block->empty();
  }

 private:
  bool Fill() {
    buffer_.erase(0, start_);
    start_ = 0;
    char chunk[1 << 16];
    const ssize_t got = platform::ReadAll(fd_, chunk, sizeof chunk, "", offset_);
    if (got <= 0) return false;
    offset_ += got;
    buffer_.append(chunk, static_cast<size_t>(got));
    return true;
  }

  int fd_;
  off_t offset_;
  std::string buffer_;
  size_t start_ = 0;
};

bool ReadHeader(int fd, uint64_t numbers[5]) {
  char text[kHeaderSize + 1] = {};
  if (platform::ReadAll(fd, text, kHeaderSize, "", 0) != static_cast<ssize_t>(kHeaderSize)) {
    return false;
  }
  unsigned long long n[5];
  if (std::sscanf(text, "#LVDROPS %20llu %20llu %20llu %20llu %20llu", &n[0], &n[1], &n[2], &n[3],
                  &n[4]) != 5) {
    return false;
  }
  for (int i = 0; i < 5; ++i) numbers[i] = n[i];
  return true;
}

// A staging file is ours to settle when it is an ordinary file of the folder's owner or of
// this user, as any file a killed run left.
bool Ours(const struct stat& file, const std::string& path) {
  struct stat folder {};
  const std::string directory = platform::DirectoryOf(path);
  return S_ISREG(file.st_mode) &&
         ::stat(directory.empty() ? "." : directory.c_str(), &folder) == 0 &&
         (file.st_uid == folder.st_uid || file.st_uid == ::geteuid());
}

}  // namespace

HistoryDrops::HistoryDrops(const char* dataDir, CardHistory* history)
    : path_(StorePath(dataDir, ".PREPAID.HIS.new")), dataDir_(dataDir), history_(history) {
  drop_ = MakeHistoryEntry({"compaction", "dropped"}, PrepaidCard{}, PrepaidCard{}, false);
}

HistoryDrops::~HistoryDrops() { Discard(); }

int HistoryDrops::Recover() {
  platform::UniqueFd fd;
  const int error = platform::OpenInFolder(path_, O_RDWR, 0, &fd);
  if (error == ENOENT) return 0;
  if (error != 0) return error;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return Errno();
  if (!Ours(status, path_)) return platform::kFileInTheWay;
  ::fcntl(fd.get(), F_SETFL, O_RDWR);
  uint64_t header[5];
  struct stat cards {};
  if (ReadHeader(fd.get(), header) &&
      ::stat(StorePath(dataDir_.c_str(), "PREPAID.DAT").c_str(), &cards) == 0 &&
      static_cast<uint64_t>(cards.st_dev) == header[0] &&
      static_cast<uint64_t>(cards.st_ino) == header[1]) {
    // The compaction was killed after its rename: its drops are to be listed.
    fd_ = std::move(fd);
    device_ = header[0];
    inode_ = header[1];
    const bool appended = AppendMissing({header[2], header[3], header[4]});
    fd_.reset();
    if (!appended) return history_->error() != 0 ? history_->error() : EIO;
  }
  return ::unlink(path_.c_str()) == 0 || errno == ENOENT ? 0 : Errno();
}

int HistoryDrops::Create(int compactedFd) {
  struct stat compacted {};
  if (::fstat(compactedFd, &compacted) != 0) return Errno();
  device_ = static_cast<uint64_t>(compacted.st_dev);
  inode_ = static_cast<uint64_t>(compacted.st_ino);
  platform::UniqueFd fd;
  if (const int error = platform::OpenInFolder(path_, O_RDWR | O_CREAT | O_EXCL, 0666, &fd);
      error != 0) {
    return error;
  }
  ::fcntl(fd.get(), F_SETFL, O_RDWR);
  fd_ = std::move(fd);
  size_ = 0;
  return WriteHeader(HistoryStamp{}) ? 0 : Errno();
}

bool HistoryDrops::WriteHeader(const HistoryStamp& history) {
  char text[kHeaderSize + 1];
  std::snprintf(text, sizeof text,
                "#LVDROPS %020" PRIu64 " %020" PRIu64 " %020" PRIu64 " %020" PRIu64 " %020" PRIu64
                "\n",
                device_, inode_, history.device, history.inode, history.size);
  if (!platform::WriteAll(fd_.get(), text, kHeaderSize, path_, 0)) return false;
  if (size_ < static_cast<off_t>(kHeaderSize)) size_ = kHeaderSize;
  return true;
}

bool HistoryDrops::Stage(const PrepaidCard& card) {
  drop_.card = card.cardNumber;
  drop_.balanceBefore = drop_.balanceAfter = card.balance;
  drop_.lockedBefore = drop_.lockedAfter = (card.flags & PREPAID_CARD_LOCKED) != 0;
  pending_ += FormatHistoryLine(drop_);
  return pending_.size() < kBlock || Flush();
}

bool HistoryDrops::Flush() {
  if (pending_.empty()) return true;
  if (!fd_ || !platform::WriteAll(fd_.get(), pending_.data(), pending_.size(), path_, size_)) {
    return false;
  }
  size_ += static_cast<off_t>(pending_.size());
  pending_.clear();
  return true;
}

bool HistoryDrops::Commit() {
  HistoryStamp stamp;
  if (!fd_ || !Flush() || !history_->Stamp(&stamp) || !WriteHeader(stamp)) return false;
  const bool appended = AppendMissing(stamp);
  fd_.reset();
  ::unlink(path_.c_str());
  return appended;
}

void HistoryDrops::Discard() {
  if (!fd_) return;
  fd_.reset();
  ::unlink(path_.c_str());
}

// Skips the staged lines that the history holds since `from` (appended in their order by the
// run that staged them, other writers' lines in between), then appends the rest.
bool HistoryDrops::AppendMissing(const HistoryStamp& from) {
  StagedLines staged(fd_.get());
  std::string next;
  bool more = staged.Next(&next);
  if (from.inode == 0) {
    // Nothing was appended yet: say where the history ends before appending.
    HistoryStamp now;
    if (!history_->Stamp(&now) || !WriteHeader(now)) return false;
  } else {
    ReadHistorySince(dataDir_.c_str(), from, [&](std::string_view line) {
      if (more && next.size() == line.size() + 1 && next.compare(0, line.size(), line) == 0) {
        more = staged.Next(&next);
      }
      return more;
    });
  }
  if (!more) return true;
  std::string block = next;
  std::string rest;
  staged.NextBlock(&rest);
  block += rest;
  do {
    if (!history_->Append(block)) return false;
  } while (staged.NextBlock(&block));
  return true;
}

}  // namespace store
