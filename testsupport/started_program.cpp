#include "testsupport/started_program.h"

#include <cstdlib>
#include <sstream>
#include <thread>

#include "testsupport/temp_dir.h"

namespace testsupport {

ArgumentsFile::ArgumentsFile(std::string file) : file_(std::move(file)) {
  ::setenv("LV_ARGS_FILE", file_.c_str(), 1);
  ::setenv("LV_STATE_FILE", (file_ + ".state").c_str(), 1);
}

ArgumentsFile::~ArgumentsFile() {
  ::unsetenv("LV_ARGS_FILE");
  ::unsetenv("LV_STATE_FILE");
}

std::optional<StartState> ArgumentsFile::TakeStartState() {
  const std::string stateFile = file_ + ".state";
  if (!FileExists(stateFile)) return std::nullopt;
  std::istringstream state(ReadFile(stateFile));
  RemoveTree(stateFile);
  StartState result;
  std::getline(state, result.folder);
  for (int descriptor; state >> descriptor;) result.descriptors.push_back(descriptor);
  return result;
}

std::optional<std::vector<std::string>> ArgumentsFile::Await(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!FileExists(file_)) {
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const std::string bytes = ReadFile(file_);
  RemoveTree(file_);
  std::vector<std::string> arguments;
  for (size_t start = 0; start < bytes.size();) {
    const size_t end = bytes.find('\0', start);
    arguments.push_back(bytes.substr(start, end - start));
    start = end == std::string::npos ? bytes.size() : end + 1;
  }
  return arguments;
}

bool ArgumentsFile::NothingStarted(std::chrono::milliseconds wait) {
  return !Await(wait).has_value();
}

}  // namespace testsupport
