#!/usr/bin/env bash
# Packing benchmark: orvmake's own 7z writer (bench/pack_bench, native release build) against
# `7zz a -m0=lzma2 -mx5 -mmt=1` (single-threaded, as ours is) on the media benchmark's tree: 5,000
# files, ~300 MB of deterministic mixed content (text-like, code-like, incompressible; 20 large files
# and many small ones). Then real programs (~40 MB of Wine's PE libraries, when installed), where our
# x86 filter is compared with 7zz's (-mf=bcj). Reports wall time, CPU time and archive size of each, and
# checks our archives with `7zz t`.
#   bench/run-pack.sh [runs (1)]
#   BENCH_DIR (default /tmp/orv-pack-bench) keeps the data between invocations;
#   ORV_NATIVE_BUILD (build/native-release) chooses the build; PACK_PASSWORD packs ours encrypted too.
set -euo pipefail
runs="${1:-1}"
work="${BENCH_DIR:-/tmp/orv-pack-bench}"
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
native="${ORV_NATIVE_BUILD:-build/native-release}"
[ -f "$native/build.ninja" ] || cmake --preset native-release -B "$native" >/dev/null
ninja -C "$native" -j2 pack_bench >/dev/null

mkdir -p "$work"
if [ ! -f "$work/data.stamp" ]; then
  rm -rf "$work/data"
  python3 bench/make-media-tree.py "$work/data"
  touch "$work/data.stamp"
fi
echo "data: $(find "$work/data" -type f | wc -l) files, $(du -sb "$work/data" | cut -f1) bytes"

# Wall and CPU (user + system) seconds of a command; its output in $work/last.out.
measure() {
  local TIMEFORMAT='%R %U %S' times
  times="$( { time "$@" >"$work/last.out" 2>&1; } 2>&1 )" || { cat "$work/last.out" >&2; exit 1; }
  awk '{ printf "%.2f %.2f", $1, $2 + $3 }' <<<"$times"
}

# compare NAME FOLDER [7zz options]: ours and 7zz on the folder's tree.
compare() {
  local name="$1" folder="$2" ours_wall wall cpu a b
  shift 2
  rm -f "$work/$name-ours.7z" "$work/$name-7zz.7z"
  read -r wall cpu <<<"$(measure "$native/bench/pack_bench" "$folder" "$work/$name-ours.7z" ${PACK_PASSWORD:+"$PACK_PASSWORD"})"
  [ -n "$wall" ] || exit 1
  a=$(stat -c %s "$work/$name-ours.7z")
  echo "$name, ours:              wall $wall s, cpu $cpu s, $a bytes ($(cat "$work/last.out"))"
  ours_wall=$wall
  read -r wall cpu <<<"$(cd "$folder" && measure 7zz a -t7z -m0=lzma2 -mx5 -mmt=1 "$@" -bd -bso0 -bsp0 "$work/$name-7zz.7z" .)"
  [ -n "$wall" ] || exit 1
  b=$(stat -c %s "$work/$name-7zz.7z")
  echo "$name, 7zz a -mx5 -mmt=1 $*: wall $wall s, cpu $cpu s, $b bytes"
  awk -v o="$ours_wall" -v s="$wall" -v a="$a" -v b="$b" 'BEGIN { printf "%s ratio ours / 7zz: time %.2f, size %.3f\n", "'"$name"'", o / s, a / b }'
  7zz t ${PACK_PASSWORD:+-p"$PACK_PASSWORD"} -bd -bso0 -bsp0 "$work/$name-ours.7z" && echo "$name: 7zz t accepts our archive"
}

pe=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
if [ -d "$pe" ] && [ ! -f "$work/pe.stamp" ]; then
  rm -rf "$work/pe"; mkdir -p "$work/pe"
  total=0
  for f in $(ls "$pe" | grep -E '\.(dll|exe)$' | sort); do
    size=$(stat -c %s "$pe/$f"); [ $((total + size)) -le $((40 << 20)) ] || continue
    cp "$pe/$f" "$work/pe/"; total=$((total + size))
  done
  touch "$work/pe.stamp"
fi

for ((i = 0; i < runs; ++i)); do
  compare tree "$work/data"
  if [ -d "$work/pe" ]; then
    echo "programs: $(ls "$work/pe" | wc -l) files, $(du -sb "$work/pe" | cut -f1) bytes"
    compare programs "$work/pe" -mf=bcj
  fi
done
