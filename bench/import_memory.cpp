// The memory an import needs: `import_memory prepare DIR` writes a million cards and 100,000
// orders into DIR; `import_memory run DIR` imports them and prints the peak resident memory
// before and after, so the difference is what the import itself took (run it under
// /usr/bin/time -v as well).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "bench/import_data.h"
#include "store/import.h"

namespace {

long PeakKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: import_memory prepare|run DIR/\n");
    return 2;
  }
  const std::string dir = argv[2];
  if (std::strcmp(argv[1], "prepare") == 0) {
    bench::WriteImportData(bench::MakeImportData(1000000, 100000, 1), dir);
    return 0;
  }
  const long before = PeakKilobytes();
  const int32_t result = store::Include(dir.c_str(), dir.c_str(), util::SplitGeneration::kCurrent);
  const long after = PeakKilobytes();
  std::printf("import result %d, peak resident memory %ld kB before, %ld kB after: %ld kB\n",
              result, before, after, after - before);
  return result == 1 ? 0 : 1;
}
