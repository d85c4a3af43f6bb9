// lindavox-prepaid: the operator's command line (cli/cli.h).
#include <unistd.h>

#include <iostream>

#include "cli/cli.h"
#include "platform/journal.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return cli::Run(args, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1,
                  platform::StandardErrorIsJournal());
}
