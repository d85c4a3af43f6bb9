#include "testsupport/journal_catcher.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/unique_fd.h"

namespace testsupport {
namespace {

using platform::UniqueFd;

constexpr const char* kSocketPath = "/run/systemd/journal/socket";
// Sent by the child itself after the action: everything before it has been received.
constexpr char kEndOfAction[] = "END_OF_ACTION=1\n";

// The journal's native datagram: fields "NAME=value\n", or, for values with a line break,
// "NAME\n", the value's length as 64-bit little-endian, the value and "\n".
JournalEntry ParseDatagram(const std::string& bytes) {
  JournalEntry entry;
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t lineEnd = bytes.find('\n', at);
    if (lineEnd == std::string::npos) break;
    const size_t equals = bytes.find('=', at);
    if (equals != std::string::npos && equals < lineEnd) {
      entry.fields.emplace(bytes.substr(at, equals - at),
                           bytes.substr(equals + 1, lineEnd - equals - 1));
      at = lineEnd + 1;
      continue;
    }
    const std::string name = bytes.substr(at, lineEnd - at);
    uint64_t length = 0;
    if (lineEnd + 9 > bytes.size()) break;
    for (int i = 7; i >= 0; --i)
      length = length << 8 | static_cast<unsigned char>(bytes[lineEnd + 1 + i]);
    if (lineEnd + 9 + length > bytes.size()) break;
    entry.fields.emplace(name, bytes.substr(lineEnd + 9, length));
    at = lineEnd + 9 + length + 1;
  }
  return entry;
}

void Put(std::string* out, const std::string& text) {
  const uint64_t size = text.size();
  out->append(reinterpret_cast<const char*>(&size), sizeof size);
  out->append(text);
}

bool Take(const std::string& in, size_t* at, std::string* text) {
  uint64_t size = 0;
  if (*at + sizeof size > in.size()) return false;
  std::memcpy(&size, in.data() + *at, sizeof size);
  *at += sizeof size;
  if (*at + size > in.size()) return false;
  *text = in.substr(*at, size);
  *at += size;
  return true;
}

// In the child: a private /run, and the socket bound in it when `listening`.
bool MakeOwnRun(bool listening, UniqueFd* socketFd) {
  if (::unshare(CLONE_NEWNS) != 0) return false;
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  if (::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) return false;
  if (::mkdir("/run/systemd", 0755) != 0 || ::mkdir("/run/systemd/journal", 0755) != 0) {
    return false;
  }
  if (!listening) return true;
  socketFd->reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, kSocketPath);
  return socketFd->valid() &&
         ::bind(socketFd->get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// In the child: runs the action while a thread takes the datagrams off the socket (its queue
// holds only a few), and returns the status byte and the entries, serialised.
std::string RunAndCollect(const std::function<bool()>& action, bool listening) {
  UniqueFd socketFd;
  if (!MakeOwnRun(listening, &socketFd)) return "u";
  std::vector<std::string> datagrams;
  std::thread reader;
  if (listening) {
    reader = std::thread([&] {
      std::string buffer(1 << 20, '\0');
      for (;;) {
        const ssize_t got = ::recv(socketFd.get(), buffer.data(), buffer.size(), 0);
        if (got < 0) return;
        std::string datagram = buffer.substr(0, static_cast<size_t>(got));
        if (datagram == kEndOfAction) return;
        datagrams.push_back(std::move(datagram));
      }
    });
  }
  const bool result = action();
  if (listening) {
    UniqueFd sender(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, kSocketPath);
    ::sendto(sender.get(), kEndOfAction, std::strlen(kEndOfAction), 0,
             reinterpret_cast<sockaddr*>(&address), sizeof address);
    reader.join();
  }
  std::string out = result ? "y" : "n";
  for (const std::string& datagram : datagrams) Put(&out, datagram);
  return out;
}

}  // namespace

std::string JournalEntry::operator[](const std::string& name) const {
  const auto found = fields.find(name);
  return found == fields.end() ? "" : found->second;
}

std::vector<std::string> JournalEntry::All(const std::string& name) const {
  std::vector<std::string> values;
  const auto [first, last] = fields.equal_range(name);
  for (auto it = first; it != last; ++it) values.push_back(it->second);
  return values;
}

CaughtJournal CatchJournal(const std::function<bool()>& action, bool listening) {
  int ends[2];
  if (::pipe(ends) != 0) std::abort();
  UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
  const pid_t child = ::fork();
  if (child < 0) std::abort();
  if (child == 0) {
    readEnd.reset();
    const std::string out = RunAndCollect(action, listening);
    size_t written = 0;
    while (written < out.size()) {
      const ssize_t n = ::write(writeEnd.get(), out.data() + written, out.size() - written);
      if (n <= 0) break;
      written += static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  writeEnd.reset();
  std::string in;
  char buffer[65536];
  for (ssize_t n; (n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0;) {
    in.append(buffer, static_cast<size_t>(n));
  }
  ::waitpid(child, nullptr, 0);
  CaughtJournal caught;
  if (in.empty() || in[0] == 'u') return caught;
  caught.available = true;
  caught.result = in[0] == 'y';
  size_t at = 1;
  for (std::string datagram; Take(in, &at, &datagram);) {
    caught.entries.push_back(ParseDatagram(datagram));
  }
  return caught;
}

}  // namespace testsupport
