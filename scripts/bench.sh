#!/usr/bin/env bash
# Runs the benchmarks of tests/bench/. Prints how long starting with 1000 nodes and deleting the
# first of them take: three runs of the headless program on Linux, then three runs of the real
# Skiplane.exe under Wine, driven from outside in the same Wine and X set-up as the end-to-end
# tests; then what a client start costs there (click to running state, processor time of the
# two-second check); then start-up timed inside Wine against a program that shows one plain
# window. Figures only.
#
# usage: scripts/bench.sh
#   HOST_BUILD (default build/host) and WIN_BUILD (default build/win, or build/win64 where this
#   machine runs no 32-bit code) choose the build folders;
#   they are configured first when they do not exist yet. JOBS sets the build's parallelism.
# The Wine part uses the Windows build's e2e prefix and ends its wineserver when done, so run
# it while no end-to-end test of that build is running.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
host="${HOST_BUILD:-build/host}"
toolchain=mingw-i686
win="${WIN_BUILD:-build/win}"
if [ -z "${WIN_BUILD:-}" ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  win=build/win64 toolchain=mingw-x86_64
fi
jobs="${JOBS:-2}"
runs=3

echo "== host: headless program, $runs runs"
if [ ! -f "$host/CMakeCache.txt" ]; then
  cmake -S . -B "$host" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$host" -j"$jobs" --target node_bench >/dev/null
"$host/tests/bench/node_bench" --nodes=1000 --runs="$runs"

echo "== wine: Skiplane.exe driven from outside, $runs runs"
if [ ! -f "$win/CMakeCache.txt" ]; then
  cmake -S . -B "$win" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" >/dev/null
fi
cmake --build "$win" -j"$jobs" --target Skiplane e2e_node_bench e2e_client_bench \
  e2e_startup_bench minimal_window >/dev/null
bench="$win/tests/bench"
bash tests/e2e/run_e2e.sh "$win" "$bench/e2e_node_bench.exe" "$win/Skiplane.exe" \
  --nodes=1000 --runs="$runs"

echo "== wine: a client start (fake client), 10 runs"
bash tests/e2e/run_e2e.sh "$win" "$bench/e2e_client_bench.exe" "$win/Skiplane.exe" --runs=10

echo "== wine: start-up against a minimal window, 9 runs"
bash tests/e2e/run_e2e.sh "$win" "$bench/e2e_startup_bench.exe" "$win/Skiplane.exe" \
  --minimal="$bench/minimal_window.exe" --runs=9
