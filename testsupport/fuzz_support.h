// Shared pieces of the fuzz targets: a private folder for the files they write, whole-file
// reading and writing, and a check that stops the run with a finding.
#ifndef LINDAVOX_TESTSUPPORT_FUZZ_SUPPORT_H
#define LINDAVOX_TESTSUPPORT_FUZZ_SUPPORT_H

#include <string>

namespace fuzz {

// A fresh folder with a trailing '/', removed with everything in it at exit. Made on the first
// call.
const std::string& Folder();
// A folder of that name inside Folder(), made when missing, with a trailing '/'.
std::string Subfolder(const std::string& name);
void WriteBytes(const std::string& path, const std::string& bytes);
// The whole file, or "<missing>" when it cannot be read.
std::string ReadBytes(const std::string& path);
// Aborts (a finding) when `condition` does not hold.
void Require(bool condition, const char* what);

}  // namespace fuzz

#endif
