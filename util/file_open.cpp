#include "util/file_open_internal.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace util {

using platform::Disposition;
using platform::OpenRequest;

platform::OpenRequest FopenRequest(const char* mode, bool exclusive, FopenGeneration generation) {
  auto has = [mode](char c) { return std::strchr(mode, c) != nullptr; };
  const unsigned denyOrShare = exclusive ? platform::kShareNone : platform::kShareReadWrite;
  if (has('+')) {
    return {platform::kAccessReadWrite, denyOrShare, Disposition::kOpenExisting, false};
  }
  if (has('r')) {
    const bool shareAlways = generation == FopenGeneration::kBalanceQuery;
    return {platform::kAccessRead, shareAlways ? platform::kShareReadWrite : denyOrShare,
            Disposition::kOpenExisting, false};
  }
  if (has('a')) {
    return {platform::kAccessWrite, platform::kShareRead, Disposition::kOpenAlways, true};
  }
  return {platform::kAccessWrite, platform::kShareNone, Disposition::kCreateTruncate, false};
}

int OpenAsFopen(const std::string& path, const char* mode, bool exclusive,
                platform::SharedFile* file, FopenGeneration generation) {
  // A mode no stream takes would otherwise fall into the last row and truncate the file
  // before the stream is refused.
  if (!platform::IsStreamMode(mode)) return EINVAL;
  return platform::SharedFile::Open(path, FopenRequest(mode, exclusive, generation), file);
}

std::FILE* Fopen(const char* path, const char* mode, bool exclusive, FopenGeneration generation) {
  if (!path || !mode) return nullptr;
  try {
    platform::SharedFile file;
    if (OpenAsFopen(path, mode, exclusive, &file, generation) != 0) return nullptr;
    return platform::AttachStream(std::move(file), mode);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int Fclose(std::FILE** stream) {
  if (stream && *stream) {
    std::fclose(*stream);
    *stream = nullptr;
  }
  return 0;
}

}  // namespace util
