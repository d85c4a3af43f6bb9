// The batch markers already imported, PREPAID.TRR: read once per import and kept in memory as
// a sorted list of its lines, so looking a marker up costs a search, not a reading of the file.
#ifndef LINDAVOX_STORE_BATCH_MARKERS_H
#define LINDAVOX_STORE_BATCH_MARKERS_H

#include <sys/types.h>

#include <set>
#include <string>

namespace store {

class BatchMarkers {
 public:
  explicit BatchMarkers(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  enum class Check { kKnown, kNew, kUnreadable };
  // kKnown when a recorded line begins with `marker` (its line end included, so in practice an
  // equal line); kUnreadable when PREPAID.TRR exists but cannot be read.
  Check Find(const std::string& marker);
  // Adds `marker` to PREPAID.TRR in text mode (CR LF), creating the file, at `size`, the size
  // the file had when the import's journal announced it (store/durable_append.h: an
  // interrupted recording is finished, never doubled), and puts it on the disk. False when it
  // could not be written whole.
  bool Record(const std::string& marker, off_t size);

 private:
  bool Load();
  // Adds text as it reads back from the file after the recorded lines: continuing a last line
  // that has no line end, and in pieces of 199 characters.
  void AddText(const std::string& text);

  std::string path_;
  bool loaded_ = false;
  std::multiset<std::string> lines_;
  std::string openLine_;  // the last line when it has no line end yet (also in lines_)
};

}  // namespace store

#endif
