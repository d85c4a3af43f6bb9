// The commands of lindavox-prepaid. Each returns its exit code (cli.h) and says on the error
// stream why it did not succeed. Arguments have been checked before a command runs.
#ifndef LINDAVOX_CLI_COMMANDS_H
#define LINDAVOX_CLI_COMMANDS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/session.h"

namespace cli {

// Cards and single changes (card_commands.cpp).
int Show(Session& session, const std::vector<int32_t>& cards, Format format);
int FindPhone(Session& session, const std::string& number, bool anyBalance, Format format);
struct CardEdit {
  std::optional<int32_t> balance;
  std::optional<std::string> telefon;
};
int Set(Session& session, int32_t card, const CardEdit& edit);
// One order as an import line would give it: 'A' (with `amount`), 'D', 'L' or 'U'.
int ApplyOrder(Session& session, char command, int32_t card, int32_t amount = 0);
int Decode(Session& session, std::string code);

// Whole files (file_commands.cpp).
// With `dryRun` the import reads and decides everything and says what it would do, writing
// nothing.
int Import(Session& session, bool dryRun);
int Export(Session& session);
int Reorganize(Session& session);

// Surveys of the card file (survey.cpp).
int List(Session& session, bool lockedOnly, bool emptyOnly, Format format);
int Stats(Session& session);
int Check(Session& session);

}  // namespace cli

#endif
