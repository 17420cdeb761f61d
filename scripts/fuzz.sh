#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with AddressSanitizer and UndefinedBehaviorSanitizer) and
# runs each for SECONDS (default 60), starting from the seeds under fuzz/corpus. A finding
# (crash, sanitizer report, leak) stops the run with a non-zero exit and leaves its input in
# build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/setup.sh --tests
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/findings
root=$(pwd)
for target in receive kml invoke sink; do
  work="$root/build/fuzz/corpus-$target"
  # Each runs in a folder of its own: whatever a target writes by a relative name lands there,
  # never in the checkout.
  scratch="$root/build/fuzz/run-$target"
  rm -rf "$scratch"
  mkdir -p "$work" "$scratch"
  echo "fuzz_$target: ${seconds} s"
  (cd "$scratch" && "$root/build/fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$root/build/fuzz/findings/" "$work" \
    "$root/fuzz/corpus/$target") 2>"build/fuzz/fuzz_$target.log" ||
    { tail -50 "build/fuzz/fuzz_$target.log"; exit 1; }
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "build/fuzz/fuzz_$target.log" || true
done
