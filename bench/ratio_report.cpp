#include "bench/ratio_report.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace bench {

namespace {

// Prints the usual table and keeps each benchmark's time per iteration: the median of its
// repetitions where there are several (only the aggregates reach a reporter when the command
// line asks for aggregates only), else its one run.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  // The table is coloured on a terminal only: in a file or a pipe every ratio line starts with
  // its name, not with a colour code left over from the table.
  RecordingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::string& name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians_[name] = run.GetAdjustedRealTime();
      } else if (run.run_type == Run::RT_Iteration) {
        singles_[name] = run.GetAdjustedRealTime();
      }
    }
  }

  // The time of `name`, or a negative value when it has none.
  double TimeOf(const std::string& name) const {
    for (const auto* times : {&medians_, &singles_}) {
      auto found = times->find(name);
      if (found != times->end()) return found->second;
    }
    return -1;
  }

 private:
  std::map<std::string, double> medians_;
  std::map<std::string, double> singles_;
};

}  // namespace

bool PrintRatioNamesIfAsked(int argc, char** argv, const std::vector<Ratio>& ratios) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--ratio_names") == 0) {
      for (const Ratio& ratio : ratios) std::printf("%s\n", ratio.name);
      return true;
    }
  }
  return false;
}

int RunAndPrintRatios(int argc, char** argv, const std::vector<Ratio>& ratios) {
  // The figures are medians: three repetitions and only their aggregates in the table, unless
  // the command line (read after these) says otherwise.
  std::vector<char*> args{argv[0], const_cast<char*>("--benchmark_repetitions=3"),
                          const_cast<char*>("--benchmark_report_aggregates_only=true")};
  args.insert(args.end(), argv + 1, argv + argc);
  args.push_back(nullptr);
  int count = static_cast<int>(args.size()) - 1;
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::fflush(stdout);

  int status = 0;
  for (const Ratio& ratio : ratios) {
    const double numerator = reporter.TimeOf(ratio.numerator);
    const double denominator = reporter.TimeOf(ratio.denominator);
    if (numerator < 0 || denominator <= 0) {
      std::fprintf(stderr, "%s: no figure (%s or %s was not measured)\n", ratio.name,
                   ratio.numerator, ratio.denominator);
      status = 1;
      continue;
    }
    std::printf("%s: %.2f\n", ratio.name,
                ratio.difference ? numerator - denominator : numerator / denominator);
  }
  return status;
}

int CardCount(int defaultCount, int maxCount) {
  const char* wanted = std::getenv("LV_BENCH_CARDS");
  if (wanted == nullptr) return defaultCount;
  char* end = nullptr;
  const long cards = std::strtol(wanted, &end, 10);
  if (end == wanted || *end != '\0' || cards < 1 || cards > maxCount) {
    std::fprintf(stderr, "LV_BENCH_CARDS must be a number of cards from 1 to %d\n", maxCount);
    std::exit(2);
  }
  return static_cast<int>(cards);
}

}  // namespace bench
