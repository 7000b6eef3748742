#!/usr/bin/env bash
# Builds the program and runs it. With a display, the window program
# Larkspan.exe runs under Wine on a demo project beside it; without one,
# every preset is built and the script says what can be run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

if [ -n "${DISPLAY:-}" ]; then
  . scripts/windows_demo.sh
  cmake --preset win64 >/dev/null && cmake --build --preset win64 --target Larkspan >/dev/null
  prepare_windows_demo
  echo "Running $demo_build/Larkspan.exe under Wine on $demo_build/Larkspan.lpj; press Start."
  start_windows_demo
  wait "$larkspan_pid"
  exit 0
fi

for preset in native win64 win32; do
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" >/dev/null
done
echo "No display: built build/native, build/win64 and build/win32 (32-bit release)."
