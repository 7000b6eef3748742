#!/usr/bin/env bash
# Builds every preset and runs every test: native, AddressSanitizer with
# UndefinedBehaviorSanitizer, ThreadSanitizer, and the Windows build under
# Wine; the 32-bit build is built and checked to be 32-bit PE files. Ends
# with one line "N passed, N failed" over all of them.
set -uo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh || exit 1

passed=0
failed=0
skipped=0
ran=0

# Adds one preset's GoogleTest cases: for each binary in ctest's JUnit report,
# the counts of its own XML report (written in this order); a case that was
# skipped (no FUSE, no server) is counted as skipped, not passed. A binary that
# ctest saw fail without a failed case (a crash, a time-out) counts as one
# failure, and a binary without a report as one case.
count_results() {
  local build=build/$1 name status tests failures disabled errors skips
  local counts='s/.*<testsuites tests="([0-9]+)" failures="([0-9]+)" disabled="([0-9]+)" errors="([0-9]+)".*/\1 \2 \3 \4/p'
  while read -r name status; do
    ran=$((ran + 1))
    if ! read -r tests failures disabled errors < <(sed -nE "$counts" "$build/test-results/$name.xml" 2>/dev/null); then
      if [ "$status" = run ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
      continue
    fi
    # The totals line has no skipped count: each suite's line has one.
    skips=$(awk -F'skipped="' '/<testsuite /{split($2, n, "\""); s += n[1]} END {print s + 0}' \
      "$build/test-results/$name.xml")
    passed=$((passed + tests - failures - errors - disabled - skips))
    skipped=$((skipped + skips))
    failed=$((failed + failures + errors))
    if [ "$status" != run ] && [ $((failures + errors)) -eq 0 ]; then
      failed=$((failed + 1))
      echo "$1: $name failed without a failed case (crash or time-out)"
    fi
  done < <(sed -nE 's/.*<testcase name="([^"]+)".* status="([a-z]+)".*/\1 \2/p' "$build/ctest-junit.xml")
}

# Configures, builds and tests one preset in one workflow; win32 is only built.
# Quiet: it leaves its log and, when the workflow failed, a .failed mark.
build_preset() {
  local preset=$1
  rm -rf "build/$preset/test-results" "build/$preset/ctest-junit.xml" "build/$preset.failed"
  cmake --workflow --preset "$preset" >"build/$preset.log" 2>&1 || touch "build/$preset.failed"
}

# Tells what one preset's workflow left: warnings, failures, its counts.
report_preset() {
  local preset=$1 log=build/$1.log junit=build/$1/ctest-junit.xml
  echo "== $preset"
  if [ -f "build/$preset.failed" ] && [ ! -f "$junit" ]; then
    grep -E -A5 'error|Error' "$log" | head -60
    echo "$preset: configure or build failed"
    failed=$((failed + 1))
    return
  fi
  grep -E 'warning:' "$log" | sort -u | head -20
  [ -f "$junit" ] || return
  grep -E 'tests passed|tests failed out of' "$log" | sed "s/^/$preset: /"
  sed -n '/The following tests FAILED/,$p' "$log"
  count_results "$preset"
}

mkdir -p build
presets=${LARKSPAN_PRESETS:-"native native-asan native-tsan win64 win32"}
# Two lanes side by side, so that one preset's tests (much of it waiting on
# Wine, FUSE and servers) overlap another's compiling. The build trees share
# nothing, every test makes its own scratch, volumes and ports, and the tests
# must hold on a busy machine anyway. The lanes take turns through the list.
lane() {
  local preset i=0
  for preset in $presets; do
    [ $((i % 2)) -eq "$1" ] && build_preset "$preset"
    i=$((i + 1))
  done
}
lane 0 &
lane 1 &
wait
for preset in $presets; do report_preset "$preset"; done

# The 32-bit release build must really be 32-bit PE files.
if [[ " $presets " == *" win32 "* ]]; then
  for exe in build/win32/*.exe build/win32/**/*.exe; do
    [ -f "$exe" ] || continue
    if i686-w64-mingw32-objdump -f "$exe" | grep -q 'file format pei-i386'; then
      echo "win32: $exe is a 32-bit PE file"
      passed=$((passed + 1))
    else
      echo "win32: $exe is not a 32-bit PE file"
      failed=$((failed + 1))
    fi
    ran=$((ran + 1))
  done
fi

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && [ "$ran" -gt 0 ] && [ "$passed" -gt 0 ]
