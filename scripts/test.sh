#!/usr/bin/env bash
# Sets up what is missing, builds and runs the whole test suite: the debug
# build first, then the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the concurrency tests under
# ThreadSanitizer, then the fuzzers for a bounded time; last the Windows DLL,
# cross-built with mingw-w64, with its tests run under Wine, and the
# installed product end to end under Wine.
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
# The tests whose threads race: the exports, the link's process-wide
# hold-off, the working-copy queries and pools, the daemon's batched writes.
run_preset tsan --target korvane_api_tests korvane_link_tests korvane_svn_tests korvane_reference_tests \
  korvane_reference_daemon korvane_scripted_daemon

echo "== fuzz: configure, build and run each fuzzer for ${KORVANE_FUZZ_SECONDS:=30} s"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
fuzz/run.sh build/fuzz "$KORVANE_FUZZ_SECONDS"

echo "== windows-release: Subversion and APR for Windows (cached by version)"
KORVANE_WINDOWS_DEPS=$(scripts/build-windows-deps.sh | tail -n 1)
export KORVANE_WINDOWS_DEPS
echo "$KORVANE_WINDOWS_DEPS"

# A fresh Wine prefix for the run, booted once before the tests start, and
# one persistent wineserver that every test program shares.
export WINEPREFIX=$PWD/build/wine-prefix
/usr/lib/wine/wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
scripts/wine-run.sh cmd.exe /c exit >/dev/null
run_preset windows-release

# The installed product end to end under Wine: the installer, the shell's
# menus, the daemon, sync between two folders, a login and the uninstaller,
# in a prefix and wineserver of its own.
echo "== windows-release: the installed product end to end"
scripts/windows-end-to-end.sh build/windows-release
