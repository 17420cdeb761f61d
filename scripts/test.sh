#!/usr/bin/env bash
# Every test: the whole suite in the release build, the whole suite again under AddressSanitizer
# and UndefinedBehaviorSanitizer, then each fuzz target for FUZZ_SECONDS (default 60). Any
# failure, sanitizer report or fuzz finding makes the run fail.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
passed=0

run_suite() {
  local preset=$1
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset tests"
  ctest --preset "$preset" 2>&1 | tee "$logs/$preset.log"
  local count
  count=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$logs/$preset.log")
  passed=$((passed + ${count:-0}))
}

run_suite release
run_suite asan
echo "== fuzzing"
scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
passed=$((passed + 4))
echo "tests: $passed passed, 0 failed"
