#!/usr/bin/env bash
# Takes the pictures in docs/: Larkspan.exe under Wine on a virtual display,
# each after Start has run one pass over the demo project:
#   docs/screenshot.png       at 100% (96 dpi)
#   docs/screenshot-150.png   at 150% (144 dpi, a Wine prefix of its own)
#   docs/screenshot-names.png at 100%, names in several scripts; taken only
#                             where the WenQuanYi font is installed.
# A helper of ours reads the pixels off the screen (window_capture.exe);
# Python's standard library writes the PNG. What scripts/setup.sh installs is
# all it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in wine Xvfb xdotool python3 cmake; do
  command -v "$tool" >/dev/null || {
    echo "screenshot: $tool is missing; scripts/setup.sh installs it" >&2
    exit 1
  }
done
. scripts/windows_demo.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target Larkspan window_capture >/dev/null

number=90
while [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
display=:$number
Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp &
xvfb_pid=$!
larkspan_pid=""
picture_dir=$(mktemp -d)
link_key=""
cleanup() {
  [ -n "$larkspan_pid" ] && kill "$larkspan_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  [ -n "$link_key" ] && wine_reg delete "$link_key" /v "MS Sans Serif" /f
  for prefix in wineprefix wineprefix-dpi144; do
    LARKSPAN_WINE_PREFIX=$prefix wine_reg delete "$unmanaged_key" /f
  done
  rm -rf "$picture_dir"
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do
  xdpyinfo -display "$display" >/dev/null 2>&1 && break
  sleep 0.2
done

wine_reg() { (cd "$demo_build" && ../../cmake/wine-run.sh reg "$@" >/dev/null 2>&1) || true; }
unmanaged_key='HKCU\Software\Wine\AppDefaults\Larkspan.exe\X11 Driver'

# use_dpi DPI: the Wine prefix the next pictures are taken in. 96 is the
# build tree's own; another dpi has a prefix of its own, which the window
# tests at that dpi share. With no window manager on the display, Wine draws
# the caption and frame itself (for Larkspan.exe, until the script ends).
use_dpi() {
  if [ "$1" = 96 ]; then
    export LARKSPAN_WINE_PREFIX=wineprefix
  else
    export LARKSPAN_WINE_PREFIX=wineprefix-dpi$1
    wine_reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f
    wine_reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
      /v LogPixels /t REG_DWORD /d "$1" /f
  fi
  wine_reg add "$unmanaged_key" /v Managed /d N /f
}

# shoot PREPARE LAST_FILE PICTURE: prepares a demo, presses Start and, once
# LAST_FILE (made by the last job that runs) is there, takes the picture.
shoot() {
  local prepare=$1 last=$2 picture=$3
  "$prepare"
  # The window opens where the settings say: start from the defaults.
  wine_reg delete 'HKCU\Software\Wendmoor\Larkspan' /f
  start_windows_demo

  local window=""
  for _ in $(seq 60); do
    window=$(xdotool search --onlyvisible --name "Wendmoor - Larkspan" 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.5
  done
  [ -n "$window" ] || { echo "screenshot: the window did not appear" >&2; exit 1; }

  # Enter presses the default button, Start.
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  xdotool key --window "$window" Return
  for _ in $(seq 60); do
    [ ! -f "$last" ] || break
    sleep 0.5
  done
  [ -f "$last" ] || {
    echo "screenshot: the pass did not finish" >&2
    exit 1
  }
  # The log and the progress bar are drawn at the next timer ticks.
  sleep 2

  mkdir -p docs
  (cd "$demo_build" && ../../cmake/wine-run.sh ./window_capture.exe "Wendmoor - Larkspan" \
    "Z:$picture_dir/window.bmp")
  python3 scripts/bmp_to_png.py "$picture_dir/window.bmp" "$picture"
  echo "Wrote $picture"
  kill "$larkspan_pid" 2>/dev/null || true
  wait "$larkspan_pid" 2>/dev/null || true
  larkspan_pid=""
  (cd "$demo_build" && WINEPREFIX=$PWD/$LARKSPAN_WINE_PREFIX wineserver -w) || true
}

# The pass is done when the Sync job, the last one that runs, has brought the
# laptop's note back; in the names demo when the Move has moved its file.
use_dpi 96
shoot prepare_windows_demo "$demo_build/demo/Notes/laptop.txt" docs/screenshot.png
use_dpi 144
shoot prepare_windows_demo "$demo_build/demo/Notes/laptop.txt" docs/screenshot-150.png

use_dpi 96
if ! fc-list | grep -qi "wenquanyi"; then
  echo "screenshot: no WenQuanYi font (fonts-wqy-microhei): docs/screenshot-names.png kept" >&2
  exit 0
fi
# The dialog's font, MS Sans Serif, has no Japanese: glyphs it lacks come
# from the font linked to it (until the script ends). Wine 8 still draws the
# emoji as boxes: no linked font (Symbola, DejaVu Sans) gave it theirs.
link_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
wine_reg add "$link_key" /v "MS Sans Serif" /t REG_MULTI_SZ \
  /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f
shoot prepare_windows_names_demo "$demo_build/demo/Sicherung/Urlaub-🏖/emoji-😀.txt" \
  docs/screenshot-names.png
