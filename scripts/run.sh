#!/usr/bin/env bash
# Shows a real pass. With no arguments and a display, it builds the Windows
# preset and starts the window program Larkspan.exe under Wine on a demo
# project beside it. With no arguments and no display, it prepares a small
# demo under demo/ (a sample source tree, an empty backup folder and a project
# mirroring one into the other) unless it exists, builds the native preset and
# runs the console runner on it. With arguments they go to the console runner
# as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

demo=$PWD/demo

prepare_demo() {
  [ -f "$demo/demo.lpj" ] && return
  mkdir -p "$demo/source/photos/2024" "$demo/source/documents" "$demo/backup"
  printf 'Shopping: bread, milk, tea\n' >"$demo/source/documents/notes.txt"
  printf 'Larkspan keeps folders in step.\n' >"$demo/source/documents/readme.txt"
  head -c 3145728 /dev/urandom >"$demo/source/photos/2024/beach.raw"
  head -c 1572864 /dev/urandom >"$demo/source/photos/2024/hills.raw"
  head -c 2048 /dev/urandom >"$demo/source/photos/thumbs.db"
  # Project lines end in CR LF; the paths are absolute, so it runs from anywhere.
  printf 'O,1,Mirror,%s,%s\r\nT,0,0,0\r\n' "$demo/source" "$demo/backup" >"$demo/demo.lpj"
  echo "Prepared demo/: demo/source is mirrored into demo/backup."
}

run_console() {
  cmake --preset native >/dev/null
  cmake --build --preset native --target larkspan-run >/dev/null
  local status=0
  build/native/larkspan-run "$@" || status=$?
  echo "larkspan-run ended with status $status (0 done, 1 a job failed, 2 bad arguments or project, 3 stopped)."
  return "$status"
}

run_window() {
  . scripts/windows_demo.sh
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 --target Larkspan >/dev/null
  prepare_windows_demo
  echo "Running $demo_build/Larkspan.exe under Wine on $demo_build/Larkspan.lpj; press Start."
  start_windows_demo
  wait "$larkspan_pid"
}

if [ $# -eq 0 ] && [ -n "${DISPLAY:-}" ]; then
  run_window
elif [ $# -eq 0 ]; then
  echo "No display: running the demo with the console runner larkspan-run."
  prepare_demo
  run_console demo/demo.lpj
else
  run_console "$@"
fi
