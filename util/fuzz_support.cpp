#include "util/fuzz_support.h"

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

namespace fuzz {
namespace {

std::string g_folder;

void RemoveFolder() {
  if (DIR* dir = opendir(g_folder.c_str())) {
    while (dirent* entry = readdir(dir)) unlink((g_folder + entry->d_name).c_str());
    closedir(dir);
  }
  rmdir(g_folder.c_str());
}

}  // namespace

const std::string& Folder() {
  if (g_folder.empty()) {
    char pattern[] = "/tmp/util_fuzz.XXXXXX";
    Require(mkdtemp(pattern) != nullptr, "temporary folder");
    g_folder = std::string(pattern) + "/";
    atexit(RemoveFolder);
  }
  return g_folder;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  Require(file != nullptr, "test file");
  Require(bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(),
          "test file written");
  std::fclose(file);
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
