// Tests of program starting use the program write_args (write_args.cpp), which records the
// arguments it was started with in the file named by $LV_ARGS_FILE. Its path comes from the
// build as LV_WRITE_ARGS.
#ifndef LINDAVOX_TESTSUPPORT_STARTED_PROGRAM_H
#define LINDAVOX_TESTSUPPORT_STARTED_PROGRAM_H

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// What a started write_args found besides its arguments.
struct StartState {
  std::string folder;            // its working folder
  std::vector<int> descriptors;  // the descriptors open in it, in increasing order
};

// Points $LV_ARGS_FILE at `file`, and $LV_STATE_FILE beside it, for the lifetime of the object.
class ArgumentsFile {
 public:
  explicit ArgumentsFile(std::string file);
  ~ArgumentsFile();
  ArgumentsFile(const ArgumentsFile&) = delete;
  ArgumentsFile& operator=(const ArgumentsFile&) = delete;

  // The arguments a started write_args recorded (argv[0] first), waiting at most `limit` for
  // them; nothing when no program wrote them in time. The file is removed after reading, so
  // the next start can be awaited the same way.
  std::optional<std::vector<std::string>> Await(
      std::chrono::milliseconds limit = std::chrono::seconds(10));
  // What the program that wrote the arguments last awaited found when it started; nothing
  // when it did not write it. Read once: the next start can be looked at the same way.
  std::optional<StartState> TakeStartState();
  // True when no program has written the file within `wait`.
  bool NothingStarted(std::chrono::milliseconds wait = std::chrono::milliseconds(300));

 private:
  std::string file_;
};

}  // namespace testsupport

#endif
