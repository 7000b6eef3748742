#!/bin/sh
# Runs a Windows test binary that makes windows: under Wine, on a virtual
# display of its own. There is no window manager there, and Wine would wait
# for one seconds per window; so for this program Wine manages its windows
# itself (a setting of the build tree's prefix for this program only).
# With LARKSPAN_TEST_DPI set, the program runs in a prefix of its own whose
# display has that many dots per inch, so the other tests keep 96.
# Usage: gui-test-run.sh BUILD_DIR PROGRAM [ARGUMENTS...]
set -e
build_dir=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$1")
export LARKSPAN_WINE_BUILD_DIR=$build_dir
prefix=$build_dir/wineprefix
if [ -n "${LARKSPAN_TEST_DPI:-}" ]; then
  export LARKSPAN_WINE_PREFIX=wineprefix-dpi$LARKSPAN_TEST_DPI
  prefix=$build_dir/$LARKSPAN_WINE_PREFIX
  dword=$(printf 'dword:%08x' "$LARKSPAN_TEST_DPI")
  if ! grep -qF "\"LogPixels\"=$dword" "$prefix/user.reg" 2>/dev/null; then
    # The user's setting, and the machine's that older Wine reads.
    "$here/wine-run.sh" reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD \
      /d "$LARKSPAN_TEST_DPI" /f >/dev/null 2>&1 || true
    "$here/wine-run.sh" reg add \
      "HKLM\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts" \
      /v LogPixels /t REG_DWORD /d "$LARKSPAN_TEST_DPI" /f >/dev/null 2>&1 || true
    (WINEPREFIX=$prefix wineserver -w) || true
  fi
fi
if ! grep -qF "AppDefaults\\\\$name\\\\X11 Driver" "$prefix/user.reg" 2>/dev/null; then
  "$here/wine-run.sh" reg add "HKCU\\Software\\Wine\\AppDefaults\\$name\\X11 Driver" \
    /v Managed /d N /f >/dev/null 2>&1 || true
fi
exec xvfb-run -a "$here/wine-run.sh" "$@"
