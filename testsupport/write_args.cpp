// A stand-in for a started program: writes its arguments, argv[0] first, each followed by a
// zero byte, to the file named by $LV_ARGS_FILE. The file appears whole (written beside it,
// then renamed), so a test that sees it sees every argument. Exit status 2 without the
// variable, 1 when the file cannot be written.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  const char* target = std::getenv("LV_ARGS_FILE");
  if (!target) return 2;
  const std::string part = std::string(target) + ".part";
  std::FILE* out = std::fopen(part.c_str(), "wb");
  if (!out) return 1;
  for (int i = 0; i < argc; ++i) std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, out);
  if (std::fclose(out) != 0) return 1;
  return std::rename(part.c_str(), target) == 0 ? 0 : 1;
}
