#include "platform/journal.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace platform {
namespace {

// The journal's own rule for field names (it drops entries with others).
constexpr size_t kLongestFieldName = 64;

// Where journald receives entries (libsystemd sends there; the path is fixed).
constexpr const char* kJournalSocket = "/run/systemd/journal/socket";

bool ValidFieldName(std::string_view name) {
  if (name.empty() || name.size() > kLongestFieldName || name[0] == '_') return false;
  for (const char c : name) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

std::string Assignment(std::string_view name, std::string_view value) {
  std::string text;
  text.reserve(name.size() + 1 + value.size());
  text.append(name).append(1, '=').append(value);
  return text;
}

}  // namespace

int SendToJournal(Priority priority, std::string_view identifier, std::string_view message,
                  const std::vector<JournalField>& fields) {
  for (const JournalField& field : fields) {
    if (!ValidFieldName(field.name)) return EINVAL;
  }
  // libsystemd reports success when there is no journal to send to; the caller wants to know.
  struct stat socket;
  if (::stat(kJournalSocket, &socket) != 0) return errno;
  if (!S_ISSOCK(socket.st_mode)) return ENOTSOCK;
  try {
    std::vector<std::string> assignments;
    assignments.reserve(3 + fields.size());
    assignments.push_back(Assignment("MESSAGE", message));
    assignments.push_back(Assignment("PRIORITY", std::to_string(static_cast<int>(priority))));
    assignments.push_back(Assignment("SYSLOG_IDENTIFIER", identifier));
    for (const JournalField& field : fields) {
      assignments.push_back(Assignment(field.name, field.value));
    }
    std::vector<struct iovec> parts;
    parts.reserve(assignments.size());
    for (std::string& assignment : assignments)
      parts.push_back({assignment.data(), assignment.size()});
    const int result = sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
    return result < 0 ? -result : 0;
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

bool StandardErrorIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (!stream) return false;
  unsigned long long device = 0, inode = 0;
  char end = '\0';
  if (std::sscanf(stream, "%llu:%llu%c", &device, &inode, &end) != 2) return false;
  struct stat status;
  if (::fstat(STDERR_FILENO, &status) != 0) return false;
  return status.st_dev == device && status.st_ino == inode;
}

}  // namespace platform
