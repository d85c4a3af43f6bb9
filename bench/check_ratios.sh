#!/bin/sh
# check_ratios.sh BENCHMARK: a short run of the benchmark program ends well and prints a
# "name: ratio" line for each of the figures it names (--ratio_names).
set -eu
benchmark=$1
names=$("$benchmark" --ratio_names)
[ -n "$names" ] || { echo "the benchmark names no figures"; exit 1; }
# Three repetitions with only their aggregates reported, as the program runs by default.
output=$("$benchmark" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.01) || {
  echo "the benchmark failed:"
  echo "$output"
  exit 1
}
echo "$output"
for name in $names; do
  echo "$output" | grep -Eq "^$name: [0-9]+\.[0-9]{2}\$" || { echo "no figure $name"; exit 1; }
done
