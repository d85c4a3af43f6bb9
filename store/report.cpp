#include "store/report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/c_boundary.h"
#include "platform/little_endian.h"
#include "platform/share.h"
#include "store/card_blocks.h"
#include "store/card_record.h"
#include "store/replacement_file.h"
#include "store/store_internal.h"
#include "store/text_lines.h"
#include "util/file_open_internal.h"
#include "util/time_format.h"

namespace store {
namespace {

// The marker list as the report shows it: what a text-mode read gives up to a Ctrl-Z, written
// back in text mode, so every line ends in CR LF. A last line without a line end (older imports
// recorded a final marker line as it stood) gets one, so it is not run together with the first
// card line.
std::string MarkerLines(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\x1A'));
  std::string lines;
  lines.reserve(bytes.size() + bytes.size() / 8 + 2);
  char previous = '\0';
  for (char c : bytes) {
    if (c == '\n' && previous != '\r') lines += '\r';
    lines += c;
    previous = c;
  }
  if (!lines.empty() && lines.back() != '\n') lines += "\r\n";
  return lines;
}

// A 32-bit card number has at most ten digits: a wider configured width (the digit count of a
// damaged PREPAID.BIN, which wraps to 65535 when its check digits outnumber its code length)
// pads no further, or every line of the report would carry that many zeros.
constexpr unsigned kWidestCardNumber = 10;

// The note a report leaves on the marker list it takes: the extended attribute
// user.lindavox.reported of PREPAID.TRR, "<device> <inode> <birth time> <modification time>
// <report size> <size>": the report file that lists its first <size> bytes (the same inode born
// at the same moment, so a later file that reuses the inode number is not taken for it, and
// unchanged since it was written). It is set before the report is put in place. An export killed
// after that but before it removes PREPAID.TRR leaves the list with the note; the next export finds
// the noted report still in place as PREPAID.TXT and leaves out the markers it already lists. Where
// the report was collected or replaced meanwhile, or the file system keeps no such attributes or no
// birth times, it cannot be known that those markers were handed over, and they are listed again.
constexpr char kReportedNote[] = "user.lindavox.reported";

// The identity of an open file as the note gives it; "" when the file system cannot tell its
// birth time.
std::string FileIdentity(int fd) {
  struct statx st;
  const unsigned wanted = STATX_INO | STATX_BTIME | STATX_MTIME | STATX_SIZE;
  if (statx(fd, "", AT_EMPTY_PATH, wanted, &st) != 0 || (st.stx_mask & wanted) != wanted) {
    return "";
  }
  const auto time = [](const struct statx_timestamp& t) {
    return std::to_string(t.tv_sec) + "." + std::to_string(t.tv_nsec);
  };
  return std::to_string(st.stx_dev_major) + ":" + std::to_string(st.stx_dev_minor) + " " +
         std::to_string(st.stx_ino) + " " + time(st.stx_btime) + " " + time(st.stx_mtime) + " " +
         std::to_string(st.stx_size);
}

// How many leading bytes of the held marker list the report in place at `reportPath` already
// lists, by the note on the list.
size_t BytesReportedBefore(const platform::SharedFile& markers, const std::string& reportPath) {
  char note[256];
  const ssize_t length = fgetxattr(markers.fd(), kReportedNote, note, sizeof note - 1);
  if (length <= 0) return 0;
  const std::string text(note, static_cast<size_t>(length));
  const size_t sizeAt = text.rfind(' ');
  platform::SharedFile report;
  const platform::OpenRequest look{platform::kAccessRead, platform::kShareReadWrite,
                                   platform::Disposition::kOpenExisting};
  if (sizeAt == std::string::npos || platform::SharedFile::Open(reportPath, look, &report) != 0) {
    return 0;
  }
  const std::string identity = FileIdentity(report.fd());
  if (identity.empty() || identity != text.substr(0, sizeAt)) return 0;
  return std::strtoull(text.c_str() + sizeAt + 1, nullptr, 10);
}

// Room a card line needs beside the zeros of its card number: "-2147483648" twice, two commas,
// the lock mark and CR LF (27 bytes), and 16 bytes more that the fixed-size copies below may
// write beyond the line's end.
constexpr size_t kLineRoomBeyondWidth = 27 + 16;

// Writes the report line of `record` at `out` and returns its length: the card number as
// printf's "%0*d" gives it for `width` (sign, zeros, digits), a comma, the balance, a comma,
// "L" for a locked card, CR LF. `out` has room for width + kLineRoomBeyondWidth bytes. A million
// lines are written per report, so the short copies have fixed sizes, which the compiler turns
// into a few moves instead of library calls.
size_t FormatCardLine(const unsigned char* record, unsigned width, char* out) {
  static constexpr char kZeros[] = "0000000000000000";
  char number[32];
  const int32_t cardNumber = platform::LoadLE32Signed(record + field::kCardNumber);
  const char* const numberEnd = std::to_chars(number, number + 16, cardNumber).ptr;
  const size_t length = static_cast<size_t>(numberEnd - number);
  const char* digits = number;
  char* p = out;
  if (cardNumber < 0) *p++ = *digits++;
  if (width > length) {
    const size_t zeros = width - length;
    if (zeros <= 16) {
      std::memcpy(p, kZeros, 16);
    } else {
      std::memset(p, '0', zeros);
    }
    p += zeros;
  }
  std::memcpy(p, digits, 16);
  p += numberEnd - digits;
  *p++ = ',';
  p = std::to_chars(p, p + 11, platform::LoadLE32Signed(record + field::kBalance)).ptr;
  *p++ = ',';
  if (platform::LoadLE32(record + field::kFlags) & PREPAID_CARD_LOCKED) *p++ = 'L';
  *p++ = '\r';
  *p++ = '\n';
  return static_cast<size_t>(p - out);
}

// The report lines gathered in about 1 MiB before they are written.
class LineBuffer {
 public:
  LineBuffer(ReplacementFile* file, size_t longestLine)
      : file_(file), capacity_(kFlushAt + longestLine), buffer_(new char[capacity_]) {}

  // Every call leaves less than kFlushAt bytes buffered, so the room for the longest line is
  // always there.
  bool Append(std::string_view text) {
    if (used_ + text.size() > capacity_ && !Flush()) return false;
    if (text.size() > capacity_) return file_->Append(text.data(), text.size());
    std::memcpy(buffer_.get() + used_, text.data(), text.size());
    return Commit(text.size());
  }
  // Where the next line goes; Commit(n) takes its n bytes (at most the longest line's).
  char* Room() { return buffer_.get() + used_; }
  bool Commit(size_t n) {
    used_ += n;
    return used_ < kFlushAt || Flush();
  }
  bool Flush() {
    const bool written = file_->Append(buffer_.get(), used_);
    used_ = 0;
    return written;
  }

 private:
  static constexpr size_t kFlushAt = size_t{1} << 20;

  ReplacementFile* const file_;
  const size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
};

class Report {
 public:
  Report(const char* exchangeDir, const char* dataDir, unsigned cardDigits, ReportDate date,
         ExportReport* counts)
      : cardsPath_(StorePath(dataDir, "PREPAID.DAT")),
        markersPath_(StorePath(exchangeDir, "PREPAID.TRR")),
        reportPath_(StorePath(exchangeDir, "PREPAID.TXT")),
        tempPath_(StorePath(exchangeDir, ".PREPAID.TXT.new")),
        cardDigits_(std::min(cardDigits, kWidestCardNumber)),
        date_(date),
        counts_(counts) {}

  int32_t Run();

 private:
  bool TakeMarkers(platform::SharedFile* markers, std::string* lines);
  bool WriteReport(const platform::SharedFile& cards, const platform::SharedFile& markerList,
                   const std::string& markers) const;
  bool WriteLines(LineBuffer& lines, const platform::SharedFile& cards,
                  const std::string& markers) const;
  bool PutInPlace(ReplacementFile& report) const;
  // Notes what failed, for the operator; returns false.
  bool Failed(const std::string& path, int error) const;

  const std::string cardsPath_, markersPath_, reportPath_, tempPath_;
  const unsigned cardDigits_;
  const ReportDate date_;
  ExportReport* const counts_;
  off_t markerBytes_ = 0;  // the size of PREPAID.TRR as it was read
};

int32_t Report::Run() {
  if (!StoreFileExists(cardsPath_)) return Failed(cardsPath_, ENOENT);
  platform::SharedFile cards;
  if (const int error = util::OpenAsFopen(cardsPath_, "rb", false, &cards); error != 0) {
    return Failed(cardsPath_, error);
  }
  platform::SharedFile markers;  // held from the reading until the removal
  std::string markerLines;
  if (!TakeMarkers(&markers, &markerLines) || !WriteReport(cards, markers, markerLines)) return 0;
  counts_->inPlace = true;
  if (!markers.isOpen()) return 1;
  const int removed = platform::RemoveHeldShared(markers);
  return removed == 0 ? 1 : Failed(markersPath_, removed);
}

bool Report::Failed(const std::string& path, int error) const {
  counts_->failedPath = path;
  counts_->error = error != 0 ? error : EIO;
  return false;
}

// Reads PREPAID.TRR, opened so that nobody else can open it until it is removed. A list that
// exists but cannot be opened is left for the next report; one that cannot be read fails the
// export. The markers that the report in place lists already are left out.
bool Report::TakeMarkers(platform::SharedFile* markers, std::string* lines) {
  if (!StoreFileExists(markersPath_)) return true;
  const platform::OpenRequest alone{platform::kAccessRead, platform::kShareNone,
                                    platform::Disposition::kOpenExisting};
  if (platform::SharedFile::Open(markersPath_, alone, markers) != 0) return true;
  const off_t size = markers->Size();
  std::string bytes;
  if (size < 0 || !ReadRange(*markers, 0, size, &bytes)) return Failed(markersPath_, errno);
  markerBytes_ = size;
  const size_t reported = BytesReportedBefore(*markers, reportPath_);
  if (reported <= bytes.size()) bytes.erase(0, reported);
  bytes.erase(0, bytes.find_first_not_of("\r\n"));
  *lines = MarkerLines(bytes);
  for (size_t start = 0; start < lines->size();) {
    const size_t end = lines->find("\r\n", start);
    counts_->batches.push_back(lines->substr(start, end - start));
    start = end + 2;
  }
  return true;
}

// Writes the whole report to the temporary file, notes on the marker list which report lists
// them (see kReportedNote), and puts the report in place as PREPAID.TXT.
bool Report::WriteReport(const platform::SharedFile& cards, const platform::SharedFile& markerList,
                         const std::string& markers) const {
  ReplacementFile report(tempPath_);
  if (!report.Create()) return Failed(report.failedPath(), report.error());
  LineBuffer lines(&report, cardDigits_ + kLineRoomBeyondWidth);
  errno = 0;
  if (!WriteLines(lines, cards, markers) || !lines.Flush()) {
    // A write of the report failed, or the read of a block of the card file.
    return report.error() != 0 ? Failed(report.failedPath(), report.error())
                               : Failed(cardsPath_, errno);
  }
  const std::string identity = FileIdentity(report.fd());
  if (markerList.isOpen() && !identity.empty()) {
    const std::string note = identity + " " + std::to_string(markerBytes_);
    fsetxattr(markerList.fd(), kReportedNote, note.data(), note.size(), 0);  // best effort
  }
  return PutInPlace(report);
}

bool Report::WriteLines(LineBuffer& lines, const platform::SharedFile& cards,
                        const std::string& markers) const {
  char date[80];
  if (date_ == ReportDate::kWithSeconds) {
    TIME_GetAktDateString(date, 0);
  } else {
    getemaildate(date);
  }
  if (!lines.Append(date) || !lines.Append("\r\n") || !lines.Append(markers)) return false;
  counts_->markers = std::count(markers.begin(), markers.end(), '\n');
  return ForEachRecordBlock(cards, [&](const unsigned char* records, size_t count) {
    for (const unsigned char* record = records; record < records + count * kRecordSize;
         record += kRecordSize) {
      if (platform::LoadLE32Signed(record + field::kBalance) == 0) continue;
      if (!lines.Commit(FormatCardLine(record, cardDigits_, lines.Room()))) return false;
      ++counts_->cards;
    }
    return true;
  });
}

// Renames the finished report over PREPAID.TXT, or to PREPAID.TXT when there is none yet;
// either way the new name is on the disk before the markers are removed. A program that is
// reading the previous report goes on reading it whole (the rename does not touch the file it
// has open), so readers do not stop the export; one that writes the report, or reads it denying
// writers, does (platform::ReplaceHeldShared with OthersMay::kRead).
bool Report::PutInPlace(ReplacementFile& report) const {
  platform::SharedFile previous;
  const platform::OpenRequest look{platform::kAccessRead, platform::kShareReadWrite,
                                   platform::Disposition::kOpenExisting};
  const int opened = platform::SharedFile::Open(reportPath_, look, &previous);
  if (opened != 0 && opened != ENOENT) return Failed(reportPath_, opened);
  if (opened == 0 ? report.Replace(previous, platform::OthersMay::kRead)
                  : report.RenameTo(reportPath_)) {
    return true;
  }
  return Failed(report.failedPath(), report.error());
}

}  // namespace

int32_t Export(const char* exchangeDir, const char* dataDir, const PrepaidConfig* config,
               ReportDate date, ExportReport* counts) {
  if (!exchangeDir || !dataDir || !config) return 0;
  ExportReport ignored;
  if (!counts) counts = &ignored;
  *counts = ExportReport{};
  return platform::CallNoThrow<int32_t>(0, [&] {
    Report report(exchangeDir, dataDir, config->cardDigits, date, counts);
    return report.Run();
  });
}

}  // namespace store
