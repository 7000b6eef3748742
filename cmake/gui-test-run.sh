#!/bin/sh
# Runs a Windows test binary that makes windows: under Wine, on a virtual
# display of its own. There is no window manager there, and Wine would wait
# for one seconds per window; so for this program Wine manages its windows
# itself (a setting of the build tree's prefix for this program only).
# Usage: gui-test-run.sh BUILD_DIR PROGRAM [ARGUMENTS...]
set -e
build_dir=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$1")
export LARKSPAN_WINE_BUILD_DIR=$build_dir
if ! grep -qF "AppDefaults\\\\$name\\\\X11 Driver" "$build_dir/wineprefix/user.reg" 2>/dev/null; then
  "$here/wine-run.sh" reg add "HKCU\\Software\\Wine\\AppDefaults\\$name\\X11 Driver" \
    /v Managed /d N /f >/dev/null 2>&1 || true
fi
exec xvfb-run -a "$here/wine-run.sh" "$@"
