#include "platform/spawn.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/file_io.h"

extern char** environ;

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// 0 when `path` names an ordinary file we may execute, else ENOENT or EACCES.
int CheckProgram(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) {
    return errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG ? ENOENT : EACCES;
  }
  if (KindOf(status) != FileKind::kRegular || ::access(path.c_str(), X_OK) != 0) return EACCES;
  return 0;
}

// The file `program` names: itself when it holds a '/', else the first executable of that name
// in a folder of PATH. Returns 0 and sets `*path`, or ENOENT / EACCES.
int ResolveProgram(const std::string& program, std::string* path) {
  if (program.empty()) return ENOENT;
  if (program.find('/') != std::string::npos) {
    *path = program;
    return CheckProgram(program);
  }
  const char* list = std::getenv("PATH");
  const std::string_view folders = list ? list : "/bin:/usr/bin";
  int error = ENOENT;
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string_view::npos) end = folders.size();
    // An empty entry means the current directory to a shell; a started program should never
    // come from wherever the caller happens to be, so it is skipped.
    if (end > start) {
      std::string candidate(folders.substr(start, end - start));
      candidate += '/';
      candidate += program;
      const int result = CheckProgram(candidate);
      if (result == 0) {
        *path = std::move(candidate);
        return 0;
      }
      if (result == EACCES) error = EACCES;
    }
    start = end + 1;
  }
  return error;
}

// Owns the attributes of a spawn: a session of its own, default signals, nothing blocked.
class SpawnAttributes {
 public:
  SpawnAttributes() { ok_ = ::posix_spawnattr_init(&attributes_) == 0; }
  ~SpawnAttributes() {
    if (ok_) ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  // Returns 0 or the error of setting the attributes up.
  int Prepare() {
    if (!ok_) return ENOMEM;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    if (int error = ::posix_spawnattr_setsigmask(&attributes_, &none)) return error;
    if (int error = ::posix_spawnattr_setsigdefault(&attributes_, &all)) return error;
    return ::posix_spawnattr_setflags(
        &attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  }
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
  bool ok_ = false;
};

// Owns the file actions of a spawn: the program gets standard input, output and error only,
// whatever else this process has open, inheritable or not (a descriptor a library or the host
// program opened without O_CLOEXEC would otherwise live on in every program started), and runs
// in `folder` when one is given.
class SpawnFileActions {
 public:
  SpawnFileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnFileActions() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;

  // Returns 0 or the error of setting the actions up.
  int Prepare(const std::string& folder) {
    if (!ok_) return ENOMEM;
    if (int error = ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1)) {
      return error;
    }
    return folder.empty() ? 0 : ::posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str());
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

// Collects the exit status of `pid` once it ends. Without a thread (none can be had) the
// program still runs; it only stays a zombie until this process ends.
void ReapInBackground(pid_t pid) {
  try {
    std::thread([pid] {
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
  }
}

int Spawn(const std::string& path, const std::string& argv0,
          const std::vector<std::string>& arguments, const std::string& folder = {}) {
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 2);
  argv.push_back(const_cast<char*>(argv0.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  SpawnAttributes attributes;
  if (int error = attributes.Prepare()) return error;
  SpawnFileActions actions;
  if (int error = actions.Prepare(folder)) return error;
  pid_t pid;
  if (int error = ::posix_spawn(&pid, path.c_str(), actions.get(), attributes.get(), argv.data(),
                                environ)) {
    return error;
  }
  ReapInBackground(pid);
  return 0;
}

}  // namespace

std::vector<std::string> SplitArguments(std::string_view text) {
  std::vector<std::string> arguments;
  size_t i = 0;
  for (;;) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i == text.size()) return arguments;
    std::string argument;
    bool quoted = false;
    while (i < text.size() && (quoted || !IsBlank(text[i]))) {
      if (text[i] == '\\') {
        size_t run = 0;
        while (i + run < text.size() && text[i + run] == '\\') ++run;
        const bool beforeQuote = i + run < text.size() && text[i + run] == '"';
        argument.append(beforeQuote ? run / 2 : run, '\\');
        i += run;
        if (beforeQuote && run % 2 == 1) {
          argument += '"';
          ++i;
        }
      } else if (text[i] == '"') {
        if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
          argument += '"';
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        argument += text[i++];
      }
    }
    arguments.push_back(std::move(argument));
  }
}

int StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& folder) {
  std::string path;
  if (int error = ResolveProgram(program, &path)) return error;
  return Spawn(path, program, arguments, folder);
}

int StartCommandLine(std::string_view commandLine) {
  size_t start = 0;
  while (start < commandLine.size() && IsBlank(commandLine[start])) ++start;
  const std::string_view line = commandLine.substr(start);
  if (line.empty()) return ENOENT;
  std::string path;
  if (line.front() == '"') {
    const size_t close = line.find('"', 1);
    const std::string program(line.substr(1, close == std::string_view::npos ? close : close - 1));
    if (int error = ResolveProgram(program, &path)) return error;
    const std::string_view rest =
        close == std::string_view::npos ? std::string_view() : line.substr(close + 1);
    return Spawn(path, program, SplitArguments(rest));
  }
  // The ends of the candidate programs: before each run of blanks, and the end of the line,
  // up to the first quote.
  const size_t quote = line.find('"');
  std::vector<size_t> ends;
  for (size_t i = 1; i < line.size() && i < quote; ++i) {
    if (IsBlank(line[i]) && !IsBlank(line[i - 1])) ends.push_back(i);
  }
  if (quote == std::string_view::npos) ends.push_back(line.size());
  if (ends.empty()) {  // a quote inside the first token: that token, quote and all
    ends.push_back(std::min(line.size(), line.find_first_of(" \t")));
  }
  for (auto end = ends.rbegin(); end != ends.rend(); ++end) {
    const std::string program(line.substr(0, *end));
    const int result = ResolveProgram(program, &path);
    if (result == 0) return Spawn(path, program, SplitArguments(line.substr(*end)));
    // The longest prefix that names something is what the line means: when that is no
    // program, a shorter prefix that happens to be one is not started in its place.
    if (result == EACCES) return EACCES;
  }
  return ENOENT;
}

}  // namespace platform
