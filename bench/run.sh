#!/usr/bin/env bash
# Measures larkspan-run against cp, rsync and the bare scan on generated trees,
# and the window program against the console runner under Wine. Every command
# runs several times, alternating with its peers; the medians and the ratios
# of ours to each peer come from the same run. After each of our runs the
# result is checked with rsync (checksums, hidden files aside), so a fast
# wrong answer cannot pass.
#
#   bench/run.sh [RUNS]        (default 5)
# Environment: BENCH_DIR (scratch folder on the local disk, default
# /var/tmp/larkspan-bench), BENCH_TREES (default "A C W": tree A's four
# scenarios and peak memory, tree C's first copy, W the window on tree B;
# A-copy and A-passes split A into its first copy and the rest;
# not in the default: X only tree A's pass with 100 patterns against none,
# M Move against Copy on tree A, S only W's Stop
# mid-pass, P what each step of a log line costs the window).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
runs=${1:-5}
scratch=${BENCH_DIR:-/var/tmp/larkspan-bench}
trees=${BENCH_TREES:-"A C W"}
ours=$repo/build/native/larkspan-run

./scripts/setup.sh
cmake --preset native >/dev/null && cmake --build --preset native --target larkspan-run >/dev/null
mkdir -p "$scratch"
# Our Mirror moves what it removes to the trash: keep it in the scratch folder.
export XDG_DATA_HOME=$scratch/xdg
mkdir -p "$XDG_DATA_HOME"

median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN {printf "%.3f\n", b - a}'; }

# seconds COMMAND...: runs the command once, after the writes of the one
# before it are on disk, and prints its wall time.
seconds() {
  local start
  sync
  start=$(now)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
  since "$start"
}

# settle: on ext4 without a journal (as on the machine in docs/BENCHMARKS.md)
# the kernel will not reuse an inode freed less than a minute ago, and each new
# file then costs a scan past every recently freed one: a copy right after a
# large delete takes many times its usual kernel time. Before a timed command
# that creates files after a delete, the freed inodes are left to age.
settle_seconds=0
scratch_device=$(df --output=source "$scratch" | tail -1)
if [ "$(findmnt -n -o FSTYPE --target "$scratch")" = ext4 ] &&
  ! ls /proc/fs/jbd2 2>/dev/null | grep -q "^$(basename "$scratch_device")-"; then
  settle_seconds=61
fi
settle() { sync; sleep "$settle_seconds"; }

project() {  # project FILE MODE SRC DST [END_OPTION]
  printf 'O,1,%s,%s,%s\r\nT,0,%s,0\r\n' "$2" "$3" "$4" "${5:-0}" >"$1"
}

# Lists what differs between SRC and DST by content, directory times aside.
differences() {
  rsync -anc --delete --exclude='.*' --out-format='%i %n' "$1/" "$2/" | grep -v '^\.d' || true
}

check() {  # check SRC DST LABEL
  local diff
  diff=$(differences "$1" "$2")
  if [ -n "$diff" ]; then
    echo "WRONG RESULT after $3:" >&2
    head -5 <<<"$diff" >&2
    exit 1
  fi
}

declare -A samples
record() { samples[$1]+="$2 "; }
median_of() { tr ' ' '\n' <<<"${samples[$1]}" | grep . | median; }

report() {  # report SCENARIO OURS PEER...
  local scenario=$1 ours_key=$2 m_ours m
  shift 2
  m_ours=$(median_of "$scenario/$ours_key")
  printf '%-24s %-22s median %8.3f s   (%s)\n' "$scenario" "$ours_key" "$m_ours" \
    "${samples[$scenario/$ours_key]% }"
  for peer in "$@"; do
    m=$(median_of "$scenario/$peer")
    printf '%-24s %-22s median %8.3f s   ours/peer %.2f   (%s)\n' "$scenario" "$peer" "$m" \
      "$(awk -v a="$m_ours" -v b="$m" 'BEGIN {print (b > 0) ? a / b : 0}')" \
      "${samples[$scenario/$peer]% }"
  done
}

warm() { find "$@" -type f -exec cat {} + >/dev/null 2>&1 || true; }

tree() {  # tree NAME: generates the tree once, prints its path
  local src=$scratch/src$1
  [ -d "$src" ] || { echo "generating tree $1" >&2; perl bench/make_tree.pl "$1" "$src"; }
  echo "$src"
}

first_copy() {  # first_copy TREE
  # Each copy goes to a folder of its own, all removed at the end: no delete
  # comes between the timed copies.
  local name=$1 src dst lpj=$scratch/bench$1.lpj
  src=$(tree "$name")
  warm "$src"
  rm -rf "$scratch/first$name"
  mkdir "$scratch/first$name"
  settle
  for ((r = 0; r < runs; r++)); do
    for cmd in ours cp rsync rsync-delete; do
      dst=$scratch/first$name/$cmd$r
      mkdir "$dst"
      case $cmd in
        ours) project "$lpj" Copy "$src" "$dst"
              record "first-copy-$name/ours" "$(seconds "$ours" "$lpj")"
              check "$src" "$dst" "first copy" ;;
        cp) record "first-copy-$name/cp -a" "$(seconds cp -a --reflink=never "$src/." "$dst/")" ;;
        rsync) record "first-copy-$name/rsync -a" "$(seconds rsync -a "$src/" "$dst/")" ;;
        rsync-delete) record "first-copy-$name/rsync -a --delete" \
                        "$(seconds rsync -a --delete "$src/" "$dst/")" ;;
      esac
    done
  done
  rm -rf "$scratch/first$name"
  report "first-copy-$name" ours "cp -a" "rsync -a" "rsync -a --delete"
}

# patterns_against_none SRC DST: the pass with nothing to do, its job with
# 100 patterns that match nothing (names at any depth, anchored paths, **,
# folders only) against the same job with none. Within 10% of it: the
# patterns are compiled once per job, and asked only of what is listed.
patterns_against_none() {
  local src=$1 dst=$2 plain=$scratch/benchA-plain.lpj patterned=$scratch/benchA-patterns.lpj i
  mkdir -p "$dst"
  project "$plain" Copy "$src" "$dst"
  {
    printf 'O,1,Copy,%s,%s\r\n' "$src" "$dst"
    for ((i = 0; i < 20; i++)); do
      printf 'X,*.nomatch%d\r\nX,/none%d/\r\nX,**/cache%d/x\r\nX,deep%d/*.tmp\r\nX,Folder?%d/\r\n' \
        "$i" "$i" "$i" "$i" "$i"
    done
    printf 'T,0,0,0\r\n'
  } >"$patterned"
  "$ours" "$plain" >/dev/null
  for ((r = 0; r < runs; r++)); do
    record "no-change-A-patterns/100 patterns" "$(seconds "$ours" "$patterned")"
    record "no-change-A-patterns/none" "$(seconds "$ours" "$plain")"
  done
  check "$src" "$dst" "no-change pass with patterns"
  report "no-change-A-patterns" "100 patterns" none
}

tree_a_scenarios() {
  local src dst=$scratch/dstA lpj=$scratch/benchA.lpj
  src=$(tree A)
  warm "$src"

  # A pass with nothing to do.
  # The destination is made an exact copy first, whatever an earlier run or
  # scenario left there (a newer file there would rightly be kept).
  project "$lpj" Copy "$src" "$dst"
  rsync -a --delete "$src/" "$dst/"
  "$ours" "$lpj" >/dev/null
  check "$src" "$dst" "no-change set-up"
  for ((r = 0; r < runs; r++)); do
    record "no-change-A/ours" "$(seconds "$ours" "$lpj")"
    record "no-change-A/find floor" "$(seconds find "$src" "$dst" -printf '%T@ %s\n')"
    record "no-change-A/rsync -a" "$(seconds rsync -a "$src/" "$dst/")"
    record "no-change-A/rsync -a --delete" "$(seconds rsync -a --delete "$src/" "$dst/")"
  done
  check "$src" "$dst" "no-change pass"
  report "no-change-A" ours "find floor" "rsync -a" "rsync -a --delete"

  patterns_against_none "$src" "$dst"

  # 1% of the files modified, anew before each command: new content and a
  # time later than any before, in this run or an earlier one (a Copy leaves
  # a destination file alone that is newer than its source).
  local stamp
  stamp=$(find "$src" "$dst" -name 'f7.dat' -printf '%T@\n' | sort -n | tail -1 | cut -d. -f1)
  modify() {
    stamp=$((stamp + 10))
    find "$src" -name 'f7.dat' | while read -r f; do
      head -c "$(stat -c %s "$f")" /dev/urandom >"$f"
      touch -d "@$stamp" "$f"
    done
  }
  for ((r = 0; r < runs; r++)); do
    modify; record "modified-1%-A/ours" "$(seconds "$ours" "$lpj")"
    check "$src" "$dst" "1% modified"
    modify; record "modified-1%-A/rsync -a" "$(seconds rsync -a "$src/" "$dst/")"
    modify; record "modified-1%-A/rsync -a --delete" "$(seconds rsync -a --delete "$src/" "$dst/")"
  done
  report "modified-1%-A" ours "rsync -a" "rsync -a --delete"

  # Mirror after 1% of the source files were deleted: the destination holds
  # 1,000 files the source lacks, made anew before each command. Which files
  # go is drawn once at random (fixed seed), so their names repeat as a real
  # deletion's would (about ten of each of the 100 names). A second round
  # removes 1,000 files of one name, the worst case for a trash, which must
  # give each a name of its own. rsync -a deletes nothing and is there for
  # scale.
  project "$lpj" Mirror "$src" "$dst"
  local drawn=$scratch/mirror-drawn.txt
  [ -s "$drawn" ] || (cd "$src" && find . -type f -name 'f*.dat' | sort |
    shuf -n 1000 --random-source=<(yes 1234) >"$drawn")
  mirror_round() {  # mirror_round SCENARIO: extra() makes the files to remove
    local scenario=$1
    for ((r = 0; r < runs; r++)); do
      rm -rf "$XDG_DATA_HOME/Trash"
      extra; settle; record "$scenario/ours" "$(seconds "$ours" "$lpj")"
      check "$src" "$dst" "mirror"
      extra; settle
      record "$scenario/rsync -a --delete" "$(seconds rsync -a --delete "$src/" "$dst/")"
      record "$scenario/rsync -a" "$(seconds rsync -a "$src/" "$dst/")"
    done
    rm -rf "$XDG_DATA_HOME/Trash"
    report "$scenario" ours "rsync -a --delete" "rsync -a"
  }
  extra() { while read -r f; do cp -p "$dst/$f" "$dst/${f%.dat}x.dat"; done <"$drawn"; }
  mirror_round "mirror-1%-deleted-A"
  extra() { find "$dst" -name 'f7.dat' | while read -r f; do cp -p "$f" "${f%.dat}x.dat"; done; }
  mirror_round "mirror-1%-one-name-A"

  # Peak memory of a first copy: tree A against a tree of 1,000 files.
  local small=$scratch/small smalldst=$scratch/smalldst kb_small kb_big
  if [ ! -d "$small" ]; then mkdir -p "$small" && cp -r "$src/d0/d0" "$small/"; fi
  rm -rf "$smalldst" && mkdir "$smalldst"
  project "$scratch/small.lpj" Copy "$small" "$smalldst"
  kb_small=$( { /usr/bin/time -f '%M' "$ours" "$scratch/small.lpj" >/dev/null; } 2>&1 | tail -1)
  rm -rf "$dst" && mkdir "$dst"
  project "$lpj" Copy "$src" "$dst"
  kb_big=$( { /usr/bin/time -f '%M' "$ours" "$lpj" >/dev/null; } 2>&1 | tail -1)
  printf '%-24s 1,000 files %d KiB, tree A %d KiB, difference %d KiB\n' "peak-memory" \
    "$kb_small" "$kb_big" $((kb_big - kb_small))
}

# Move against Copy of the same tree, alternating: each run starts from a
# fresh copy of tree A as its source and an empty destination. Move also
# flushes its copies to storage before it deletes their sources; Copy leaves
# its writes to the system (the next command's sync takes them, untimed).
move_against_copy() {
  local pristine src=$scratch/move-src dst=$scratch/move-dst lpj=$scratch/bench-move.lpj
  pristine=$(tree A)
  warm "$pristine"
  for ((r = 0; r < runs; r++)); do
    for mode in Move Copy; do
      rm -rf "$src" "$dst"
      cp -a --reflink=never "$pristine" "$src"
      mkdir "$dst"
      project "$lpj" "$mode" "$src" "$dst"
      settle
      record "move-A/$mode" "$(seconds "$ours" "$lpj")"
      check "$pristine" "$dst" "$mode"
      if [ "$mode" = Move ] && [ -n "$(find "$src" -type f | head -1)" ]; then
        echo "WRONG RESULT after Move: files left in the source" >&2
        exit 1
      fi
    done
  done
  rm -rf "$src" "$dst"
  report "move-A" Move Copy
}

# The window: a first copy of tree B through Larkspan.exe under Wine against
# larkspan-run.exe under Wine, both timed from their start until the last of
# the 20,000 files is in place (the window then counts down 5 s before it
# closes, which is not the pass). Then Stop is pressed mid-pass and the time
# until files stop appearing is taken (only this with the argument stop-only).
window_scenario() {
  local build=$repo/build/win64 src dst=$scratch/dstB lpj=$scratch/benchB.lpj
  cmake --preset win64 >/dev/null && cmake --build --preset win64 --target Larkspan larkspan-run >/dev/null
  src=$(tree B)
  warm "$src"
  local files
  files=$(find "$src" -type f | wc -l)
  # Wine names the Linux root Z:.
  windows() { sed 's|/|\\|g; s|^|Z:|' <<<"$1"; }
  project "$lpj" Copy "$(windows "$src")" "$(windows "$dst")" 1

  local number=90
  while [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
  Xvfb ":$number" -screen 0 1024x640x24 -nolisten tcp 2>/dev/null &
  local xvfb_pid=$! program_pid=""
  trap 'end_wine; kill $xvfb_pid 2>/dev/null || true' EXIT
  export DISPLAY=:$number
  wine_run() { (cd "$build" && exec "$repo/cmake/wine-run.sh" "$@"); }
  # Ends every program of the build tree's prefix: killing the script that
  # started the window leaves the window running.
  end_wine() {
    WINEPREFIX=$build/wineprefix wineserver -k 2>/dev/null || true
    [ -z "$program_pid" ] || wait "$program_pid" 2>/dev/null || true
    program_pid=""
  }
  # No window manager here: Wine draws the frame itself, without waiting for one.
  wine_run reg add 'HKCU\Software\Wine\AppDefaults\Larkspan.exe\X11 Driver' \
    /v Managed /d N /f >/dev/null 2>&1 || true
  count() { find "$dst" -maxdepth 1 -type f | wc -l; }
  # until_copied PID START: waits until every file is in place or the program ends.
  until_copied() {
    while [ "$(count)" -lt "$files" ] && kill -0 "$1" 2>/dev/null; do sleep 0.05; done
    since "$2"
  }
  local start
  for ((r = 0; r < runs; r++)); do
    [ "${1:-}" = stop-only ] && break
    for cmd in window console; do
      rm -rf "$dst" && mkdir "$dst" && sync
      start=$(now)
      if [ $cmd = window ]; then
        wine_run ./Larkspan.exe "$(windows "$lpj")" >/dev/null 2>&1 &
      else
        wine_run ./larkspan-run.exe "$(windows "$lpj")" >/dev/null 2>&1 &
      fi
      program_pid=$!
      record "window-B/$cmd" "$(until_copied "$program_pid" "$start")"
      wait "$program_pid" || true
      program_pid=""
      check "$src" "$dst" "$cmd under Wine"
    done
  done
  [ "${1:-}" = stop-only ] || report "window-B" window console

  # Stop mid-pass: pressed once a quarter of the files are in place.
  project "$lpj" Copy "$(windows "$src")" "$(windows "$dst")" 0
  local window after pressed stopped_at last
  for ((r = 0; r < runs; r++)); do
    rm -rf "$dst" && mkdir "$dst" && sync
    wine_run ./Larkspan.exe "$(windows "$lpj")" >/dev/null 2>&1 &
    program_pid=$!
    window=""
    for _ in $(seq 100); do
      window=$(xdotool search --onlyvisible --name "Wendmoor - Larkspan" 2>/dev/null | head -1) &&
        [ -n "$window" ] && break
      sleep 0.2
    done
    [ -n "$window" ] || { echo "the window did not appear" >&2; exit 1; }
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --window "$window" Return  # Start, the default button
    while [ "$(count)" -lt $((files / 4)) ]; do sleep 0.02; done
    # A click on Stop: the template places it at 53,1 dialog units, which
    # with the dialog's font on this display puts its middle 122,33 pixels
    # from the window's corner (the caption Wine draws included). Keys would
    # depend on where Wine put the focus.
    xdotool mousemove --window "$window" 122 33 click 1
    pressed=$(now)
    last=$(count)
    stopped_at=$pressed
    # Stopped once the count has not moved for a second.
    while :; do
      sleep 0.05
      after=$(count)
      if [ "$after" != "$last" ]; then last=$after; stopped_at=$(now); continue; fi
      awk -v a="$stopped_at" -v b="$(now)" 'BEGIN {exit !(b - a > 1)}' && break
    done
    record "stop-B/answered" "$(awk -v a="$pressed" -v b="$stopped_at" 'BEGIN {printf "%.3f\n", b - a}')"
    [ "$last" -lt "$files" ] || echo "stop-B: the pass ended before Stop was pressed" >&2
    end_wine
  done
  printf '%-24s %-22s median %8.3f s   (%s)\n' "stop-B" "last file after Stop" \
    "$(median_of stop-B/answered)" "${samples[stop-B/answered]% }"
  kill "$xvfb_pid" 2>/dev/null || true
  trap - EXIT
}

# What one log line costs the window under Wine, step by step.
log_cost() {
  cmake --preset win64 >/dev/null && cmake --build --preset win64 --target log-cost >/dev/null
  "$repo/cmake/gui-test-run.sh" "$repo/build/win64" "$repo/build/win64/bench/log-cost.exe" 2>/dev/null
}

echo "machine: $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB, $(uname -r); scratch $(df -h "$scratch" | awk 'NR==2 {print $1, $2}')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for tree in $trees; do
  case $tree in
    A) first_copy A; tree_a_scenarios ;;
    A-copy) first_copy A ;;
    A-passes) tree_a_scenarios ;;
    M) move_against_copy ;;
    X) patterns_against_none "$(tree A)" "$scratch/dstA" ;;
    C) first_copy C ;;
    W) window_scenario ;;
    S) window_scenario stop-only ;;
    P) log_cost ;;
  esac
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
