// Temporary folders and whole-file helpers for tests, benchmarks and the demo.
#ifndef LINDAVOX_TESTSUPPORT_TEMP_DIR_H
#define LINDAVOX_TESTSUPPORT_TEMP_DIR_H

#include <string>

namespace testsupport {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder with a trailing '/', ready to be used as a directory prefix.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// Removes a file or a folder tree; missing paths are fine.
void RemoveTree(const std::string& path);

// The whole file as bytes; "" when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file with `bytes`; aborts the program on failure (test set-up must not fail).
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

}  // namespace testsupport

#endif
