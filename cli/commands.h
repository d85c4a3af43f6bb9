// The commands of lindavox-prepaid. Each returns its exit code (cli.h) and says on the error
// stream why it did not succeed. Arguments have been checked before a command runs.
#ifndef LINDAVOX_CLI_COMMANDS_H
#define LINDAVOX_CLI_COMMANDS_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/session.h"
#include "store/order.h"

namespace CLI {
class App;
}

namespace cli {

// Cards and single changes (card_commands.cpp).
int Show(Session& session, const std::vector<int32_t>& cards, Format format);
int FindPhone(Session& session, const std::string& number, bool anyBalance, Format format);
struct CardEdit {
  std::optional<int32_t> balance;
  std::optional<std::string> telefon;
};
// `dryRun`: says what would be saved and changes nothing.
int Set(Session& session, int32_t card, const CardEdit& edit, bool dryRun);
// One order as an import line would give it: 'A' (with `amount`), 'D', 'L' or 'U'; unlike the
// import, an 'A' creates an absent card only when `mode` allows it.
int ApplyOrder(Session& session, char command, int32_t card, int32_t amount,
               const store::OrderMode& mode);
int Decode(Session& session, std::string code);

// Whole files (file_commands.cpp).
// With `dryRun` the import reads and decides everything and says what it would do, writing
// nothing.
int Import(Session& session, Format format, bool dryRun);
int Export(Session& session, Format format);
// `dryRun`: counts what a compaction would keep and drop, and changes nothing.
int Reorganize(Session& session, bool dryRun);

// Surveys of the card file (survey.cpp).
int List(Session& session, bool lockedOnly, bool emptyOnly, Format format);
int Stats(Session& session, Format format);
int Check(Session& session, Format format);

// A new site (init_command.cpp): the folders, the group (none: the folder's stays) and an empty
// card file.
int Init(Session& session, const std::string& group);

// The card history (history_command.cpp): the changes of `card` (all without one) from
// `since` (seconds since 1970) on, oldest first.
int History(Session& session, std::optional<int32_t> card, std::optional<int64_t> since,
            Format format);
// Adds the command "history" to `app`; its callback sets `command`.
void AddHistoryCommand(CLI::App& app, Session& session, std::function<int()>& command);

}  // namespace cli

#endif
