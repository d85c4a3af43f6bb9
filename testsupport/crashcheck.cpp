// crashcheck: the states a power cut could leave behind during the import, the report, the
// compaction, a record update and an INI write, each checked against the operation's promises
// under both models of crash_states.h. Prints per operation and model how many changes were
// recorded, how many different states were checked and how many broke a promise (with the
// first few of them), and exits 1 when any did.
//
//   crashcheck [--quick] [--combinations N] [--seed N] [--only NAME] [--changes]
//
// --quick tries 12 combinations per crash point instead of 256 (the test suite's run);
// --changes lists each operation's recorded changes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/wall_clock.h"
#include "testsupport/crash_scenarios.h"
#include "testsupport/crash_states.h"
#include "testsupport/time_zone.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: crashcheck [--quick] [--combinations N] [--seed N] [--only NAME] "
               "[--changes]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  testsupport::CrashBudget budget{256, 1};
  std::string only;
  bool listChanges = false;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--quick") == 0) {
      budget.combinationsPerPoint = 12;
    } else if (std::strcmp(argv[i], "--combinations") == 0 && hasValue) {
      budget.combinationsPerPoint = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--seed") == 0 && hasValue) {
      budget.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--only") == 0 && hasValue) {
      only = argv[++i];
    } else if (std::strcmp(argv[i], "--changes") == 0) {
      listChanges = true;
    } else {
      return Usage();
    }
  }
  if (budget.combinationsPerPoint < 2) return Usage();
  // The report's date line comes from the clock.
  testsupport::ScopedTimeZone zone("Europe/Berlin");
  platform::ScopedWallClock clock({testsupport::Utc(2026, 12, 6, 12, 30, 11), 0});
  int64_t broken = 0;
  for (const testsupport::CrashScenario& scenario : testsupport::StoreCrashScenarios()) {
    if (!only.empty() && scenario.name != only) continue;
    testsupport::CrashExplorer explorer(scenario);
    if (listChanges) std::printf("%s:\n%s", scenario.name.c_str(), explorer.Changes().c_str());
    for (testsupport::CrashModel model :
         {testsupport::CrashModel::kOrdered, testsupport::CrashModel::kPosix}) {
      const testsupport::CrashReport report = explorer.Explore(model, budget);
      std::printf("%s, %s: changes: %lld, states: %lld, broken: %lld\n", scenario.name.c_str(),
                  testsupport::CrashModelName(model), static_cast<long long>(report.changes),
                  static_cast<long long>(report.states), static_cast<long long>(report.broken));
      for (const std::string& example : report.examples) std::printf("  %s\n", example.c_str());
      std::fflush(stdout);
      broken += report.broken;
    }
  }
  return broken == 0 ? 0 : 1;
}
