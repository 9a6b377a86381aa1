#!/usr/bin/env bash
# Runs e2e_tests.exe against Skiplane.exe under Wine, in a virtual desktop on a private X server.
# usage: run_e2e.sh <build-dir> [e2e_tests.exe] [Skiplane.exe] [extra test arguments...]
set -u

build="$(cd "${1:?usage: run_e2e.sh <build-dir> [e2e_tests.exe] [Skiplane.exe]}" && pwd)"
tests="${2:-$build/tests/e2e/e2e_tests.exe}"
exe="${3:-$build/Skiplane.exe}"
shift $(( $# < 3 ? $# : 3 ))
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

for f in "$tests" "$exe"; do
  [ -f "$f" ] || { echo "run_e2e: missing $f" >&2; exit 1; }
done

# shellcheck source=../../scripts/wine-env.sh
source "$root/scripts/wine-env.sh" "$build/e2e-wineprefix"
trap 'wineserver -k >/dev/null 2>&1' EXIT
wine_prefix_setup || { echo "run_e2e: Wine prefix setup failed" >&2; exit 1; }

artifacts="$(cd "$(dirname "$tests")" && pwd)/e2e-artifacts"
mkdir -p "$artifacts"
rm -f "$artifacts"/*.bmp "$artifacts"/*.png

xvfb-run -a -s "-screen 0 1024x768x24" \
  wine "$tests" --skiplane="$exe" --artifacts="$artifacts" "$@"
rc=$?

for bmp in "$artifacts"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp" && echo "run_e2e: screenshot ${bmp%.bmp}.png"
done
wineserver -k >/dev/null 2>&1
exit $rc
