#!/usr/bin/env bash
# Builds the fuzz targets (build/fuzz: clang, libFuzzer, AddressSanitizer and UBSan over the
# headless build) and runs each for the given seconds, 120 by default, from the seeds in
# tests/fuzz/corpus/<target>/ and what earlier runs kept in build/fuzz/corpus/<target>/.
# Prints each target's executions; exits non-zero on any finding, whose input is kept as
# build/fuzz/artifacts/<target>-crash-... (or -timeout-, -leak-, -oom-).
#   bash scripts/fuzz.sh [seconds] [target...]    targets: text profile renumber http update json
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-120}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(text profile renumber http update json)

cmake -S . -B build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DSKIPLANE_FUZZ=ON >/dev/null
cmake --build build/fuzz -j2 --target $(printf 'fuzz_%s ' "${targets[@]}")

root=$PWD  # absolute paths: the update target's program moves to a folder of its own
mkdir -p build/fuzz/artifacts
status=0
for t in "${targets[@]}"; do
  mkdir -p "build/fuzz/corpus/$t"
  log="build/fuzz/$t.log"
  extra=()
  [ -f "tests/fuzz/$t.dict" ] && extra+=(-dict="$root/tests/fuzz/$t.dict")
  # Each update check's thread frees its last bytes after the check has ended, so a leak check
  # would follow every input; leaks are still looked for when the run ends.
  [ "$t" = update ] && extra+=(-detect_leaks=0)
  # The first folder takes the new inputs; the committed seeds are only read.
  if ! "build/fuzz/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
         "${extra[@]}" -artifact_prefix="$root/build/fuzz/artifacts/$t-" \
         "$root/build/fuzz/corpus/$t" "$root/tests/fuzz/corpus/$t" >"$log" 2>&1; then
    status=1
    echo "== fuzz_$t found something (log: $log):"
    grep -E "ERROR|property broken|runtime error|Test unit written" "$log" | head -20 ||
      tail -30 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  printf '%-9s %12s executions in %s s\n' "$t" "${runs:-?}" "$seconds"
done
exit $status
