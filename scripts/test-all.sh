#!/usr/bin/env bash
# Builds every configuration and runs every test: the host build's unit and scenario tests, the
# same under ThreadSanitizer, a short run of each fuzz target, then the Windows build's unit
# tests and end-to-end tests under Wine on a virtual display, the real kcptun tunnel among them.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

echo "== host build (Linux, headless platform)"
cmake -S . -B build/host -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/host -j2
(cd build/host && ctest --output-on-failure)

echo "== host tests under ThreadSanitizer"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKIPLANE_TSAN=ON >/dev/null
cmake --build build/tsan -j2
(cd build/tsan && TSAN_OPTIONS="halt_on_error=1" ctest --output-on-failure)

echo "== fuzz targets (clang, libFuzzer, AddressSanitizer, UBSan), 10 s each"
bash scripts/fuzz.sh 10

echo "== Windows build (MinGW-w64 i686, Win32 platform, tests under Wine)"
cmake -S . -B build/win -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build/win -j2
# The real kcptun client for the tunnel case, from Debian's sources.
bash scripts/build-kcptun.sh build/win/kcptun
source scripts/wine-env.sh "$PWD/build/win/wineprefix"
wine_prefix_setup
status=0
(cd build/win && xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure) || status=$?
wineserver -k 2>/dev/null || true
exit $status
