#!/usr/bin/env bash
# Builds the demo product (examples/demo) with orvmake and runs its end-to-end cases under Wine: the
# silent install, maintenance and removal (orv_e2e_tests DemoProduct.*), then the wizard walk on a
# private virtual display (orv_ui_tests DemoWizard.*).
#   run-demo-tests.sh ORVMAKE ENGINE.exe ORV.LIB E2E_TESTS.exe UI_TESTS.exe OUT_FOLDER
set -euo pipefail
[ $# -eq 6 ] || { echo "usage: $0 ORVMAKE ENGINE.exe ORV.LIB E2E_TESTS.exe UI_TESTS.exe OUT_FOLDER" >&2; exit 2; }
orvmake="$1" stub="$2" library="$3" e2e="$4" ui="$5" out="$6"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
[ -x "$orvmake" ] || { echo "no orvmake at $orvmake: build the native preset first (or set ORV_ORVMAKE)" >&2; exit 1; }
rm -rf "$out"; mkdir -p "$out"
"$orvmake" "$root/examples/demo/demo.orvp" --stub "$stub" --library "$library" --out "$out"
export ORV_DEMO_SETUP="$out"
"$root/tests/ui/run-ui-tests.sh" "$e2e" --gtest_filter='DemoProduct.*'
"$root/tests/ui/run-ui-tests.sh" "$ui" --gtest_filter='DemoWizard.*'
