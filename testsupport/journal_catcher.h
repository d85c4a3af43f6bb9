// What a piece of code sends to the system journal, caught for a test. The code runs in a child
// process with a mount namespace of its own, in which a fresh tmpfs lies over /run and
// /run/systemd/journal/socket is the test's own socket: the entries arrive there exactly as
// journald would receive them, and nothing reaches the machine's real journal.
#ifndef LINDAVOX_TESTSUPPORT_JOURNAL_CATCHER_H
#define LINDAVOX_TESTSUPPORT_JOURNAL_CATCHER_H

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// One entry: its fields as sent (a field may occur more than once).
struct JournalEntry {
  std::multimap<std::string, std::string> fields;

  // The first value of the field, "" when it is missing.
  std::string operator[](const std::string& name) const;
  // Every value of the field, in the order sent.
  std::vector<std::string> All(const std::string& name) const;
};

struct CaughtJournal {
  bool available = false;  // the child could make its own mount namespace (needs root)
  bool result = false;     // what the action returned
  std::vector<JournalEntry> entries;
};

// Runs `action` in the child. With `listening` false the socket is left out, as on a machine
// where no journal runs.
CaughtJournal CatchJournal(const std::function<bool()>& action, bool listening = true);

}  // namespace testsupport

#endif
