// Windows found by title, over Unix datagram sockets.
//
// Why connected datagram sockets. A connected socket stays tied to the one receiver socket it
// reached: when that receiver ends, every send through the connection fails (ECONNREFUSED,
// then ENOTCONN), even after a new receiver has bound a fresh socket at the same name. That is
// exactly a stale window handle. Sending by name instead would quietly reach the new receiver
// through an old handle, and a receiver could not be told from its successor.
//
// Why the module owns the connections. The card editor holds its handle for the life of the
// process and looks the window up again after every failed post, without releasing anything.
// If each lookup opened a socket for the caller, a receiver that keeps restarting would leak a
// descriptor per restart. So lookups share one connection per title, recognise the receiver
// behind it by its socket file (device, inode, change time), and close it when the title has
// moved on.
//
// Replacing a stale socket file. A receiver that crashed leaves its socket file behind, and
// binding that name fails with EADDRINUSE. A new receiver may remove the file only when nobody
// listens there any more: it connects to it first, and only ECONNREFUSED proves it dead. The
// probe and the removal, and a departing receiver's check that the file is still its own before
// it removes it, happen under flock on the directory's ".lock", so two receivers starting at
// once cannot both remove the file and end up one bound to a name the other deleted.
#include "platform/window_message.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include "platform/ansi_case.h"
#include "platform/file_io.h"
#include "platform/little_endian.h"
#include "platform/path.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

using detail::SocketFileIdentity;

using Datagram = unsigned char[kWindowMessageSize];

void EncodeMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, Datagram out) {
  StoreLE32(out, kWindowMessageMagic);
  StoreLE16(out + 4, kWindowMessageVersion);
  StoreLE16(out + 6, static_cast<uint16_t>(kWindowMessageSize));
  StoreLE32(out + 8, message);
  StoreLE32(out + 12, static_cast<uint32_t>(::getpid()));
  StoreLE64(out + 16, wParam);
  StoreLE64(out + 24, static_cast<uint64_t>(static_cast<int64_t>(lParam)));
}

std::optional<ReceivedMessage> DecodeMessage(const unsigned char* bytes, size_t size) {
  if (size != kWindowMessageSize || LoadLE32(bytes) != kWindowMessageMagic ||
      LoadLE16(bytes + 4) != kWindowMessageVersion || LoadLE16(bytes + 6) != size) {
    return std::nullopt;
  }
  ReceivedMessage received;
  received.message = LoadLE32(bytes + 8);
  received.senderPid = static_cast<int32_t>(LoadLE32(bytes + 12));
  received.wParam = static_cast<uintptr_t>(LoadLE64(bytes + 16));
  received.lParam = static_cast<intptr_t>(static_cast<int64_t>(LoadLE64(bytes + 24)));
  return received;
}

// The title as a file name (see the header): lower case, then escaped.
std::string EncodeTitle(const char* title) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string name;
  for (const char* p = title; *p != '\0'; ++p) {
    unsigned char c = AnsiLower(static_cast<unsigned char>(*p));
    bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (plain) {
      name += static_cast<char>(c);
    } else {
      name += '%';
      name += kHex[c >> 4];
      name += kHex[c & 15];
    }
  }
  return name;
}

std::string SocketPathIn(const std::string& directory, const char* title) {
  if (title == nullptr || *title == '\0') {
    errno = EINVAL;
    return {};
  }
  std::string path = directory + EncodeTitle(title);
  if (path.size() >= sizeof(sockaddr_un{}.sun_path)) {
    errno = ENAMETOOLONG;
    return {};
  }
  return path;
}

sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  return address;
}

int NewSocket() { return ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0); }

bool Bind(int fd, const std::string& path) {
  sockaddr_un address = AddressOf(path);
  return ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool Connect(int fd, const std::string& path) {
  sockaddr_un address = AddressOf(path);
  return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// The identity of the socket file at `path`; nothing (errno set) when there is no socket file.
std::optional<SocketFileIdentity> IdentityOf(const std::string& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) return std::nullopt;
  if (!S_ISSOCK(status.st_mode)) {
    errno = ECONNREFUSED;  // what connecting to a non-socket answers
    return std::nullopt;
  }
  return SocketFileIdentity{status.st_dev, status.st_ino, status.st_ctim.tv_sec,
                            status.st_ctim.tv_nsec};
}

// 0 when `directory` (with its trailing '/') is a directory of our own that nobody else may
// enter, else the errno value; `create` makes it first when it is missing.
int CheckDirectory(const std::string& directory, bool create) {
  if (create) {
    if (::mkdir(directory.c_str(), 0700) == 0) {
      ::chmod(directory.c_str(), 0700);  // a umask must not leave it unusable
    } else if (errno != EEXIST) {
      return errno;
    }
  }
  // Without the trailing '/', so that lstat sees a symbolic link instead of following it.
  std::string name = directory.substr(0, directory.size() - 1);
  struct stat status;
  if (::lstat(name.c_str(), &status) != 0) return errno;
  bool safe = KindOf(status) == FileKind::kDirectory && status.st_uid == ::geteuid() &&
              (status.st_mode & 077) == 0;
  return safe ? 0 : EACCES;
}

// Holds the directory's lock file locked while alive; false (errno set) when it cannot.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& directory)
      : fd_(::open((directory + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                   0600)) {
    if (!fd_) return;
    while (::flock(fd_.get(), LOCK_EX) != 0) {
      if (errno != EINTR) {
        fd_.reset();
        return;
      }
    }
  }
  explicit operator bool() const { return static_cast<bool>(fd_); }

 private:
  UniqueFd fd_;  // open and locked, or closed when locking failed
};

// Removes the socket file at `path` when it is left over from a receiver that died. 0 when the
// name is free now; EADDRINUSE when a receiver listens there, EEXIST when it is no socket.
int RemoveIfStale(const std::string& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) return errno == ENOENT ? 0 : errno;
  if (!S_ISSOCK(status.st_mode)) return EEXIST;
  UniqueFd probe(NewSocket());
  if (!probe) return errno;
  if (Connect(probe.get(), path)) return EADDRINUSE;
  if (errno == ENOENT) return 0;
  if (errno != ECONNREFUSED) return errno;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
  return 0;
}

bool ReceiverGone(int error) {
  return error == ECONNREFUSED || error == ENOTCONN || error == ECONNRESET || error == EPIPE;
}

// The connections behind the handles that lookups give out.
class HeldWindows {
 public:
  WindowHandle Find(const std::string& path);
  bool Post(WindowHandle window, const Datagram datagram);
  void Forget(WindowHandle window);
  // Closes the connection held for `path`, if any.
  void Drop(const std::string& path);

 private:
  struct Connection {
    std::string path;  // the title's socket file
    UniqueFd fd;       // connected to the receiver that was bound at `path`
    SocketFileIdentity identity;
    uint64_t lastUse;
  };
  using Connections = std::map<WindowHandle, Connection>;

  Connections::iterator ByPath(const std::string& path);
  void MakeRoom();
  WindowHandle Open(const std::string& path, const SocketFileIdentity& identity);

  std::mutex mutex_;
  Connections connections_;      // at most kMaxHeldWindows, at most one per path
  WindowHandle lastHandle_ = 0;  // handles are issued in increasing order, never reused
  uint64_t clock_ = 0;           // counts uses, for lastUse
};

HeldWindows::Connections::iterator HeldWindows::ByPath(const std::string& path) {
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->second.path == path) return it;
  }
  return connections_.end();
}

void HeldWindows::MakeRoom() {
  while (connections_.size() >= kMaxHeldWindows) {
    auto oldest = connections_.begin();
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
      if (it->second.lastUse < oldest->second.lastUse) oldest = it;
    }
    connections_.erase(oldest);
  }
}

WindowHandle HeldWindows::Open(const std::string& path, const SocketFileIdentity& identity) {
  UniqueFd fd(NewSocket());
  if (!fd || !Connect(fd.get(), path)) return 0;
  MakeRoom();
  WindowHandle handle = ++lastHandle_;
  connections_.emplace(handle, Connection{path, std::move(fd), identity, ++clock_});
  return handle;
}

WindowHandle HeldWindows::Find(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto held = ByPath(path);
  std::optional<SocketFileIdentity> identity = IdentityOf(path);
  if (held != connections_.end()) {
    if (identity && held->second.identity == *identity) {
      held->second.lastUse = ++clock_;
      return held->first;
    }
    connections_.erase(held);  // the title has moved on: its old receiver is gone or replaced
  }
  return identity ? Open(path, *identity) : 0;
}

bool HeldWindows::Post(WindowHandle window, const Datagram datagram) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = connections_.find(window);
  if (it == connections_.end()) {
    errno = EBADF;
    return false;
  }
  ssize_t sent =
      ::send(it->second.fd.get(), datagram, kWindowMessageSize, MSG_DONTWAIT | MSG_NOSIGNAL);
  if (sent == static_cast<ssize_t>(kWindowMessageSize)) {
    it->second.lastUse = ++clock_;
    return true;
  }
  int error = sent < 0 ? errno : EMSGSIZE;
  if (ReceiverGone(error)) connections_.erase(it);
  errno = error;
  return false;
}

void HeldWindows::Forget(WindowHandle window) {
  std::lock_guard<std::mutex> lock(mutex_);
  connections_.erase(window);
}

void HeldWindows::Drop(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto held = ByPath(path);
  if (held != connections_.end()) connections_.erase(held);
}

// Never destroyed, so lookups and posts stay usable from other objects' destructors at exit.
HeldWindows& Held() {
  static HeldWindows* held = new HeldWindows;
  return *held;
}

}  // namespace

std::string MessageDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    std::string directory = runtime;
    if (directory.back() != '/') directory += '/';
    return directory + "lindavox/";
  }
  return "/tmp/lindavox-" + std::to_string(::geteuid()) + "/";
}

std::string WindowSocketPath(const char* title) { return SocketPathIn(MessageDirectory(), title); }

WindowHandle FindWindowByTitle(const char* title) {
  std::string directory = MessageDirectory();
  std::string path = SocketPathIn(directory, title);
  if (path.empty()) return 0;
  if (int error = CheckDirectory(directory, false)) {
    Held().Drop(path);
    errno = error;
    return 0;
  }
  return Held().Find(path);
}

bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  Datagram datagram;
  EncodeMessage(message, wParam, lParam, datagram);
  return Held().Post(window, datagram);
}

void ForgetWindow(WindowHandle window) { Held().Forget(window); }

std::unique_ptr<MessageReceiver> MessageReceiver::Listen(const char* title) {
  std::string directory = MessageDirectory();
  std::string path = SocketPathIn(directory, title);
  if (path.empty()) return nullptr;
  if (int error = CheckDirectory(directory, true)) {
    errno = error;
    return nullptr;
  }
  DirectoryLock lock(directory);
  UniqueFd socket(NewSocket());
  if (!lock || !socket) return nullptr;
  if (!Bind(socket.get(), path)) {
    if (errno != EADDRINUSE) return nullptr;
    if (int error = RemoveIfStale(path)) {
      errno = error;
      return nullptr;
    }
    if (!Bind(socket.get(), path)) return nullptr;
  }
  // Connecting needs write permission on the socket file, which a umask may have withheld.
  ::chmod(path.c_str(), 0600);
  std::optional<SocketFileIdentity> identity = IdentityOf(path);
  if (!identity) return nullptr;
  return std::unique_ptr<MessageReceiver>(
      new MessageReceiver(socket.release(), std::move(path), *identity));
}

MessageReceiver::~MessageReceiver() {
  int saved = errno;
  {
    DirectoryLock lock(DirectoryOf(path_));
    std::optional<SocketFileIdentity> identity = IdentityOf(path_);
    if (identity && *identity == identity_) ::unlink(path_.c_str());
  }
  errno = saved;  // the socket is closed after this, by its owner, keeping errno too
}

std::optional<ReceivedMessage> MessageReceiver::Receive(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  // One byte more than a message, so that a longer datagram shows as too long, not as cut.
  unsigned char buffer[kWindowMessageSize + 1];
  for (;;) {
    ssize_t size = ::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (size >= 0) {
      if (auto received = DecodeMessage(buffer, static_cast<size_t>(size))) return received;
      continue;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) return std::nullopt;
    int wait = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) {
        errno = ETIMEDOUT;
        return std::nullopt;
      }
      wait = static_cast<int>(left.count());
    }
    pollfd readable{fd_.get(), POLLIN, 0};
    int ready = ::poll(&readable, 1, wait);
    if (ready < 0) return std::nullopt;
    if (ready == 0) {
      errno = ETIMEDOUT;
      return std::nullopt;
    }
  }
}

}  // namespace platform
