#include "testsupport/fuzz_support.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace fuzz {
namespace {

std::string g_folder;

void RemoveFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(g_folder, ignored);
}

}  // namespace

const std::string& Folder() {
  if (g_folder.empty()) {
    char pattern[] = "/tmp/lindavox_fuzz.XXXXXX";
    Require(mkdtemp(pattern) != nullptr, "temporary folder");
    g_folder = std::string(pattern) + "/";
    atexit(RemoveFolder);
  }
  return g_folder;
}

std::string Subfolder(const std::string& name) {
  const std::string folder = Folder() + name + "/";
  Require(mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST, "temporary folder");
  return folder;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  Require(file != nullptr, "test file");
  const bool written =
      bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  Require(std::fclose(file) == 0 && written, "test file written");
}

std::string ReadBytes(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return "<missing>";
  std::string bytes;
  char block[4096];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, got);
  std::fclose(file);
  return bytes;
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "finding: %s\n", what);
  abort();
}

}  // namespace fuzz
