// gorvex_receiver: a stand-in for the monitoring program that the card editor notifies.
//
//   gorvex_receiver [title]        title defaults to "Gorvex"
//
// Takes the window title (platform/window_message.h) and, once messages can reach it, prints
//   listening on <socket path>
// then one line per message received, for example
//   message 0x404 wParam 0x5581d2c0 lParam 0 from pid 4711
// Standard output is flushed after every line, so a person or a test sees each line at once.
// SIGINT and SIGTERM end it with exit code 0 after it has given the title up (its socket file
// removed). Exit code 1: the title cannot be taken (another receiver holds it, the directory is
// unsafe, ...) or standard output is gone; 2: wrong usage.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/window_message.h"

namespace {

constexpr const char* kDefaultTitle = "Gorvex";

// The ending signals arrive through a descriptor, so that the loop below notices them between
// messages and the receiver's destructor always runs.
int EndingSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) return -1;
  return signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

bool Print(const platform::ReceivedMessage& received) {
  std::printf("message 0x%" PRIx32 " wParam 0x%" PRIxPTR " lParam %" PRIdPTR " from pid %" PRId32
              "\n",
              received.message, received.wParam, received.lParam, received.senderPid);
  return std::fflush(stdout) == 0;
}

// Prints every message queued now; false when standard output fails.
bool PrintQueued(platform::MessageReceiver& receiver) {
  while (auto received = receiver.Receive(0)) {
    if (!Print(*received)) return false;
  }
  return true;
}

int Run(platform::MessageReceiver& receiver, int signals) {
  std::printf("listening on %s\n", receiver.path().c_str());
  if (std::fflush(stdout) != 0) return 1;
  pollfd watched[2] = {{receiver.Descriptor(), POLLIN, 0}, {signals, POLLIN, 0}};
  for (;;) {
    if (::poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      std::perror("gorvex_receiver: poll");
      return 1;
    }
    if ((watched[0].revents & POLLIN) && !PrintQueued(receiver)) return 1;
    if (watched[1].revents & POLLIN) return 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) {
    std::fprintf(stderr, "usage: gorvex_receiver [title]\n");
    return 2;
  }
  const char* title = argc == 2 ? argv[1] : kDefaultTitle;
  // A reader that went away must end the program through a failed write, not kill it before
  // it has given the title up.
  ::signal(SIGPIPE, SIG_IGN);
  int signals = EndingSignals();
  if (signals < 0) {
    std::perror("gorvex_receiver: signals");
    return 1;
  }
  auto receiver = platform::MessageReceiver::Listen(title);
  if (!receiver) {
    int error = errno;
    std::fprintf(stderr, "gorvex_receiver: cannot take the title \"%s\": %s\n", title,
                 std::strerror(error));
    return 1;
  }
  int code = Run(*receiver, signals);
  receiver.reset();
  ::close(signals);
  return code;
}
