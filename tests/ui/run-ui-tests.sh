#!/usr/bin/env bash
# Runs a Windows test program that shows windows: a private Xvfb display for the run, a running wine
# server, then the program under Wine. Usage: run-ui-tests.sh PROGRAM.exe [ARGS...]
set -u
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="${ORV_WINEPREFIX:-$HOME/.cache/orvane/wineprefix}" WINEDEBUG="${WINEDEBUG:--all}"
display=""
for n in $(seq 70 99); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
setsid nohup Xvfb "$display" -screen 0 1024x768x24 </dev/null >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null' EXIT
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
/usr/lib/wine/wineserver -p 300 </dev/null >/dev/null 2>&1
"$here/../../scripts/wine-run" "$@"
