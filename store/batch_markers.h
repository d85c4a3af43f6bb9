// The batch markers already imported, PREPAID.TRR: read once per import and kept in memory as
// a sorted set of its lines, so looking a marker up costs a search, not a reading of the file.
//
// Every marker is stored on a line of its own, ended by CR LF, exactly as it stood in the order
// file without its line end; a marker is known when a stored line equals it. A list that ends
// without a line end (as older imports left one) gets its line end before the next marker, so
// two markers never run together on one line.
#ifndef LINDAVOX_STORE_BATCH_MARKERS_H
#define LINDAVOX_STORE_BATCH_MARKERS_H

#include <set>
#include <string>

namespace store {

class BatchMarkers {
 public:
  explicit BatchMarkers(std::string path) : path_(std::move(path)) {}

  enum class Check { kKnown, kNew, kUnreadable };
  // kUnreadable when PREPAID.TRR exists but cannot be read.
  Check Find(const std::string& marker);
  // Appends `marker` to PREPAID.TRR, creating the file; false when it could not be written
  // whole. With `inMemoryOnly` the file is not touched (an import that only tells what it would
  // do), and later lookups know the marker all the same.
  bool Record(const std::string& marker, bool inMemoryOnly = false);

 private:
  bool Load();

  std::string path_;
  bool loaded_ = false;
  std::set<std::string> lines_;
};

}  // namespace store

#endif
