// Copying, moving, truncating and appending files (files.h), in both generations.
//
// What a failure leaves: a failed move or truncation changes nothing, because the new content
// takes the file's place in one rename, and the temporary file of a truncation is removed. A
// failed copy may leave a partial destination, which the result 0 tells; the source is never
// changed.
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ansi_case.h"
#include "platform/c_boundary.h"
#include "platform/file_io.h"
#include "platform/file_time.h"
#include "platform/message_box.h"
#include "platform/path.h"
#include "platform/share.h"
#include "util/block_copy.h"
#include "util/file_open_internal.h"
#include "util/files.h"
#include "util/files_internal.h"
#include "util/lib_strings.h"

namespace util {
namespace {

using platform::SharedFile;

constexpr size_t kCopyBlock = 61440;
constexpr size_t kOldCopyBlock = 1024;
constexpr size_t kAppendBlock = 1024;

enum class CopyResult { kCopied, kSourceUnavailable, kFailed };

void Scramble(char* data, size_t size) {
  LIB_xor(reinterpret_cast<uint8_t*>(data), static_cast<int32_t>(size));
}

// Makes sure that nobody may read the copy who may not read the source, before a byte is
// written: the copy loses every permission bit the source lacks, and where it belongs to another
// group than the source (a folder that hands its group on, or the caller's own group), that
// group keeps no more than everybody else has on the source. Returns 0 or an errno value.
int LimitToSourceAccess(const SharedFile& copy, const struct stat& source) {
  struct stat own;
  if (int error = platform::StatOpenFile(copy.fd(), copy.path(), &own)) return error;
  mode_t allowed = source.st_mode & 0777;
  if (own.st_gid != source.st_gid)
    allowed &= static_cast<mode_t>(~070) | (source.st_mode & 07) << 3;
  const mode_t mode = own.st_mode & allowed;
  if (mode == (own.st_mode & 07777)) return 0;
  return ::fchmod(copy.fd(), mode) == 0 ? 0 : errno;
}

CopyResult Copy(const std::string& destination, const std::string& source,
                const CopyOptions& options, uint32_t* copied) {
  SharedFile in;
  struct stat status;
  if (OpenAsFopen(source, "rb", false, &in) != 0 ||
      platform::StatOpenFile(in.fd(), source, &status) != 0) {
    return CopyResult::kSourceUnavailable;
  }
  SharedFile out;
  if (OpenAsFopen(destination, "wb", false, &out) != 0 || LimitToSourceAccess(out, status) != 0) {
    return CopyResult::kFailed;
  }
  off_t written = 0;
  bool ok = CopyBlocks(in, 0, -1, out, &written, options.blockSize,
                       options.scramble ? BlockConversion(Scramble) : nullptr);
  in.Close();
  if (ok && options.keepTime) {
    ok = platform::SetFileTime(out.fd(), destination, status.st_mtim.tv_sec,
                               static_cast<int32_t>(status.st_mtim.tv_nsec)) == 0;
  }
  const off_t size = out.Size();
  ok = out.Close() == 0 && ok && size == written;
  if (!ok || (options.checkSize && written != status.st_size)) return CopyResult::kFailed;
  *copied = static_cast<uint32_t>(size);
  return CopyResult::kCopied;
}

// The name of a truncation's temporary file, beside the file: its name with the text after its
// last dot replaced by "TRU", or "TRU" for a name without a dot; never the file's own name.
std::string TruncationTemporary(const std::string& path) {
  const std::string folder = platform::DirectoryOf(path);
  const std::string name = platform::BaseName(path);
  const size_t dot = name.rfind('.');
  std::string temporary = dot == std::string::npos ? "TRU" : name.substr(0, dot + 1) + "TRU";
  if (temporary == name) temporary += ".TRU";
  return folder + temporary;
}

// Writes the first `length` bytes of `in` to `out`, with the file's owner, permissions and
// time.
bool WriteTruncated(const SharedFile& in, const struct stat& status, uint32_t length,
                    const SharedFile& out) {
  off_t written = 0;
  return TakeOverOwnerAndMode(out, status) == 0 &&
         CopyBlocks(in, 0, static_cast<off_t>(length), out, &written, kCopyBlock) &&
         platform::SetFileTime(out.fd(), out.path(), status.st_mtim.tv_sec,
                               static_cast<int32_t>(status.st_mtim.tv_nsec)) == 0;
}

bool Truncate(const std::string& path, uint32_t length) {
  const std::string file = RealFile(path);
  if (file.empty() || !FitsPath(file) || !FitsPath(TruncationTemporary(file))) return false;
  SharedFile in;
  struct stat status;
  if (OpenAsFopen(file, "rb", false, &in) != 0 ||
      platform::StatOpenFile(in.fd(), file, &status) != 0) {
    return false;
  }
  SharedFile out;
  std::string temporary;
  if (CreateExclusively(TruncationTemporary(file), &out, &temporary) != 0) return false;
  bool ok = WriteTruncated(in, status, length, out);
  in.Close();
  ok = out.Close() == 0 && ok && platform::ReplaceShared(temporary, file) == 0;
  if (!ok) platform::RemoveShared(temporary);
  return ok;
}

bool Append(const std::string& destination, const std::string& source) {
  SharedFile in;
  if (OpenAsFopen(source, "rb", false, &in) != 0) return false;
  // Only what the source holds now: appending a file to itself doubles it, and never runs on.
  const off_t size = in.Size();
  SharedFile out;
  const platform::OpenRequest request{platform::kAccessWrite, platform::kShareReadWrite,
                                      platform::Disposition::kOpenAlways, true};
  if (size < 0 || SharedFile::Open(destination, request, &out) != 0) return false;
  off_t position = out.Size();
  return position >= 0 && CopyBlocks(in, 0, size, out, &position, kAppendBlock) && out.Close() == 0;
}

}  // namespace

bool CopyFile(const std::string& destination, const std::string& source, const CopyOptions& options,
              uint32_t* copied) {
  return Copy(destination, source, options, copied) == CopyResult::kCopied;
}

std::optional<bool> MoveWithinFileSystem(const std::string& destination,
                                         const std::string& source) {
  const std::string folder = platform::DirectoryOf(destination);
  struct stat from, into;
  if (::lstat(source.c_str(), &from) != 0 ||
      ::stat(folder.empty() ? "." : folder.c_str(), &into) != 0 || from.st_dev != into.st_dev) {
    return std::nullopt;
  }
  return platform::ReplaceShared(source, destination) == 0;
}

}  // namespace util

using util::FitsPath;

int32_t FILE_Copy(const char* destination, const char* source, uint8_t move, uint8_t keepTime,
                  uint8_t scramble, int32_t* copiedSize) {
  if (!FitsPath(destination) || !FitsPath(source)) return 0;
  return platform::CallNoThrow(0, [&] {
    if (move) {
      if (std::optional<bool> moved = util::MoveWithinFileSystem(destination, source)) {
        return *moved ? 2 : 0;
      }
    }
    uint32_t copied = 0;
    const util::CopyOptions options{util::kCopyBlock, keepTime != 0, scramble != 0, true};
    if (!util::CopyFile(destination, source, options, &copied)) return 0;
    if (copiedSize) *copiedSize = static_cast<int32_t>(copied);
    return 1;
  });
}

int32_t FileCopy(const char* destination, const char* source, uint8_t move, uint8_t reportMissing) {
  if (!FitsPath(destination) || !FitsPath(source)) return 0;
  return platform::CallNoThrow(0, [&] {
    if (move) {
      if (std::optional<bool> moved = util::MoveWithinFileSystem(destination, source)) {
        return *moved ? 1 : 0;
      }
    }
    uint32_t copied = 0;
    const util::CopyOptions options{util::kOldCopyBlock, true, false, false};
    const util::CopyResult result = util::Copy(destination, source, options, &copied);
    if (result == util::CopyResult::kSourceUnavailable && reportMissing &&
        !ExistFile(source, nullptr)) {
      platform::ShowMessageBox(source, "Folgende Datei fehlt:", platform::kMessageIconStop);
    }
    return result == util::CopyResult::kCopied ? 1 : 0;
  });
}

uint8_t FILE_Truncate(const char* path, uint32_t length) {
  if (!FitsPath(path)) return 0;
  return platform::CallNoThrow<uint8_t>(0, [&] { return util::Truncate(path, length) ? 1 : 0; });
}

int32_t FILE_Append(char* destination, const char* source) {
  if (!destination) return 0;
  const int32_t result =
      FitsPath(destination) && FitsPath(source)
          ? platform::CallNoThrow(0, [&] { return util::Append(destination, source) ? 1 : 0; })
          : 0;
  // Callers of the product family expect their text in capitals afterwards; the file opened is
  // the one they named, which on Linux is another file than the capitalised name.
  util::UpperCaseInPlace(destination);
  return result;
}

uint8_t TruncateFile(const char* path, uint32_t length) { return FILE_Truncate(path, length); }

int32_t FileAppend(char* destination, const char* source) {
  return FILE_Append(destination, source);
}
