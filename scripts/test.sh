#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: unit and integration tests in a
# warnings-as-errors build, again under address+undefined and thread sanitizers, then each
# libFuzzer target for a bounded time, then the Windows build's tests under Wine.
# ZUVO_QUICK=1 runs only the first build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
fuzz_seconds=${ZUVO_FUZZ_SECONDS:-20}

run_preset() {
  local preset=$1; shift
  echo "=== $preset ==="
  cmake --preset "$preset" "$@" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
}

run_preset debug -DZUVO_WERROR=ON
if [ "${ZUVO_QUICK:-0}" != 1 ]; then
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_preset asan
  TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" run_preset tsan

  echo "=== fuzz (${fuzz_seconds}s each) ==="
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
  for target in build/fuzz/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=fuzz/corpus/$name
    mkdir -p "build/fuzz/corpus/$name"
    seeds=()
    [ -d "$corpus" ] && seeds+=("$corpus")
    echo "--- $name"
    "$target" -max_total_time="$fuzz_seconds" -print_final_stats=0 \
      "build/fuzz/corpus/$name" "${seeds[@]}" 2>&1 | tail -n 3
  done

  echo "=== windows (under Wine) ==="
  cmake --preset windows -DZUVO_WERROR=ON >/dev/null
  cmake --build --preset windows -j "$jobs"
  # One Wine server for the whole run, in the build folder's prefix; stopped however the
  # tests end.
  trap 'scripts/wine.sh stop build/windows' EXIT
  scripts/wine.sh start build/windows
  ctest --preset windows -j "$jobs"
  scripts/wine.sh stop build/windows
  trap - EXIT
fi
echo "All tests passed."
