#!/usr/bin/env bash
# Measures larkspan-run against cp, rsync and the bare scan on generated trees.
# Every command runs several times, alternating with its peers; the medians
# and the ratios of ours to each peer come from the same run. After each of
# our runs the result is checked with rsync (checksums, hidden files aside),
# so a fast wrong answer cannot pass.
#
#   bench/run.sh [RUNS]        (default 5)
# Environment: BENCH_DIR (scratch folder on the local disk, default
# /var/tmp/larkspan-bench), BENCH_TREES (default "A C"), LARKSPAN_RUN (the
# binary, default build/native/larkspan-run).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
scratch=${BENCH_DIR:-/var/tmp/larkspan-bench}
trees=${BENCH_TREES:-"A C"}
ours=${LARKSPAN_RUN:-$PWD/build/native/larkspan-run}

./scripts/setup.sh
command -v /usr/bin/time >/dev/null || { apt-get install -y -qq time >/dev/null; }
if [ ! -x "$ours" ]; then
  cmake --preset native >/dev/null && cmake --build --preset native --target larkspan-run >/dev/null
fi
mkdir -p "$scratch"
# Our Mirror moves what it removes to the trash: keep it in the scratch folder.
export XDG_DATA_HOME=$scratch/xdg
mkdir -p "$XDG_DATA_HOME"

median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
now() { date +%s.%N; }

# seconds COMMAND...: runs the command once and prints its wall time.
seconds() {
  local start end
  sync
  start=$(now)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f\n", b - a}'
}

project() {  # project FILE MODE SRC DST
  printf 'O,1,%s,%s,%s\r\nT,0,0,0\r\n' "$2" "$3" "$4" >"$1"
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

report() {  # report SCENARIO OURS PEER...
  local scenario=$1 ours_key=$2
  shift 2
  local m_ours
  m_ours=$(tr ' ' '\n' <<<"${samples[$scenario/$ours_key]}" | grep . | median)
  printf '%-28s %-22s median %8.3f s\n' "$scenario" "$ours_key" "$m_ours"
  for peer in "$@"; do
    local m
    m=$(tr ' ' '\n' <<<"${samples[$scenario/$peer]}" | grep . | median)
    printf '%-28s %-22s median %8.3f s   ours/peer %.2f\n' "$scenario" "$peer" "$m" \
      "$(awk -v a="$m_ours" -v b="$m" 'BEGIN {print (b > 0) ? a / b : 0}')"
  done
}

warm() { find "$@" -type f -exec cat {} + >/dev/null 2>&1 || true; }

bench_tree() {
  local tree=$1 src=$scratch/src$1 dst=$scratch/dst$1 lpj=$scratch/bench$1.lpj
  [ -d "$src" ] || { echo "generating tree $tree"; perl bench/make_tree.pl "$tree" "$src"; }
  warm "$src"

  # First copy into an empty folder.
  for ((r = 0; r < runs; r++)); do
    for cmd in ours cp rsync; do
      rm -rf "$dst" && mkdir "$dst"
      case $cmd in
        ours) project "$lpj" Copy "$src" "$dst"; record "first-copy-$tree/ours" "$(seconds "$ours" "$lpj")"
              check "$src" "$dst" "first copy" ;;
        cp) record "first-copy-$tree/cp -a" "$(seconds cp -a --reflink=never "$src/." "$dst/")" ;;
        rsync) record "first-copy-$tree/rsync -a" "$(seconds rsync -a "$src/" "$dst/")" ;;
      esac
    done
  done
  report "first-copy-$tree" ours "cp -a" "rsync -a"
  [ "$tree" = A ] || return 0

  # A pass with nothing to do.
  project "$lpj" Copy "$src" "$dst"
  "$ours" "$lpj" >/dev/null
  for ((r = 0; r < runs; r++)); do
    record "no-change-A/ours" "$(seconds "$ours" "$lpj")"
    record "no-change-A/rsync -a" "$(seconds rsync -a "$src/" "$dst/")"
    record "no-change-A/find floor" "$(seconds find "$src" "$dst" -printf '%T@ %s\n')"
  done
  check "$src" "$dst" "no-change pass"
  report "no-change-A" ours "find floor" "rsync -a"

  # 1% of the files modified, anew before each command.
  local stamp=2000000000
  modify() {
    stamp=$((stamp + 10))
    find "$src" -name 'f7.dat' | head -1000 | while read -r f; do
      head -c "$(stat -c %s "$f")" /dev/urandom >"$f"
      touch -d "@$stamp" "$f"
    done
  }
  for ((r = 0; r < runs; r++)); do
    modify; record "modified-1%-A/ours" "$(seconds "$ours" "$lpj")"; check "$src" "$dst" "1% modified"
    modify; record "modified-1%-A/rsync -a" "$(seconds rsync -a "$src/" "$dst/")"
  done
  report "modified-1%-A" ours "rsync -a"

  # Mirror with 1% of the files gone from the source: the destination holds
  # 1,000 files that the source lacks, made anew before each command.
  project "$lpj" Mirror "$src" "$dst"
  extra() { find "$dst" -name 'f7.dat' | head -1000 | while read -r f; do cp "$f" "${f%.dat}x.dat"; done; }
  for ((r = 0; r < runs; r++)); do
    extra; record "mirror-1%-deleted-A/ours" "$(seconds "$ours" "$lpj")"; check "$src" "$dst" "mirror"
    rm -rf "$XDG_DATA_HOME/Trash"
    extra; record "mirror-1%-deleted-A/rsync -a --delete" "$(seconds rsync -a --delete "$src/" "$dst/")"
  done
  report "mirror-1%-deleted-A" ours "rsync -a --delete"

  # Peak memory: tree A against a tree of 1,000 files.
  local small=$scratch/small smalldst=$scratch/smalldst
  if [ ! -d "$small" ]; then mkdir -p "$small" && cp -r "$src/d0/d0" "$small/"; fi
  rm -rf "$smalldst" && mkdir "$smalldst"
  project "$scratch/small.lpj" Copy "$small" "$smalldst"
  local kb_small kb_big
  kb_small=$( { /usr/bin/time -f '%M' "$ours" "$scratch/small.lpj" >/dev/null; } 2>&1 | tail -1)
  rm -rf "$dst" && mkdir "$dst"
  project "$lpj" Copy "$src" "$dst"
  kb_big=$( { /usr/bin/time -f '%M' "$ours" "$lpj" >/dev/null; } 2>&1 | tail -1)
  printf '%-28s 1,000 files %d KiB, tree A %d KiB, difference %d KiB\n' "peak-memory" \
    "$kb_small" "$kb_big" $((kb_big - kb_small))
}

echo "machine: $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB, $(uname -r); scratch $(df -h "$scratch" | awk 'NR==2 {print $1, $2}')"
for tree in $trees; do bench_tree "$tree"; done
