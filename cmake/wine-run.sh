#!/bin/sh
# Runs a Windows test binary under Wine with a prefix of the build tree's own,
# never the user's. The prefix is made once; a lock keeps parallel tests from
# making it twice.
set -e
build_dir=${LARKSPAN_WINE_BUILD_DIR:-$(pwd)}
while [ ! -f "$build_dir/CMakeCache.txt" ] && [ "$build_dir" != / ]; do
  build_dir=$(dirname "$build_dir")
done
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/.ready" ]; then
  exec 9>"$build_dir/wineprefix.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
    touch "$WINEPREFIX/.ready"
  fi
  exec 9>&-
fi
exec wine "$@"
