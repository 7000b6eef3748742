#!/usr/bin/env bash
# Takes docs/screenshot.png: Larkspan.exe under Wine on a virtual display,
# with the demo project, after Start has run one pass.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
command -v import >/dev/null || {
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get install -y -qq --no-install-recommends imagemagick >/dev/null
}
. scripts/windows_demo.sh

cmake --preset win64 >/dev/null
cmake --build --preset win64 --target Larkspan >/dev/null
prepare_windows_demo

number=90
while [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
display=:$number
Xvfb "$display" -screen 0 1024x640x24 -nolisten tcp &
xvfb_pid=$!
larkspan_pid=""
cleanup() {
  [ -n "$larkspan_pid" ] && kill "$larkspan_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  [ -n "${unmanaged_key:-}" ] && wine_reg delete "$unmanaged_key" /f
}
trap cleanup EXIT
export DISPLAY=$display
sleep 1

# The window opens where the settings say: start from the defaults. With no
# window manager on the display, Wine draws the caption and frame itself
# (for Larkspan.exe, until the script ends).
wine_reg() { (cd "$demo_build" && ../../cmake/wine-run.sh reg "$@" >/dev/null 2>&1) || true; }
unmanaged_key='HKCU\Software\Wine\AppDefaults\Larkspan.exe\X11 Driver'
wine_reg delete 'HKCU\Software\Wendmoor\Larkspan' /f
wine_reg add "$unmanaged_key" /v Managed /d N /f
start_windows_demo

window=""
for _ in $(seq 60); do
  window=$(xdotool search --onlyvisible --name "Wendmoor - Larkspan" 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 0.5
done
[ -n "$window" ] || { echo "screenshot: the window did not appear" >&2; exit 1; }

# Enter presses the default button, Start. The pass is done when the Sync
# job, the last one that runs, has brought the laptop's note back.
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --window "$window" Return
synced=$demo_build/demo/Notes/laptop.txt
for _ in $(seq 60); do
  [ ! -f "$synced" ] || break
  sleep 0.5
done
[ -f "$synced" ] || {
  echo "screenshot: the pass did not finish" >&2
  exit 1
}
sleep 2

mkdir -p docs
import -window "$window" docs/screenshot.png
echo "Wrote docs/screenshot.png"
