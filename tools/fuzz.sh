#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) into build-fuzz/ and, for
# each target: replays its seed corpus, then fuzzes it for the given seconds
# (default 30) with new inputs kept in a scratch corpus. Any finding fails.
#   tools/fuzz.sh [seconds] [target...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
shift || true
QV_EXTRA_PACKAGES="clang libclang-rt-dev" "$top/tools/setup.sh"
build=${QV_FUZZ_BUILD_DIR:-$top/build-fuzz}
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQV_BUILD_FUZZ=ON -DQV_BUILD_TESTS=OFF -DQV_WITH_GUI=OFF -DQV_WERROR=OFF >/dev/null
targets=("$@")
if ((${#targets[@]} == 0)); then
  for src in "$top"/fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" _fuzz.cpp)"); done
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null
for t in "${targets[@]}"; do
  exe="$build/fuzz/fuzz_$t"
  seeds="$top/fuzz/corpus/$t"
  scratch="$build/corpus/$t"
  mkdir -p "$scratch"
  echo "== $t: replaying $(ls "$seeds" | wc -l) seeds"
  "$exe" -runs=0 "$seeds" 2>&1 | tail -n 1
  if ((seconds > 0)); then
    echo "== $t: fuzzing for ${seconds}s"
    status=0
    "$exe" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/" "$scratch" "$seeds" \
      >"$build/$t.log" 2>&1 || status=$?
    grep -E '^(stat::number_of_executed_units|stat::new_units_added)|ERROR|SUMMARY' "$build/$t.log" || true
    if ((status != 0)); then
      echo "== $t: finding, see $build/$t.log and the crash-* file beside it"
      exit "$status"
    fi
  fi
done
