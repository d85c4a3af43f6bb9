// The batch markers already imported, PREPAID.TRR: read once per import and kept in memory as
// a sorted set of its lines, so looking a marker up costs a search, not a reading of the file.
//
// Every marker is stored on a line of its own, ended by CR LF, exactly as it stood in the order
// file without its line end; a marker is known when a stored line equals it. A list that ends
// without a line end (as older imports left one) gets its line end before the next marker, so
// two markers never run together on one line.
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
  // kUnreadable when PREPAID.TRR exists but cannot be read.
  Check Find(const std::string& marker);
  // Adds `marker` to PREPAID.TRR on a line of its own, creating the file, at `size`, the size
  // the file had when the import's journal announced it (store/durable_append.h: an
  // interrupted recording is finished, never doubled), and puts it on the disk. False when it
  // could not be written whole. With `inMemoryOnly` the file is not touched (an import that
  // only tells what it would do), and later lookups know the marker all the same.
  bool Record(const std::string& marker, off_t size, bool inMemoryOnly = false);

 private:
  bool Load();

  std::string path_;
  bool loaded_ = false;
  std::set<std::string> lines_;
};

}  // namespace store

#endif
