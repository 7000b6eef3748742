#!/bin/sh
# Runs a Windows test binary under Wine with a prefix of the build tree's own,
# never the user's. The prefix is made once; a lock keeps parallel tests from
# making it twice. LARKSPAN_WINE_PREFIX names another prefix of the build
# tree, for tests that need a setting of their own (a display's dpi).
set -e
build_dir=${LARKSPAN_WINE_BUILD_DIR:-$(pwd)}
while [ ! -f "$build_dir/CMakeCache.txt" ] && [ "$build_dir" != / ]; do
  build_dir=$(dirname "$build_dir")
done
prefix_name=${LARKSPAN_WINE_PREFIX:-wineprefix}
export WINEPREFIX="$build_dir/$prefix_name"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/.ready" ]; then
  exec 9>"$build_dir/$prefix_name.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
    touch "$WINEPREFIX/.ready"
  fi
  exec 9>&-
fi
exec wine "$@"
