#!/usr/bin/env bash
# Runs e2e_tests.exe against Skiplane.exe under Wine, in a virtual desktop on a private X server.
# usage: run_e2e.sh <build-dir> [e2e_tests.exe] [Skiplane.exe] [extra test arguments...]
# It also hands the tests the fake client built beside them, a script that records the web
# pages Wine's browser launcher is asked to open, and, when <build-dir>/kcptun holds the kcptun
# client (scripts/build-kcptun.sh), a Debian kcptun-server on loopback for the tunnel case.
set -u

build="$(cd "${1:?usage: run_e2e.sh <build-dir> [e2e_tests.exe] [Skiplane.exe]}" && pwd)"
tests="${2:-$build/tests/e2e/e2e_tests.exe}"
exe="${3:-$build/Skiplane.exe}"
shift $(( $# < 3 ? $# : 3 ))
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

for f in "$tests" "$exe"; do
  [ -f "$f" ] || { echo "run_e2e: missing $f" >&2; exit 1; }
done

# E2E_LOG_PIXELS: the screen's DPI (Wine's LogPixels). Any other than 96 gets a prefix of its
# own, so that the 96-DPI prefix is never left at another scale.
dpi="${E2E_LOG_PIXELS:-96}"
prefix="$build/e2e-wineprefix"
[ "$dpi" = 96 ] || prefix="$build/e2e-wineprefix-${dpi}dpi"
# shellcheck source=../../scripts/wine-env.sh
source "$root/scripts/wine-env.sh" "$prefix"
server_pid="" plain_pid=""
trap 'wineserver -k >/dev/null 2>&1; kill $server_pid $plain_pid 2>/dev/null' EXIT
wine_prefix_setup || { echo "run_e2e: Wine prefix setup failed" >&2; exit 1; }
if [ "$dpi" != 96 ]; then
  # Read when a session starts: written, then the session ended.
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null &&
    wineserver -w || { echo "run_e2e: LogPixels not set" >&2; exit 1; }
fi

# Screenshots go to E2E_ARTIFACTS, by default e2e-artifacts beside the tests; a run clears its own.
artifacts="${E2E_ARTIFACTS:-$(cd "$(dirname "$tests")" && pwd)/e2e-artifacts}"
mkdir -p "$artifacts"
rm -f "$artifacts"/*.bmp "$artifacts"/*.png

extra=(--fake-client="$build/tests/e2e/fake_client.exe")

browser="$build/e2e-browser.sh"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >> "$(dirname "$0")/e2e-browser.log"\n' > "$browser"
chmod +x "$browser"
extra+=(--browser="$browser")

kcptun="$build/kcptun/kcptun-client.exe"
if [ -f "$kcptun" ] && command -v kcptun-server >/dev/null; then
  # UDP for the tunnel, TCP behind it (the tests' echo server, and the client on the next port).
  tunnel=$((30000 + RANDOM % 10000)) target=$((40000 + RANDOM % 10000))
  kcptun-server -t "127.0.0.1:$target" -l "127.0.0.1:$tunnel" -key skiplane-e2e \
    >"$build/kcptun-server.log" 2>&1 &
  server_pid=$!
  # A second one without crypt or FEC, on the next port.
  kcptun-server -t "127.0.0.1:$target" -l "127.0.0.1:$((tunnel + 1))" -key skiplane-e2e \
    -crypt none -ds 0 -ps 0 >"$build/kcptun-server-plain.log" 2>&1 &
  plain_pid=$!
  extra+=(--kcptun="$kcptun" --tunnel-server="$tunnel" --tunnel-target="$target")
fi

xvfb-run -a -s "-screen 0 1024x768x24" \
  wine "$tests" --skiplane="$exe" --artifacts="$artifacts" "${extra[@]}" "$@"
rc=$?

for bmp in "$artifacts"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp" && echo "run_e2e: screenshot ${bmp%.bmp}.png"
done
wineserver -k >/dev/null 2>&1
exit $rc
