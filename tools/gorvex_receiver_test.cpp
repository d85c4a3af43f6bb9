// The built gorvex_receiver program, run end to end: started, posted to, ended by a signal.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/window_message.h"
#include "testsupport/file_test.h"

extern char** environ;

namespace {

using testsupport::FileExists;

// The program running in the background with its standard output on a pipe.
class Receiver {
 public:
  explicit Receiver(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), LV_GORVEX_RECEIVER);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int output[2];
    if (::pipe(output) != 0) std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) std::abort();
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    output_ = output[0];
  }
  ~Receiver() {
    if (pid_ > 0) Signal(SIGKILL);
    ::close(output_);
  }

  // The next line it printed, without the line end; "" when none comes within two seconds.
  std::string Line() {
    std::string line;
    char c;
    pollfd readable{output_, POLLIN, 0};
    while (::poll(&readable, 1, 2000) == 1 && ::read(output_, &c, 1) == 1) {
      if (c == '\n') return line;
      line += c;
    }
    return "";
  }

  // Sends `signal` and returns the exit code (-1 when it did not exit normally).
  int Signal(int signal) {
    ::kill(pid_, signal);
    return Wait();
  }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
};

class GorvexReceiverTest : public testsupport::RuntimeDirTest {};

TEST_F(GorvexReceiverTest, PrintsEveryMessageAndGivesTheTitleUpOnSigterm) {
  Receiver receiver({});
  const std::string path = platform::WindowSocketPath("Gorvex");
  ASSERT_EQ(receiver.Line(), "listening on " + path);
  platform::WindowHandle window = platform::FindWindowByTitle("Gorvex");
  ASSERT_NE(window, 0u);
  const std::string pid = std::to_string(::getpid());
  ASSERT_TRUE(platform::PostWindowMessage(window, 0x404, 0x5581d2c0, 0));
  EXPECT_EQ(receiver.Line(), "message 0x404 wParam 0x5581d2c0 lParam 0 from pid " + pid);
  ASSERT_TRUE(platform::PostWindowMessage(window, 0x10, UINTPTR_MAX, -7));
  EXPECT_EQ(receiver.Line(), "message 0x10 wParam 0xffffffffffffffff lParam -7 from pid " + pid);

  EXPECT_EQ(receiver.Signal(SIGTERM), 0);
  EXPECT_FALSE(FileExists(path));
  EXPECT_FALSE(platform::PostWindowMessage(window, 0x404, 1, 0));
}

TEST_F(GorvexReceiverTest, TakesTheTitleGivenAndEndsOnSigint) {
  Receiver receiver({"Monitor/2"});
  ASSERT_EQ(receiver.Line(), "listening on " + Path("run/lindavox/monitor%2F2"));
  ASSERT_TRUE(platform::PostWindowMessage(platform::FindWindowByTitle("Monitor/2"), 0x404, 1, 0));
  EXPECT_EQ(receiver.Line().rfind("message 0x404 wParam 0x1 lParam 0 ", 0), 0u);
  EXPECT_EQ(receiver.Signal(SIGINT), 0);
  EXPECT_FALSE(FileExists(Path("run/lindavox/monitor%2F2")));
}

TEST_F(GorvexReceiverTest, SecondReceiverForTheTitleRefusesAndWrongUsageIsRejected) {
  Receiver first({"Gorvex"});
  ASSERT_EQ(first.Line().rfind("listening on ", 0), 0u);
  Receiver second({"Gorvex"});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_EQ(second.Line(), "");
  // The first still holds the title.
  ASSERT_TRUE(platform::PostWindowMessage(platform::FindWindowByTitle("Gorvex"), 0x404, 2, 0));
  EXPECT_EQ(first.Line().rfind("message 0x404 wParam 0x2 ", 0), 0u);

  Receiver wrong({"Gorvex", "extra"});
  EXPECT_EQ(wrong.Wait(), 2);
  EXPECT_EQ(first.Signal(SIGTERM), 0);
}

}  // namespace
