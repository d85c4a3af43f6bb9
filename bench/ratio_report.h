// The figures of a benchmark program: each program measures the project's operation and its
// references on the same data in one run, and prints one "name: ratio" line per figure after
// Google Benchmark's table. The times come from the medians of the repetitions (three unless the
// command line asks for another number), or from the single run when there is only one.
#ifndef LINDAVOX_BENCH_RATIO_REPORT_H
#define LINDAVOX_BENCH_RATIO_REPORT_H

#include <vector>

namespace bench {

// "name: ratio", the time of benchmark `numerator` over that of benchmark `denominator`; with
// `difference`, the time of `numerator` less that of `denominator` instead, in the unit both
// benchmarks report (what one operation costs more).
struct Ratio {
  const char* name;
  const char* numerator;
  const char* denominator;
  bool difference = false;
};

// True when the command line asks only for the names of the figures (`--ratio_names`); they
// are printed one a line. Call it before making any data.
bool PrintRatioNamesIfAsked(int argc, char** argv, const std::vector<Ratio>& ratios);

// Runs the registered benchmarks and prints the table and then every ratio. Returns the exit
// code of the program: 1 for an unknown argument or when a ratio has no time to be computed
// from (its benchmark failed or was left out); that ratio's line then says so on stderr.
int RunAndPrintRatios(int argc, char** argv, const std::vector<Ratio>& ratios);

// The number of cards a benchmark works on: LV_BENCH_CARDS when set (the test suite's short run
// asks for a small file), else `defaultCount`. A value that is not a number from 1 to
// `maxCount` ends the program with a message and exit code 2.
int CardCount(int defaultCount, int maxCount);

}  // namespace bench

#endif
