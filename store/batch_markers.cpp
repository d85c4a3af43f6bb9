#include "store/batch_markers.h"

#include "store/durable_append.h"
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

bool BatchMarkers::Record(const std::string& marker, off_t size, bool inMemoryOnly) {
  if (inMemoryOnly) {
    if (loaded_) lines_.insert(marker);
    return true;
  }
  bool added = false;
  if (!AppendDurably(path_, size, marker + "\r\n", AppendAs::kOwnLine, &added)) return false;
  // What an interrupted recording left in the file was written over: read it anew when asked.
  loaded_ = false;
  return true;
}

}  // namespace store
