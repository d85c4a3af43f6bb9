#include "platform/window_message.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "testsupport/file_test.h"

namespace platform {
namespace {

using testsupport::FileExists;
using Clock = std::chrono::steady_clock;

size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

ino_t InodeOf(const std::string& path) {
  struct stat status {};
  ::lstat(path.c_str(), &status);
  return status.st_ino;
}

bool SameMessage(const ReceivedMessage& a, const ReceivedMessage& b) {
  return a.message == b.message && a.wParam == b.wParam && a.lParam == b.lParam &&
         a.senderPid == b.senderPid;
}

// A receiver in a child process that hands every message it gets back through a pipe.
class ForkedReceiver {
 public:
  explicit ForkedReceiver(const char* title) {
    int messages[2], control[2];
    if (::pipe(messages) != 0 || ::pipe(control) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ < 0) std::abort();
    if (pid_ == 0) {
      ::close(messages[0]);
      ::close(control[1]);
      _exit(Serve(title, messages[1], control[0]));
    }
    ::close(messages[1]);
    ::close(control[0]);
    messages_ = messages[0];
    control_ = control[1];
    char ready = 'n';
    listening_ = ::read(messages_, &ready, 1) == 1 && ready == 'y';
  }
  ~ForkedReceiver() { Stop(); }

  bool listening() const { return listening_; }

  std::optional<ReceivedMessage> Next(int timeoutMs) {
    pollfd readable{messages_, POLLIN, 0};
    ReceivedMessage received;
    if (::poll(&readable, 1, timeoutMs) != 1 ||
        ::read(messages_, &received, sizeof received) != sizeof received) {
      return std::nullopt;
    }
    return received;
  }

  // Ends the child normally: its receiver gives the title up.
  void Stop() { End(false); }
  // Ends the child as a crash would: its socket file stays behind.
  void Kill() { End(true); }

 private:
  static int Serve(const char* title, int messages, int control) {
    auto receiver = MessageReceiver::Listen(title);
    char ready = receiver ? 'y' : 'n';
    if (::write(messages, &ready, 1) != 1 || !receiver) return 1;
    pollfd watched[2] = {{receiver->Descriptor(), POLLIN, 0}, {control, POLLIN, 0}};
    while (::poll(watched, 2, -1) > 0 && !(watched[1].revents & (POLLIN | POLLHUP))) {
      while (auto received = receiver->Receive(0)) {
        if (::write(messages, &*received, sizeof *received) != sizeof *received) return 1;
      }
    }
    return 0;  // the receiver's destructor removes the socket file
  }

  void End(bool kill) {
    if (pid_ <= 0) return;
    if (kill) ::kill(pid_, SIGKILL);
    ::close(control_);
    ::waitpid(pid_, nullptr, 0);
    ::close(messages_);
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int messages_ = -1, control_ = -1;
  bool listening_ = false;
};

class WindowMessageTest : public testsupport::RuntimeDirTest {
 protected:
  std::string MessageDir() const { return Path("run/lindavox/"); }
};

TEST_F(WindowMessageTest, DirectoryComesFromTheEnvironment) {
  EXPECT_EQ(MessageDirectory(), MessageDir());
  ::setenv("XDG_RUNTIME_DIR", "relative/run", 1);
  std::string fallback = "/tmp/lindavox-" + std::to_string(::geteuid()) + "/";
  EXPECT_EQ(MessageDirectory(), fallback);
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(MessageDirectory(), fallback);
}

TEST_F(WindowMessageTest, WithoutReceiverNothingIsFoundAndPostsFail) {
  EXPECT_EQ(FindWindowByTitle("Gorvex"), 0u);
  EXPECT_FALSE(FileExists(MessageDir())) << "a lookup creates nothing";
  errno = 0;
  EXPECT_FALSE(PostWindowMessage(0, 0x404, 1, 0));
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(PostWindowMessage(0x7777, 0x404, 1, 0)) << "a handle never given out";
  // A receiver came and went: the directory stays, the title is free again.
  MessageReceiver::Listen("Gorvex").reset();
  EXPECT_FALSE(FileExists(MessageDir() + "gorvex"));
  EXPECT_EQ(FindWindowByTitle("Gorvex"), 0u);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(WindowMessageTest, ReceiverInAnotherProcessGetsExactlyWhatWasPosted) {
  ForkedReceiver receiver("Gorvex");
  ASSERT_TRUE(receiver.listening());
  WindowHandle window = FindWindowByTitle("Gorvex");
  ASSERT_NE(window, 0u);
  EXPECT_EQ(FindWindowByTitle("GORVEX"), window) << "titles compare regardless of case";
  const int32_t pid = ::getpid();
  const std::vector<ReceivedMessage> sent = {
      {0x404, 0x55d0c0ffee, 0, pid},
      {0xFFFFFFFF, UINTPTR_MAX, INTPTR_MIN, pid},
      {0, 0, -1, pid},
  };
  for (const auto& m : sent) ASSERT_TRUE(PostWindowMessage(window, m.message, m.wParam, m.lParam));
  for (const auto& m : sent) {
    auto received = receiver.Next(2000);
    ASSERT_TRUE(received.has_value());
    EXPECT_TRUE(SameMessage(*received, m)) << std::hex << received->message;
  }
  EXPECT_FALSE(receiver.Next(50).has_value()) << "nothing more than was posted";
}

TEST_F(WindowMessageTest, DatagramLayoutIsPinnedBothWays) {
  // As sent: a bare socket stands in for the receiver.
  ASSERT_EQ(::mkdir(MessageDir().c_str(), 0700), 0);
  int bare = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{AF_UNIX, {}};
  std::string path = WindowSocketPath("Gorvex");
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(bare, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  WindowHandle window = FindWindowByTitle("Gorvex");
  ASSERT_TRUE(PostWindowMessage(window, 0x404, 0x1122334455667788, -2));
  unsigned char bytes[64];
  ASSERT_EQ(::recv(bare, bytes, sizeof bytes, 0), 32);
  const uint32_t pid = ::getpid();
  // clang-format off
  const unsigned char expected[32] = {
      'L', 'V', 'W', 'M', 1, 0, 32, 0, 0x04, 0x04, 0, 0,
      static_cast<unsigned char>(pid), static_cast<unsigned char>(pid >> 8),
      static_cast<unsigned char>(pid >> 16), static_cast<unsigned char>(pid >> 24),
      0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,
      0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  // clang-format on
  EXPECT_EQ(std::memcmp(bytes, expected, 32), 0);
  ForgetWindow(window);
  ::close(bare);
  ::unlink(path.c_str());

  // As received: anything but that exact layout is dropped.
  auto receiver = MessageReceiver::Listen("Gorvex");
  ASSERT_NE(receiver, nullptr);
  int sender = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  ASSERT_EQ(::connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  auto sendVariant = [&](size_t offset, unsigned char value, size_t size) {
    unsigned char variant[33] = {};
    std::memcpy(variant, expected, 32);
    variant[offset] = value;
    ASSERT_EQ(::send(sender, variant, size, 0), static_cast<ssize_t>(size));
  };
  sendVariant(0, 'X', 32);  // magic
  sendVariant(4, 2, 32);    // version
  sendVariant(6, 33, 33);   // longer
  sendVariant(6, 31, 31);   // shorter
  sendVariant(0, 'L', 0);   // empty
  sendVariant(8, 0x05, 32);
  auto received = receiver->Receive(1000);
  ASSERT_TRUE(received.has_value());
  EXPECT_TRUE(SameMessage(*received, {0x405, 0x1122334455667788, -2, static_cast<int32_t>(pid)}));
  EXPECT_FALSE(receiver->Receive(0).has_value());
  EXPECT_EQ(errno, ETIMEDOUT);
  ::close(sender);
}

TEST_F(WindowMessageTest, ReceiverWaitsAsAskedAndItsDescriptorSignalsMessages) {
  auto receiver = MessageReceiver::Listen("Gorvex");
  ASSERT_NE(receiver, nullptr);
  pollfd readable{receiver->Descriptor(), POLLIN, 0};
  EXPECT_EQ(::poll(&readable, 1, 0), 0);
  auto start = Clock::now();
  EXPECT_FALSE(receiver->Receive(100).has_value());
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
  ASSERT_TRUE(PostWindowMessage(FindWindowByTitle("Gorvex"), 0x404, 7, 0));
  EXPECT_EQ(::poll(&readable, 1, 1000), 1);
  EXPECT_TRUE(receiver->Receive(-1).has_value());
}

TEST_F(WindowMessageTest, RestartedReceiverIsReachedOnlyThroughAFreshLookup) {
  auto first = std::make_unique<ForkedReceiver>("Gorvex");
  WindowHandle stale = FindWindowByTitle("Gorvex");
  ASSERT_TRUE(PostWindowMessage(stale, 0x404, 1, 0));
  ASSERT_TRUE(first->Next(2000).has_value());
  first.reset();  // ends normally

  ForkedReceiver second("Gorvex");
  ASSERT_TRUE(second.listening());
  EXPECT_FALSE(PostWindowMessage(stale, 0x404, 2, 0));
  EXPECT_EQ(errno, ECONNREFUSED);
  EXPECT_FALSE(PostWindowMessage(stale, 0x404, 3, 0)) << "stale for good";
  WindowHandle fresh = FindWindowByTitle("Gorvex");
  ASSERT_NE(fresh, 0u);
  EXPECT_NE(fresh, stale);
  ASSERT_TRUE(PostWindowMessage(fresh, 0x404, 4, 0));
  auto received = second.Next(2000);
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(received->wParam, 4u) << "the posts through the stale handle reached nobody";

  // Crashed and restarted before anybody posted: the lookup already sees the new receiver.
  second.Kill();
  ForkedReceiver third("Gorvex");
  ASSERT_TRUE(third.listening());
  WindowHandle newest = FindWindowByTitle("Gorvex");
  EXPECT_NE(newest, fresh);
  EXPECT_FALSE(PostWindowMessage(fresh, 0x404, 5, 0));
  EXPECT_EQ(errno, EBADF);
  ASSERT_TRUE(PostWindowMessage(newest, 0x404, 6, 0));
  received = third.Next(2000);
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(received->wParam, 6u);
}

TEST_F(WindowMessageTest, FullReceiverQueueMakesPostsFailWithoutWaiting) {
  auto receiver = MessageReceiver::Listen("Gorvex");
  ASSERT_NE(receiver, nullptr);
  // The posts run in a child, so that a post that blocked shows as a time-out here.
  int result[2];
  ASSERT_EQ(::pipe(result), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    WindowHandle window = FindWindowByTitle("Gorvex");
    int report[2] = {0, 0};  // posts accepted, errno of the first refused one
    while (report[0] < 100000 && PostWindowMessage(window, 0x404, report[0], 0)) ++report[0];
    report[1] = errno;
    _exit(::write(result[1], report, sizeof report) == sizeof report ? 0 : 1);
  }
  ::close(result[1]);
  pollfd done{result[0], POLLIN, 0};
  int report[2] = {0, 0};
  bool answered = ::poll(&done, 1, 5000) == 1 && ::read(result[0], report, sizeof report) > 0;
  if (!answered) ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(result[0]);
  ASSERT_TRUE(answered) << "a post blocked on the full queue";
  EXPECT_GT(report[0], 0);
  EXPECT_LT(report[0], 100000);
  EXPECT_EQ(report[1], EAGAIN);

  // A full queue does not make the window stale: once there is room, posts get through again.
  WindowHandle window = FindWindowByTitle("Gorvex");
  while (PostWindowMessage(window, 0x404, 0, 0)) {
  }
  ASSERT_EQ(errno, EAGAIN);
  ASSERT_TRUE(receiver->Receive(0).has_value());
  EXPECT_EQ(FindWindowByTitle("Gorvex"), window);
  EXPECT_TRUE(PostWindowMessage(window, 0x404, 0, 0));
}

TEST_F(WindowMessageTest, EveryTitleStaysInsideTheDirectoryUnderItsOwnName) {
  const std::vector<std::string> titles = {"../escape", "/abs",        "a/b",      "a%2Fb",
                                           "..",        ".",           ".lock",    "x.lock",
                                           "a b",       "line\nbreak", "\xE4rger", "Gorvex"};
  std::vector<std::unique_ptr<MessageReceiver>> receivers;
  std::set<std::string> names;
  for (const auto& title : titles) {
    receivers.push_back(MessageReceiver::Listen(title.c_str()));
    ASSERT_NE(receivers.back(), nullptr) << title;
    const std::string& path = receivers.back()->path();
    ASSERT_EQ(path.rfind(MessageDir(), 0), 0u) << path;
    std::string name = path.substr(MessageDir().size());
    EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_%ABCDEF"), name.npos);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), titles.size()) << "distinct titles, distinct sockets";
  EXPECT_EQ(receivers[0]->path(), MessageDir() + "%2E%2E%2Fescape");
  std::set<std::string> top;
  for (const auto& entry : std::filesystem::directory_iterator(Dir())) {
    top.insert(entry.path().filename());
  }
  EXPECT_EQ(top, (std::set<std::string>{"config", "run"}));
  for (size_t i = 0; i < titles.size(); ++i) {
    ASSERT_TRUE(PostWindowMessage(FindWindowByTitle(titles[i].c_str()), 0x404, i, 0));
  }
  for (size_t i = 0; i < titles.size(); ++i) {
    auto received = receivers[i]->Receive(1000);
    ASSERT_TRUE(received.has_value()) << titles[i];
    EXPECT_EQ(received->wParam, i) << titles[i];
  }
  EXPECT_EQ(FindWindowByTitle("\xC4RGER"), FindWindowByTitle("\xE4rger")) << "Ä is ä";

  // Titles that cannot be names.
  std::string tooLong(60, '/');
  for (const char* refused : {"", static_cast<const char*>(nullptr), tooLong.c_str()}) {
    errno = 0;
    EXPECT_EQ(MessageReceiver::Listen(refused), nullptr);
    EXPECT_EQ(errno, refused == tooLong.c_str() ? ENAMETOOLONG : EINVAL);
    EXPECT_EQ(FindWindowByTitle(refused), 0u);
  }
}

TEST_F(WindowMessageTest, OnlyAStaleSocketFileIsReplaced) {
  ForkedReceiver live("Gorvex");
  ASSERT_TRUE(live.listening());
  const std::string path = WindowSocketPath("Gorvex");
  const ino_t inode = InodeOf(path);
  EXPECT_EQ(MessageReceiver::Listen("Gorvex"), nullptr);
  EXPECT_EQ(errno, EADDRINUSE);
  EXPECT_EQ(InodeOf(path), inode) << "a live receiver's socket stays";

  live.Kill();
  ASSERT_TRUE(FileExists(path)) << "the crash left the socket file";
  EXPECT_EQ(FindWindowByTitle("Gorvex"), 0u);
  EXPECT_EQ(errno, ECONNREFUSED);
  auto successor = MessageReceiver::Listen("Gorvex");
  ASSERT_NE(successor, nullptr);
  ASSERT_TRUE(PostWindowMessage(FindWindowByTitle("Gorvex"), 0x404, 1, 0));
  EXPECT_TRUE(successor->Receive(1000).has_value());

  // A receiver whose file somebody removed leaves its successor's file alone.
  ::unlink(path.c_str());
  auto third = MessageReceiver::Listen("Gorvex");
  ASSERT_NE(third, nullptr);
  successor.reset();
  EXPECT_TRUE(FileExists(path));
  ASSERT_TRUE(PostWindowMessage(FindWindowByTitle("Gorvex"), 0x404, 2, 0));
  EXPECT_TRUE(third->Receive(1000).has_value());
  third.reset();

  // Anything but a socket is never removed.
  testsupport::WriteFile(path, "keep");
  EXPECT_EQ(MessageReceiver::Listen("Gorvex"), nullptr);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(testsupport::ReadFile(path), "keep");
}

TEST_F(WindowMessageTest, OnlyAPrivateDirectoryOfOurOwnIsUsed) {
  // Usable by its owner whatever the umask.
  const mode_t previousUmask = ::umask(0277);
  auto receiver = MessageReceiver::Listen("Gorvex");
  ::umask(previousUmask);
  ASSERT_NE(receiver, nullptr);
  struct stat status {};
  ASSERT_EQ(::stat(MessageDir().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(receiver->path().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);

  auto refused = [&](const char* what) {
    EXPECT_EQ(FindWindowByTitle("Gorvex"), 0u) << what;
    EXPECT_EQ(errno, EACCES) << what;
    EXPECT_EQ(MessageReceiver::Listen("Other"), nullptr) << what;
    EXPECT_EQ(errno, EACCES) << what;
  };
  ::chmod(MessageDir().c_str(), 0750);
  refused("group may enter");
  ::chmod(MessageDir().c_str(), 0700);
  EXPECT_NE(FindWindowByTitle("Gorvex"), 0u);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(MessageDir().c_str(), 65534, 65534), 0);
    refused("another user's");
    ASSERT_EQ(::chown(MessageDir().c_str(), 0, 0), 0);
  }
  // A symbolic link in its place, even to a private directory of our own.
  std::string moved = Path("run/moved");
  ASSERT_EQ(::rename(Path("run/lindavox").c_str(), moved.c_str()), 0);
  ASSERT_EQ(::symlink(moved.c_str(), Path("run/lindavox").c_str()), 0);
  refused("symbolic link");
}

TEST_F(WindowMessageTest, LookupsHoldABoundedNumberOfDescriptors) {
  auto receiver = MessageReceiver::Listen("Gorvex");
  ASSERT_NE(receiver, nullptr);
  const WindowHandle window = FindWindowByTitle("Gorvex");
  const size_t held = OpenDescriptors();
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(FindWindowByTitle("Gorvex"), window);
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(FindWindowByTitle("Absent"), 0u);
  EXPECT_EQ(OpenDescriptors(), held);

  // A receiver that keeps restarting: each lookup closes the connection to the old one.
  for (int i = 0; i < 200; ++i) {
    receiver.reset();
    receiver = MessageReceiver::Listen("Gorvex");
    ASSERT_TRUE(PostWindowMessage(FindWindowByTitle("Gorvex"), 0x404, i, 0));
    ASSERT_TRUE(receiver->Receive(0).has_value());
  }
  EXPECT_EQ(OpenDescriptors(), held);

  // Many titles: no more than kMaxHeldWindows connections; the least recently used goes first.
  std::vector<std::unique_ptr<MessageReceiver>> many;
  auto title = [](size_t i) { return "Title " + std::to_string(i); };
  for (size_t i = 0; i < 2 * kMaxHeldWindows; ++i) {
    many.push_back(MessageReceiver::Listen(title(i).c_str()));
  }
  std::vector<WindowHandle> handles;
  for (size_t i = 0; i < many.size(); ++i) {
    handles.push_back(FindWindowByTitle(title(i).c_str()));
    ASSERT_NE(handles.back(), 0u);
  }
  const size_t full = OpenDescriptors();  // holding the last kMaxHeldWindows titles
  for (size_t i = 0; i < many.size(); ++i) ASSERT_NE(FindWindowByTitle(title(i).c_str()), 0u);
  EXPECT_EQ(OpenDescriptors(), full);
  EXPECT_FALSE(PostWindowMessage(handles.front(), 0x404, 0, 0));
  EXPECT_EQ(errno, EBADF);
  EXPECT_TRUE(PostWindowMessage(FindWindowByTitle(title(0).c_str()), 0x404, 0, 0));
  for (size_t i = 0; i < many.size(); ++i) ForgetWindow(FindWindowByTitle(title(i).c_str()));
  EXPECT_EQ(OpenDescriptors(), full - kMaxHeldWindows);
}

}  // namespace
}  // namespace platform
