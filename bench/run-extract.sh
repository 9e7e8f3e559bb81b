#!/usr/bin/env bash
# Extraction benchmark: our 7z reader (bench/extract_bench, native release build) against `7zz x` on the
# same LZMA2 archive of ~200 MB of mixed files (text-like, code-like, incompressible; many small files
# and a few large ones; deterministic). Prints the median of each and their ratio.
#   bench/run-extract.sh [runs (5)] [build folder (build/native-release)]
# BENCH_DIR (default /tmp/orv-extract-bench) keeps the data and archive between invocations.
set -euo pipefail
runs="${1:-5}"
build="${2:-build/native-release}"
work="${BENCH_DIR:-/tmp/orv-extract-bench}"
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"

[ -f "$build/build.ninja" ] || cmake --preset native-release -B "$build" >/dev/null
ninja -C "$build" -j2 extract_bench >/dev/null
ours="$build/bench/extract_bench"

mkdir -p "$work"
if [ ! -f "$work/data.stamp" ]; then
  rm -rf "$work/data"
  python3 - "$work/data" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(2024)
def put(rel, data):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
vocabulary = [("".join(rng.choice("etaoinshrdlucmfwyp") for _ in range(rng.randint(2, 9)))) for _ in range(5000)]
weights = [1.0 / (i + 1) for i in range(len(vocabulary))]
def text(size):
    words = rng.choices(vocabulary, weights, k=size // 5)
    return " ".join(words).encode()[:size]
def code(size):
    # x86-like: a pool of instruction patterns, with calls and jumps to nearby targets.
    pool = [bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 7))) for _ in range(400)]
    out = bytearray()
    while len(out) < size:
        r = rng.random()
        if r < 0.1:
            out += b"\xE8" + rng.randrange(-65536, 65536).to_bytes(4, "little", signed=True)
        else:
            out += rng.choice(pool)
    return bytes(out[:size])
MB = 1 << 20
for i in range(6):
    put("text/book%d.txt" % i, text(10 * MB))
for i in range(4):
    put("bin/module%d.dll" % i, code(10 * MB))
for i in range(2):
    put("media/video%d.bin" % i, rng.randbytes(20 * MB))
for i in range(3000):
    size = rng.randint(1024, 30 * 1024)
    kind = rng.random()
    data = text(size) if kind < 0.5 else code(size) if kind < 0.8 else rng.randbytes(size)
    put("small/d%02d/f%04d.dat" % (i % 40, i), data)
PY
  touch "$work/data.stamp"
  rm -f "$work/archive.7z"
fi
if [ ! -f "$work/archive.7z" ]; then
  (cd "$work/data" && 7zz a -bd -bso0 -bsp0 -m0=lzma2 "$work/archive.7z" .)
fi
echo "data: $(du -sb "$work/data" | cut -f1) bytes; archive: $(stat -c %s "$work/archive.7z") bytes"

# Prints "wall cpu" seconds of the command (cpu: user + system), so a busy machine shows in the gap.
measure() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f\n", a / b }'; }

# One checked run first: our output must equal the input tree.
rm -rf "$work/out"
"$ours" "$work/archive.7z" "$work/out" >/dev/null
diff -r -q "$work/data" "$work/out" >/dev/null || { echo "extract_bench output differs from the input" >&2; exit 1; }

declare -A wall cpu
names=(ours 7zz 7zz-mmt1)
run() {  # name, command...
  local name="$1"; shift
  rm -rf "$work/out"
  read -r w c < <(measure "$@")
  wall[$name]+="$w "; cpu[$name]+="$c "
}
for ((i = 0; i < runs; ++i)); do
  run ours "$ours" "$work/archive.7z" "$work/out"
  run 7zz 7zz x -y -bd -o"$work/out" "$work/archive.7z"
  run 7zz-mmt1 7zz x -y -bd -mmt=1 -o"$work/out" "$work/archive.7z"
done
rm -rf "$work/out"
echo "runs: $runs (wall seconds; cpu = user + system)"
declare -A wallMedian cpuMedian
for name in "${names[@]}"; do
  wallMedian[$name]=$(printf '%s\n' ${wall[$name]} | median)
  cpuMedian[$name]=$(printf '%s\n' ${cpu[$name]} | median)
  printf '%-9s wall %s median %s | cpu median %s\n' "$name" "${wall[$name]}" "${wallMedian[$name]}" "${cpuMedian[$name]}"
done
echo "ratio ours / 7zz x:        wall $(ratio "${wallMedian[ours]}" "${wallMedian[7zz]}"), cpu $(ratio "${cpuMedian[ours]}" "${cpuMedian[7zz]}")"
echo "ratio ours / 7zz x -mmt=1: wall $(ratio "${wallMedian[ours]}" "${wallMedian[7zz-mmt1]}"), cpu $(ratio "${cpuMedian[ours]}" "${cpuMedian[7zz-mmt1]}")"
