#!/usr/bin/env bash
# Sets up what is missing, builds and runs the whole test suite: the debug
# build first, then the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the concurrency tests under
# ThreadSanitizer, and last the fuzzers for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh

run_preset() {
  local preset=$1
  shift
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" "$@"
  echo "== $preset: tests"
  ctest --preset "$preset"
}

run_preset debug
run_preset asan
run_preset tsan --target korvane_api_tests

echo "== fuzz: configure, build and run each fuzzer for ${KORVANE_FUZZ_SECONDS:=30} s"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
fuzz/run.sh build/fuzz "$KORVANE_FUZZ_SECONDS"
