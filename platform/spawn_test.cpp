#include "platform/spawn.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/file_test.h"
#include "testsupport/started_program.h"

namespace platform {
namespace {

using Arguments = std::vector<std::string>;

TEST(SplitArgumentsTest, FollowsTheWindowsRuntimeRules) {
  const struct {
    const char* line;
    Arguments arguments;
  } cases[] = {
      {"a b\tc", {"a", "b", "c"}},
      {"  \t ", {}},
      {R"("a b" c)", {"a b", "c"}},
      {R"(a"b c"d)", {"ab cd"}},
      {R"("a""b")", {"a\"b"}},
      {R"("" x)", {"", "x"}},
      {R"(\"a)", {"\"a"}},
      {R"(\\"a b")", {"\\a b"}},
      {R"(a\\\"b)", {"a\\\"b"}},
      {R"(a\\b c\)", {"a\\\\b", "c\\"}},
      {R"("open ended)", {"open ended"}},
      // No shell reads the line: its characters are plain text.
      {"; rm -rf $(x) `y` |z >w", {";", "rm", "-rf", "$(x)", "`y`", "|z", ">w"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitArguments(c.line), c.arguments) << c.line;
}

class SpawnTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    ::mkdir(Path("my tools").c_str(), 0755);
    program_ = Path("my tools/prog");
    Install(program_);
  }

  static void Install(const std::string& path) {
    testsupport::WriteFile(path, testsupport::ReadFile(LV_WRITE_ARGS));
    ::chmod(path.c_str(), 0755);
  }

  std::string program_;
};

TEST_F(SpawnTest, StartsTheProgramOfACommandLineWithoutAShell) {
  testsupport::ArgumentsFile recorded(Path("args"));
  const struct {
    std::string line;
    Arguments started;
  } cases[] = {
      {'"' + program_ + R"(" "a b" c)", {program_, "a b", "c"}},
      // Unquoted, the longest prefix that names a program is the program.
      {program_ + R"( x "y z")", {program_, "x", "y z"}},
      {"  " + program_, {program_}},
      {program_ + R"( $(touch pwned);echo)", {program_, "$(touch", "pwned);echo"}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(StartCommandLine(c.line), 0) << c.line;
    EXPECT_EQ(recorded.Await(), c.started) << c.line;
  }
  EXPECT_FALSE(testsupport::FileExists("pwned"));
  EXPECT_EQ(StartProgram(program_, {"one", "two words", "\"q\""}), 0);
  EXPECT_EQ(recorded.Await(), (Arguments{program_, "one", "two words", "\"q\""}));
}

// The real path of a folder, as a started program's getcwd gives it.
std::string RealFolder(const std::string& folder) {
  char real[PATH_MAX];
  return ::realpath(folder.c_str(), real) ? real : "";
}

TEST_F(SpawnTest, StartedProgramsGetTheStandardStreamsOnlyAndTheFolderAsked) {
  testsupport::ArgumentsFile recorded(Path("args"));
  // Opened the way a host program may open a file: inheritable.
  const int inheritable = ::open(program_.c_str(), O_RDONLY);
  ASSERT_GE(inheritable, 3);
  char here[PATH_MAX];
  ASSERT_TRUE(::getcwd(here, sizeof here));
  const struct {
    std::function<int()> start;
    std::string folder;
  } cases[] = {
      {[&] { return StartProgram(program_, {"a"}); }, here},
      {[&] { return StartCommandLine('"' + program_ + "\" b"); }, here},
      {[&] { return StartProgram(program_, {"c"}, Path("my tools")); },
       RealFolder(Path("my tools"))},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(c.start(), 0);
    ASSERT_TRUE(recorded.Await());
    const std::optional<testsupport::StartState> state = recorded.TakeStartState();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->folder, c.folder);
    for (int descriptor : state->descriptors) EXPECT_LE(descriptor, 2) << "inherited";
  }
  EXPECT_EQ(StartProgram(program_, {}, Path("no such folder")), ENOENT);
  ::close(inheritable);
}

TEST_F(SpawnTest, LooksUpNamesWithoutSlashOnPathOnly) {
  testsupport::ArgumentsFile recorded(Path("args"));
  ::mkdir(Path("bin").c_str(), 0755);
  Install(Path("bin/lvprog"));
  const std::string previous = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", ("/nonexistent::" + Path("bin")).c_str(), 1);
  ASSERT_EQ(::chdir(Path("my tools").c_str()), 0);
  const int byName = StartCommandLine("lvprog -x");
  const int fromCurrentDirectory = StartCommandLine("prog");
  ::setenv("PATH", previous.c_str(), 1);
  ASSERT_EQ(byName, 0);
  EXPECT_EQ(recorded.Await(), (Arguments{"lvprog", "-x"}));
  EXPECT_EQ(fromCurrentDirectory, ENOENT);
}

TEST_F(SpawnTest, ReportsWhyNothingWasStarted) {
  testsupport::WriteFile(Path("document.txt"), "text");
  testsupport::WriteFile(Path("my tools/prog data.txt"), "text");
  ::mkfifo(Path("fifo").c_str(), 0644);
  const struct {
    std::string line;
    int error;
  } cases[] = {
      {"", ENOENT},
      {"   ", ENOENT},
      {"\"\"", ENOENT},
      {Path("missing") + " x", ENOENT},
      {Path("document.txt"), EACCES},
      {Path("my tools"), EACCES},
      {Path("fifo"), EACCES},
      {"/dev/null", EACCES},
      {std::string(10000, 'x'), ENOENT},
      {"/" + std::string(10000, 'x'), ENOENT},
      {Path("my tools/prog/x"), ENOENT},
      {Path("my tools/prog data.txt"), EACCES},  // not the program "prog" with "data.txt"
  };
  testsupport::ArgumentsFile recorded(Path("args"));
  for (const auto& c : cases) {
    EXPECT_EQ(StartCommandLine(c.line), c.error) << c.line.substr(0, 60);
  }
  EXPECT_TRUE(recorded.NothingStarted());
}

}  // namespace
}  // namespace platform
