// Messages to the system journal (systemd-journald), each with a priority and fields an operator
// can filter on (`journalctl LINDAVOX_CARD=42`, `journalctl -p warning`).
//
// A program started by a systemd unit has its standard error connected to the journal as a
// stream, and systemd names that stream in JOURNAL_STREAM ("device:inode"). A program that finds
// its standard error to be that stream can send its messages natively instead of as plain
// lines, so they keep their priority and fields; anywhere else (a terminal, a pipe, a file a
// shell redirected to) the plain lines stay the right output.
//
// Entries travel over the journal's datagram socket (/run/systemd/journal/socket) through
// libsystemd. Sending never blocks for long and never throws; where no journal runs it fails
// with an errno value and the caller says its message elsewhere.
#ifndef LINDAVOX_PLATFORM_JOURNAL_H
#define LINDAVOX_PLATFORM_JOURNAL_H

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The syslog priorities the journal files entries under.
enum class Priority { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6, kDebug = 7 };

// One field of an entry. Names are upper-case letters, digits and '_', not beginning with '_';
// a field may occur more than once in an entry. Values are any bytes.
struct JournalField {
  std::string name;
  std::string value;
};

// Sends one entry: MESSAGE, PRIORITY, SYSLOG_IDENTIFIER and `fields`, in that order. Returns 0,
// EINVAL for a field name the journal would refuse (nothing is sent then), or the errno value of
// the failed send (ENOENT or ECONNREFUSED when no journal runs).
int SendToJournal(Priority priority, std::string_view identifier, std::string_view message,
                  const std::vector<JournalField>& fields = {});

// True when this process's standard error is the journal stream that JOURNAL_STREAM names.
bool StandardErrorIsJournal();

}  // namespace platform

#endif
