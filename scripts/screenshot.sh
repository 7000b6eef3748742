#!/usr/bin/env bash
# Takes docs/screenshot.png and docs/screenshot-names.png: Larkspan.exe under
# Wine on a virtual display, with the demo project and with one of names in
# several scripts, each after Start has run one pass.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
# ImageMagick takes the picture; Wine draws Japanese from WenQuanYi, which it
# finds through fontconfig.
need=()
command -v import >/dev/null || need+=(imagemagick)
fc-list | grep -qi "wenquanyi" || need+=(fonts-wqy-microhei)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
. scripts/windows_demo.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target Larkspan >/dev/null

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
  [ -n "${link_key:-}" ] && wine_reg delete "$link_key" /v "MS Sans Serif" /f
}
trap cleanup EXIT
export DISPLAY=$display
sleep 1

# With no window manager on the display, Wine draws the caption and frame
# itself (for Larkspan.exe, until the script ends).
wine_reg() { (cd "$demo_build" && ../../cmake/wine-run.sh reg "$@" >/dev/null 2>&1) || true; }
unmanaged_key='HKCU\Software\Wine\AppDefaults\Larkspan.exe\X11 Driver'
wine_reg add "$unmanaged_key" /v Managed /d N /f

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
  sleep 2

  mkdir -p docs
  import -window "$window" "$picture"
  echo "Wrote $picture"
  kill "$larkspan_pid" 2>/dev/null || true
  wait "$larkspan_pid" 2>/dev/null || true
  larkspan_pid=""
  (cd "$demo_build" && WINEPREFIX=$PWD/wineprefix wineserver -w) || true
}

# The pass is done when the Sync job, the last one that runs, has brought the
# laptop's note back; in the names demo when the Move has moved its file.
shoot prepare_windows_demo "$demo_build/demo/Notes/laptop.txt" docs/screenshot.png
# The dialog's font, MS Sans Serif, has no Japanese: glyphs it lacks come
# from the font linked to it (until the script ends). Wine 8 still draws the
# emoji as boxes: no linked font (Symbola, DejaVu Sans) gave it theirs.
link_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
wine_reg add "$link_key" /v "MS Sans Serif" /t REG_MULTI_SZ \
  /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f
shoot prepare_windows_names_demo "$demo_build/demo/Sicherung/Urlaub-🏖/emoji-😀.txt" \
  docs/screenshot-names.png
