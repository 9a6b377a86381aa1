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
win=build/win
source scripts/wine-env.sh "$PWD/build/win/wineprefix"
if ! wine_runs_32bit; then
  # This machine runs no 32-bit code, so Wine cannot run the 32-bit program: its size is checked
  # here, and the Windows tests run on the same sources built for 64-bit Windows, under wine64.
  echo "== this machine runs no 32-bit code: the Windows tests run on the 64-bit build (build/win64)"
  (cd build/win && ctest --output-on-failure -R 'exe_size|layers_look_down')
  cmake -S . -B build/win64 -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  cmake --build build/win64 -j2
  win=build/win64
  source scripts/wine-env.sh "$PWD/build/win64/wineprefix"
fi
# The real kcptun client for the tunnel cases, from Debian's sources, as wide as the program.
KCPTUN_GOARCH=$([ "$win" = build/win ] && echo 386 || echo amd64) \
  bash scripts/build-kcptun.sh "$win/kcptun"
wine_prefix_setup
status=0
# The 64-bit program's size is no measure of the product's, checked above.
(cd "$win" && xvfb-run -a -s "-screen 0 1024x768x24" \
   ctest --output-on-failure $([ "$win" = build/win ] || echo "-E exe_size")) || status=$?
wineserver -k 2>/dev/null || true
exit $status
