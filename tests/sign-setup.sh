#!/usr/bin/env bash
# Signs the setup that the SignedSetup.Prepare test left in the Wine prefix with a throw-away
# certificate, as a publisher would after building.
set -euo pipefail
prefix="${ORV_WINEPREFIX:-$HOME/.cache/orvane/wineprefix}"
dir="$prefix/drive_c/orvtest-signed"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Orvane Test Publisher" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Test Setup" \
  -in "$dir/setup.exe" -out "$work/signed.exe" >/dev/null
mv "$work/signed.exe" "$dir/setup.exe"
