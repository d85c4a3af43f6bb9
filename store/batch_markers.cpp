#include "store/batch_markers.h"

#include "store/durable_append.h"
#include "store/store_internal.h"
#include "store/text_lines.h"
#include "util/file_open_internal.h"

namespace store {

bool BatchMarkers::Load() {
  lines_.clear();
  openLine_.clear();
  if (!StoreFileExists(path_)) return loaded_ = true;
  platform::SharedFile file;
  if (util::OpenAsFopen(path_, "rt", false, &file) != 0) return false;
  TextLineReader reader(file, 0);
  TextLine line;
  for (;;) {
    switch (reader.Next(&line)) {
      case TextLineReader::Result::kError:
        return false;
      case TextLineReader::Result::kEnd:
        return loaded_ = true;
      case TextLineReader::Result::kLine:
        AddText(line.text);
        break;
    }
  }
}

void BatchMarkers::AddText(const std::string& text) {
  std::string pending = openLine_;
  if (!openLine_.empty()) lines_.erase(lines_.find(openLine_));
  pending += text;
  openLine_.clear();
  size_t start = 0;
  while (start < pending.size()) {
    const size_t lineEnd = pending.find('\n', start);
    size_t length = (lineEnd == std::string::npos ? pending.size() : lineEnd + 1) - start;
    if (length > kLineRoom) length = kLineRoom;
    std::string piece = pending.substr(start, length);
    start += length;
    if (piece.back() != '\n' && piece.size() < kLineRoom) openLine_ = piece;
    lines_.insert(std::move(piece));
  }
}

BatchMarkers::Check BatchMarkers::Find(const std::string& marker) {
  if (!loaded_ && !Load()) return Check::kUnreadable;
  const auto it = lines_.lower_bound(marker);
  // Every line that begins with `marker` sorts at or right after it.
  const bool known = it != lines_.end() && it->compare(0, marker.size(), marker) == 0;
  return known ? Check::kKnown : Check::kNew;
}

bool BatchMarkers::Record(const std::string& marker, off_t size) {
  std::string bytes;
  for (char c : marker) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  bool added = false;
  if (!AppendDurably(path_, size, bytes, &added)) return false;
  // What an interrupted recording left in the file was written over: read it anew when asked.
  loaded_ = false;
  return true;
}

}  // namespace store
