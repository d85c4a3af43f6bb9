#include "store/batch_markers.h"

#include "store/store_internal.h"
#include "store/text_lines.h"
#include "util/file_open_internal.h"

namespace store {

bool BatchMarkers::Load() {
  lines_.clear();
  if (!StoreFileExists(path_)) return loaded_ = true;
  platform::SharedFile file;
  if (util::OpenAsFopen(path_, "rb", false, &file) != 0) return false;
  TextLineReader reader(file, 0);
  TextLine line;
  for (;;) {
    switch (reader.Next(&line)) {
      case TextLineReader::Result::kError:
        return false;
      case TextLineReader::Result::kEnd:
        return loaded_ = true;
      case TextLineReader::Result::kLine:
        if (!line.tooLong) lines_.insert(line.text);
        break;
    }
  }
}

BatchMarkers::Check BatchMarkers::Find(const std::string& marker) {
  if (!loaded_ && !Load()) return Check::kUnreadable;
  return lines_.count(marker) ? Check::kKnown : Check::kNew;
}

// Opened as "a" opens it (appending, others may read), with reading allowed to see its last
// byte, and written in one checked write, so a marker is recorded whole or reported as not
// recorded.
bool BatchMarkers::Record(const std::string& marker, bool inMemoryOnly) {
  if (!inMemoryOnly) {
    platform::SharedFile file;
    const platform::OpenRequest append{platform::kAccessReadWrite, platform::kShareRead,
                                       platform::Disposition::kOpenAlways, true};
    if (platform::SharedFile::Open(path_, append, &file) != 0) return false;
    const off_t size = file.Size();
    char last = '\n';
    if (size < 0 || (size > 0 && file.ReadAt(&last, 1, size - 1) != 1)) return false;
    const std::string bytes = (last == '\n' || last == '\r' ? "" : "\r\n") + marker + "\r\n";
    const bool written = file.WriteAt(bytes.data(), bytes.size(), 0);
    if (file.Close() != 0 || !written) return false;
  }
  if (loaded_) lines_.insert(marker);
  return true;
}

}  // namespace store
