// lindavox-prepaid, the operator's command line for the card store: looking cards up, changing
// them, importing orders, and surveying and checking the card file, all through the store's own
// functions, so it is safe to run while the tools and the telephony server use the files.
#ifndef LINDAVOX_CLI_CLI_H
#define LINDAVOX_CLI_CLI_H

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotSo = 1;      // the card is missing or locked, the check failed, ...
inline constexpr int kExitUsage = 2;      // the command line is wrong
inline constexpr int kExitFileError = 3;  // a file could not be used

// Runs the command line `args` (without the program name). `terminal` says that `out` is a
// terminal: tables then get a highlighted header and a rule under it. `stderrIsJournal` says
// that the error stream is the system journal's: reports and errors then go to the journal as
// entries of their own (cli/session.h).
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal,
        bool stderrIsJournal = false);

}  // namespace cli

#endif
