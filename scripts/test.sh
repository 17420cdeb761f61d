#!/usr/bin/env bash
# Every test: the whole suite in the release build, the whole suite again under AddressSanitizer
# and UndefinedBehaviorSanitizer, then each fuzz target for FUZZ_SECONDS (default 60). Any
# failure, sanitizer report or fuzz finding makes the run fail, and so does a skipped test that is
# not on the list below (a skip is a test that checked nothing: only the reasons the README gives
# are taken). It ends with "tests: N passed, 0 failed, K skipped".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests

# Skips that are expected, by build: with no descriptor left, the sanitizers' runtime cannot
# report what it checks, so that test skips itself there.
declare -A allowed_skips=(
  [release]=""
  [asan]="NmeaServerTest.WithNoDescriptorLeftItWaitsBetweenAcceptsSaysWhyOnceAndTakesTheClientLater"
)

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
passed=0
skipped=0
unexpected=()

run_suite() {
  local preset=$1
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset tests"
  ctest --preset "$preset" 2>&1 | tee "$logs/$preset.log"
  local total
  total=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$logs/$preset.log")
  # ctest counts a skipped test among the passed ones: it is counted apart here.
  local skips
  mapfile -t skips < <(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$logs/$preset.log")
  for skip in "${skips[@]}"; do
    [[ " ${allowed_skips[$preset]} " == *" $skip "* ]] || unexpected+=("$skip ($preset)")
  done
  passed=$((passed + ${total:-0} - ${#skips[@]}))
  skipped=$((skipped + ${#skips[@]}))
}

run_suite release
run_suite asan
echo "== fuzzing"
scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
passed=$((passed + 4))
if ((${#unexpected[@]})); then
  printf 'skipped for a reason the README does not give: %s\n' "${unexpected[@]}"
  echo "tests: $passed passed, ${#unexpected[@]} failed, $skipped skipped"
  exit 1
fi
echo "tests: $passed passed, 0 failed, $skipped skipped"
