// Windows found by title: posting a message to another program's top-level window.
//
// The card editor notifies a monitoring program by posting one message to the window that
// carries a given title. Here a program that wants such messages (a receiver) binds a Unix
// datagram socket named after its title in the user's message directory; finding the window
// connects to that socket, and posting is one non-blocking send of a fixed 32-byte datagram.
// Nothing ever waits for the receiver: a missing, vanished or overloaded receiver makes the
// post fail at once.
//
// Directory. MessageDirectory(): $XDG_RUNTIME_DIR/lindavox/ when XDG_RUNTIME_DIR is an
// absolute path, else /tmp/lindavox-<euid>/. A receiver creates it with mode 0700. Receivers
// and senders alike refuse (EACCES) a directory that is a symbolic link, belongs to another
// user or grants any access to group or others, so nobody else can plant or read a socket.
//
// Titles are compared as FindWindow compares them: Windows-1252 letters regardless of case.
// The socket's file name is the title in lower case with every byte other than a-z, 0-9, '-'
// and '_' written as '%' and two upper-case hex digits ("a/b.c" -> "a%2Fb%2Ec"). So a title can
// name no file outside the directory, two titles that differ other than in case never share a
// name, and no title can name the directory's lock file ".lock". The empty title is refused
// (EINVAL); a title whose socket path does not fit a socket address is refused (ENAMETOOLONG).
//
// Handles. A window handle is a nonzero number for one connection to one receiver, made by a
// lookup; 0 means none. Handle values count up and are never reused within a process (the
// counter is 64 bits wide on the hosts we build for), so a stale handle can never reach another
// receiver, nor any unrelated descriptor. The module owns the connections, not the caller:
// callers may keep handles for the life of the process and look up as often as they like
// without ever releasing anything. There is at most one connection per title:
//  - a lookup that finds the receiver of the held connection returns the same handle;
//  - a lookup that finds another receiver (the old one ended, a new one took the title) closes
//    the held connection and returns a new handle;
//  - a lookup that finds no receiver closes the held connection and returns 0.
// At most kMaxHeldWindows titles are held; a lookup of one more title closes the connection
// used least recently. So the descriptors held never exceed kMaxHeldWindows.
// A handle goes stale when its receiver ends, when a later lookup of its title closed it, when
// it is forgotten or when it is pushed out; posts through a stale handle fail. A post that
// finds the receiver gone closes the connection at once.
//
// Wire format: one datagram of exactly 32 bytes, integers little-endian.
//   offset  size  field
//      0     4    magic 0x4D57564C (the bytes "LVWM")
//      4     2    format version, 1
//      6     2    datagram length, 32
//      8     4    message number
//     12     4    process id of the sender
//     16     8    wParam (unsigned)
//     24     8    lParam (two's complement)
// A receiver ignores any datagram that is not exactly this (other length, magic or version).
//
// Errors: functions that fail return 0, false, null or nothing and leave an errno value.
// Thread safety: lookups, posts and ForgetWindow may be called from any thread. One receiver
// object is used by one thread at a time. None of it may be used in a signal handler.
#ifndef LINDAVOX_PLATFORM_WINDOW_MESSAGE_H
#define LINDAVOX_PLATFORM_WINDOW_MESSAGE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/unique_fd.h"

namespace platform {

using WindowHandle = uintptr_t;

inline constexpr size_t kMaxHeldWindows = 16;
inline constexpr size_t kWindowMessageSize = 32;
inline constexpr uint32_t kWindowMessageMagic = 0x4D57564C;
inline constexpr uint16_t kWindowMessageVersion = 1;

// The directory of the receivers' sockets, with a trailing '/'. Read anew from the environment
// on every call, so tests can point it elsewhere; nothing is created or checked here.
std::string MessageDirectory();

// The socket path of the receiver titled `title` (see Titles above); "" with errno EINVAL for
// a null or empty title and ENAMETOOLONG when it does not fit a socket address.
std::string WindowSocketPath(const char* title);

// The window titled `title`: a handle for the receiver that holds the title now, or 0 when
// there is none (errno ENOENT or ECONNREFUSED), the directory is unsafe (EACCES) or the title
// is refused. Costs two lstat calls when the held connection still names the same receiver.
WindowHandle FindWindowByTitle(const char* title);

// Posts `message` with its two parameters to `window`, never waiting. True when the datagram
// was queued at the receiver. False when `window` is 0 or stale (EBADF), the receiver has
// gone (ECONNREFUSED or ENOTCONN; the handle is stale from then on) or its queue is full
// (EAGAIN; the handle stays valid and a later post may succeed).
bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Closes the connection of `window` now; later posts through it fail. Unknown handles and 0 are
// ignored.
void ForgetWindow(WindowHandle window);

namespace detail {
// Tells one socket file from a later one at the same path (the change time guards against a
// reused inode number).
struct SocketFileIdentity {
  uint64_t device = 0, inode = 0;
  int64_t changeSeconds = 0, changeNanoseconds = 0;
  bool operator==(const SocketFileIdentity&) const = default;
};
}  // namespace detail

// One message as the receiver got it.
struct ReceivedMessage {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  int32_t senderPid = 0;  // as the sender wrote it
};

// A receiver: holds a title until destroyed. Neither copied nor moved; owned through the
// unique_ptr that Listen returns.
class MessageReceiver {
 public:
  // Takes `title`. Fails (null) with EADDRINUSE while a live receiver holds it, and with the
  // errors of the directory and the title (see above). A socket file left by a receiver that
  // died is replaced; any other file in its place is left alone (EEXIST).
  static std::unique_ptr<MessageReceiver> Listen(const char* title);

  // Gives up the title: removes the socket file, unless another receiver has since taken it.
  ~MessageReceiver();
  MessageReceiver(const MessageReceiver&) = delete;
  MessageReceiver& operator=(const MessageReceiver&) = delete;

  // Readable when a datagram waits, for the caller's event loop. Non-blocking; owned here.
  int Descriptor() const { return fd_.get(); }
  const std::string& path() const { return path_; }

  // The next well-formed message, waiting up to `timeoutMs` milliseconds (negative: without
  // limit; 0: only what is queued already). Malformed datagrams are dropped on the way.
  // Nothing with errno ETIMEDOUT when the time runs out, EINTR when a signal interrupts the
  // wait, or the errno of a failed receive.
  std::optional<ReceivedMessage> Receive(int timeoutMs);

 private:
  MessageReceiver(int fd, std::string path, detail::SocketFileIdentity identity)
      : fd_(fd), path_(std::move(path)), identity_(identity) {}

  UniqueFd fd_;                          // bound datagram socket, non-blocking
  std::string path_;                     // its socket file
  detail::SocketFileIdentity identity_;  // of the socket file as bound, to know it later
};

}  // namespace platform

#endif
