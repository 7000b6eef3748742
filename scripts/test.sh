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
ran=0

# Adds the results of one ctest run: each binary's case counts from its XML
# report; a binary that failed without reporting a failed case (a crash, a
# time-out) counts as one failure, and a test with no report as one case.
count_results() {
  local preset=$1 log=$2 results=build/$1/test-results
  local line name status xml tests failures errors disabled skipped
  while read -r line; do
    name=$(sed -E 's/.*Test +#[0-9]+: ([^ ]+) .*/\1/' <<<"$line")
    status=ok
    grep -qE '\*\*\*|Failed|Not Run|Timeout|Exception' <<<"$line" && status=bad
    xml=$results/$name.xml
    ran=$((ran + 1))
    if [ -f "$xml" ]; then
      read -r tests failures errors disabled skipped < <(
        head -c 2000 "$xml" | tr '\n' ' ' | grep -o '<testsuites [^>]*>' | head -1 |
          awk '{
            n = split("tests failures errors disabled skipped", keys, " ");
            for (i = 1; i <= n; i++) {
              v = 0;
              if (match($0, " " keys[i] "=\"[0-9]+\"")) {
                s = substr($0, RSTART, RLENGTH); gsub(/[^0-9]/, "", s); v = s + 0;
              }
              printf "%d ", v;
            }
          }')
      failed=$((failed + failures + errors))
      passed=$((passed + tests - failures - errors - disabled - skipped))
      if [ "$status" = bad ] && [ $((failures + errors)) -eq 0 ]; then
        failed=$((failed + 1))
        echo "$preset: $name failed without a failed case (crash or time-out)"
      fi
    elif [ "$status" = ok ]; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
    fi
  done < <(grep -E 'Test +#[0-9]+:' "$log")
}

run_preset() {
  local preset=$1 log=build/$1-ctest.log
  echo "== $preset"
  if ! cmake --preset "$preset" >"build/$preset-configure.log" 2>&1; then
    cat "build/$preset-configure.log"
    echo "$preset: configure failed"
    failed=$((failed + 1))
    return
  fi
  if ! cmake --build --preset "$preset" >"build/$preset-build.log" 2>&1; then
    grep -E -A5 'error|Error' "build/$preset-build.log" | head -60
    echo "$preset: build failed"
    failed=$((failed + 1))
    return
  fi
  grep -E 'warning:' "build/$preset-build.log" | sort -u | head -20
  [ "$preset" = win32 ] && return
  rm -rf "build/$preset/test-results"
  ctest --preset "$preset" --output-on-failure >"$log" 2>&1
  grep -E 'tests passed|tests failed out of' "$log" | sed "s/^/$preset: /"
  grep -E 'Test +#[0-9]+:.*(\*\*\*|Failed|Timeout)' "$log" && sed -n '/The following tests FAILED/,$p' "$log"
  count_results "$preset" "$log"
}

mkdir -p build
presets=${LARKSPAN_PRESETS:-"native native-asan native-tsan win64 win32"}
for preset in $presets; do run_preset "$preset"; done

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

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$ran" -gt 0 ] && [ "$passed" -gt 0 ]
