#!/usr/bin/env bash
# Native installation benchmark: the engine installs an unpacked data folder of 5,000 files (300 MB of
# mixed content: text-like, zeros, incompressible; many small files, some large; deterministic) with
# undo logging and uninstalls it, against a plain CopyFileW copy of the same tree, all under Wine on the
# prefix's C: drive. Prints per-run times, the medians (files/s, MB/s) and the install/copy ratio.
#   bench/run-native-install.sh [runs (5)] [build folder (build/win64)]
# ORV_WINEPREFIX picks the Wine prefix (default: the project's). A prefix of its own, copied from the
# project's, keeps other Wine programs running at the same time out of the figures.
# The data stays in the prefix's drive_c/orv-native-bench between invocations; delete it to make it anew.
set -euo pipefail
runs="${1:-5}"
build="${2:-build/win64}"
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
export ORV_WINEPREFIX="${ORV_WINEPREFIX:-$HOME/.cache/orvane/wineprefix}" WINEDEBUG=-all
export WINEPREFIX="$ORV_WINEPREFIX"

[ -f "$build/build.ninja" ] || cmake --preset win64 -B "$build" >/dev/null
ninja -C "$build" -j2 native_install_bench >/dev/null
bench="$build/tests/native_install_bench.exe"

work="$WINEPREFIX/drive_c/orv-native-bench"
mkdir -p "$work"
if [ ! -f "$work/data.stamp" ]; then
  rm -rf "$work/data"
  python3 - "$work/data" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(4242)
total_files, total_bytes = 5000, 300 * 1024 * 1024
# Sizes: mostly small files, a tenth of middling ones, a few large; scaled to the total exactly.
sizes = []
for i in range(total_files):
    r = rng.random()
    if r < 0.85: sizes.append(rng.randint(512, 40 * 1024))
    elif r < 0.98: sizes.append(rng.randint(64 * 1024, 512 * 1024))
    else: sizes.append(rng.randint(2 * 1024 * 1024, 8 * 1024 * 1024))
scale = total_bytes / sum(sizes)
sizes = [max(1, int(s * scale)) for s in sizes]
sizes[-1] += total_bytes - sum(sizes)
words = [("".join(rng.choice("etaoinshrdlucmfwyp") for _ in range(rng.randint(2, 9)))) for _ in range(3000)]
def content(size):
    kind = rng.random()
    if kind < 0.45:
        line = " ".join(rng.choices(words, k=64)).encode() + b"\r\n"
        return (line * (size // len(line) + 1))[:size]
    if kind < 0.6:
        return bytes(size)
    return os.urandom(size)
folders = [""] + [os.path.join(f"dir{a:02d}", f"sub{b}") for a in range(25) for b in range(4)] + [f"dir{a:02d}" for a in range(25)]
for i, size in enumerate(sizes):
    folder = folders[i % len(folders)]
    os.makedirs(os.path.join(root, folder), exist_ok=True)
    with open(os.path.join(root, folder, f"file{i:05d}.{rng.choice(['dll', 'txt', 'dat', 'png', 'xml'])}"), "wb") as f:
        f.write(content(size))
PY
  touch "$work/data.stamp"
fi

# The server and Wine's background services start detached first: started by the benchmark itself they
# would keep its output open after it ends.
/usr/lib/wine/wineserver -p 300 </dev/null >/dev/null 2>&1 || true
scripts/wine-run wineboot -u </dev/null >/dev/null 2>&1
scripts/wine-run "$bench" 'C:\orv-native-bench\data' 'C:\orv-native-bench\work' "$runs"
