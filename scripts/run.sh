#!/usr/bin/env bash
# Builds Skiplane.exe (build/win) and starts it under Wine. With $DISPLAY set it runs on that
# display until the program ends; without one it runs on a private Xvfb, saves a screenshot,
# prints its path and stops again. On a machine that runs no 32-bit code (some virtual machines)
# Wine runs only 64-bit programs: there it builds and starts the 64-bit build (build/win64).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

bash "$root/scripts/install-deps.sh"
build="$root/build/win" toolchain=mingw-i686
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  build="$root/build/win64" toolchain=mingw-x86_64
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" >/dev/null
fi
cmake --build "$build" --target Skiplane -j2

source "$root/scripts/wine-env.sh" "$build/wineprefix"
wine_prefix_setup
cd "$build"

if [ -n "${DISPLAY:-}" ]; then
  exec wine Skiplane.exe
fi

n=99
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'wineserver -k >/dev/null 2>&1 || true; kill "$xvfb_pid" 2>/dev/null || true' EXIT
export DISPLAY=":$n"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

wine Skiplane.exe >/dev/null 2>&1 &
sleep 6
shot="$build/skiplane-screenshot.png"
import -window root "$shot"
echo "$shot"
