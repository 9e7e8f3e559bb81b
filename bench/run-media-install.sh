#!/usr/bin/env bash
# Media install benchmark: a product of 5,000 files (~300 MB of mixed, deterministic content: text-like,
# code-like, incompressible; many small files and a few large ones) in one LZMA2 media block made by
# 7zz (through orvmake), installed by a complete silent setup under Wine (timed from process start to
# exit) and removed again through its uninstall entry; beside it `7zz x` of the same archive into the
# Wine drive. Several runs, medians, and the ratio install / 7zz x.
#   bench/run-media-install.sh [runs (3)]
#   BENCH_DIR (default /tmp/orv-media-bench) keeps the data between invocations;
#   ORV_WIN64_BUILD (build/win64) and ORV_NATIVE_BUILD (build/native-release) choose the builds.
# Targets: the whole install at most 1.5 x the 7zz extraction; the uninstall under 3 s.
set -euo pipefail
runs="${1:-3}"
work="${BENCH_DIR:-/tmp/orv-media-bench}"
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
win64="${ORV_WIN64_BUILD:-build/win64}"
native="${ORV_NATIVE_BUILD:-build/native-release}"
[ -f "$win64/build.ninja" ] || cmake --preset win64 -B "$win64" >/dev/null
[ -f "$native/build.ninja" ] || cmake --preset native-release -B "$native" >/dev/null
ninja -C "$win64" -j2 orvstub orvlib >/dev/null
ninja -C "$native" -j2 orvmake >/dev/null

mkdir -p "$work"
if [ ! -f "$work/data.stamp" ]; then
  rm -rf "$work/data"
  python3 bench/make-media-tree.py "$work/data"
  touch "$work/data.stamp"
  rm -rf "$work/setup"
fi

cat > "$work/bench.orvp" <<EOF
# The benchmark product: every file of the block into TARGETDIR; removal through the uninstall entry.
title = Orvane Media Bench
version = 1.0
media BENCH = $work/data
Set Variable: NATIVE_ENGINE | TRUE
Set Variable: DELAYUNTIL_APPLYCHANGES | TRUE
If: REMOVE | 4 | TRUE | FALSE
  Apply Changes: "" | RESULT | FALSE | TRUE
Else
  Install Files: BENCH | * | \$TARGETDIR\$ | FALSE | FALSE | FALSE | TRUE | | FALSE | FALSE | FALSE | FALSE
  Apply Changes: "" | RESULT | TRUE | FALSE
End
If: RESULT | 4 | COMPLETE | TRUE
  Terminate with Exit Code: 1
End
Terminate Install
EOF
if [ ! -f "$work/setup/BENCH.7zip" ] || [ "$native/tools/orvmake" -nt "$work/setup/setup.exe" ] ||
   [ "$win64/src/orvstub.exe" -nt "$work/setup/setup.exe" ]; then
  rm -rf "$work/setup"; mkdir -p "$work/setup"
  "$native/tools/orvmake" "$work/bench.orvp" --stub "$win64/src/orvstub.exe" --out "$work/setup" >/dev/null
fi
cp "$win64/src/orv.lib" "$work/setup/"
echo "data: $(find "$work/data" -type f | wc -l) files, $(du -sb "$work/data" | cut -f1) bytes; archive: $(stat -c %s "$work/setup/BENCH.7zip") bytes"

export WINEPREFIX="${ORV_WINEPREFIX:-$HOME/.cache/orvane/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
/usr/lib/wine/wineserver -p 600 </dev/null >/dev/null 2>&1 || true
$wine cmd /c exit </dev/null >/dev/null 2>&1 || true  # the server and its services up before timing

drive="$WINEPREFIX/drive_c"
target='C:\orv-media-bench'
uninstall_key='HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Orvane Media Bench'
# Empty when the product is not registered (the query's failure is the normal answer then).
uninstall_line() { { $wine reg query "$uninstall_key" /v UninstallString 2>/dev/null || true; } | tr -d '\r' | sed -n 's/^ *UninstallString *REG_SZ *//p'; }
# Runs the uninstall entry's command line silently, in the cache folder (as the list of programs would).
run_uninstall() {
  local line="$1" program
  program="${line#\"}"; program="${program%%\"*}"
  (cd "$(winepath -u "${program%\\*}" 2>/dev/null)" && eval "$wine $(printf '%s' "$line" | sed 's/\\/\\\\/g') /s" </dev/null)
}
leftover="$(uninstall_line)"
[ -z "$leftover" ] || run_uninstall "$leftover" >/dev/null 2>&1 || true

seconds() { local TIMEFORMAT='%R'; { time "$@" >/dev/null 2>&1; } 2>&1; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

sevenzip="" install="" uninstall=""
for ((i = 0; i < runs; ++i)); do
  rm -rf "$drive/orv-media-bench-7zz"; sync
  sevenzip+="$(seconds 7zz x -y -bd -o"$drive/orv-media-bench-7zz" "$work/setup/BENCH.7zip") "
  rm -rf "$drive/orv-media-bench-7zz" "$drive/orv-media-bench"; sync

  t="$(seconds $wine "$work/setup/setup.exe" /s "TARGETDIR=$target")"
  count="$(find "$drive/orv-media-bench" -type f 2>/dev/null | wc -l)"
  [ "$count" = 5000 ] || { echo "run $i: the install placed $count files, not 5000" >&2; exit 1; }
  install+="$t "
  line="$(uninstall_line)"
  [ -n "$line" ] || { echo "run $i: no uninstall entry" >&2; exit 1; }
  sync
  t="$(seconds run_uninstall "$line")"
  [ ! -e "$drive/orv-media-bench" ] || { echo "run $i: the uninstall left the target folder" >&2; exit 1; }
  [ -z "$(uninstall_line)" ] || { echo "run $i: the uninstall left its entry" >&2; exit 1; }
  uninstall+="$t "
done

m7=$(printf '%s\n' $sevenzip | median); mi=$(printf '%s\n' $install | median); mu=$(printf '%s\n' $uninstall | median)
echo "runs: $runs (wall seconds)"
echo "7zz x into the Wine drive: $sevenzip median $m7"
echo "silent install:            $install median $mi"
echo "uninstall:                 $uninstall median $mu"
awk -v i="$mi" -v s="$m7" -v u="$mu" 'BEGIN {
  printf "ratio install / 7zz x: %.2f (target at most 1.50: %s)\n", i / s, (i / s <= 1.5) ? "met" : "missed"
  printf "uninstall: %.2f s (target under 3 s: %s)\n", u, (u < 3) ? "met" : "missed" }'
