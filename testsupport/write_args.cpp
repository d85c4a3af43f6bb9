// A stand-in for a started program: writes its arguments, argv[0] first, each followed by a
// zero byte, to the file named by $LV_ARGS_FILE. The file appears whole (written beside it,
// then renamed), so a test that sees it sees every argument. With $LV_STATE_FILE it first writes
// what it was started with besides its arguments to that file, the same way: its working
// folder, a line end, and the descriptors it found open, each followed by a blank. Exit status
// 2 without the variable, 1 when a file cannot be written.
#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Writes `bytes` to `target` whole: beside it first, then renamed.
bool WriteWhole(const std::string& target, const std::string& bytes) {
  const std::string part = target + ".part";
  std::FILE* out = std::fopen(part.c_str(), "wb");
  if (!out) return false;
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  if (std::fclose(out) != 0) return false;
  return std::rename(part.c_str(), target.c_str()) == 0;
}

// The working folder and the descriptors open when the program started.
std::string StartState() {
  char folder[PATH_MAX] = "?";
  if (!::getcwd(folder, sizeof folder)) std::strcpy(folder, "?");
  std::string state = std::string(folder) + "\n";
  DIR* listing = ::opendir("/proc/self/fd");
  if (!listing) return state;
  const int own = ::dirfd(listing);
  while (const dirent* entry = ::readdir(listing)) {
    if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own) continue;
    state += entry->d_name;
    state += ' ';
  }
  ::closedir(listing);
  return state;
}

}  // namespace

int main(int argc, char** argv) {
  const char* target = std::getenv("LV_ARGS_FILE");
  if (!target) return 2;
  if (const char* stateFile = std::getenv("LV_STATE_FILE")) {
    if (!WriteWhole(stateFile, StartState())) return 1;
  }
  std::string arguments;
  for (int i = 0; i < argc; ++i) arguments.append(argv[i], std::strlen(argv[i]) + 1);
  return WriteWhole(target, arguments) ? 0 : 1;
}
