#!/bin/sh
# Runs every fuzzer of the build for a bounded time each, with its corpus
# kept under the build folder between runs. Exits non-zero when a fuzzer
# finds a crash, a sanitizer report or a hang (the reproducer is left in
# BUILD_DIR/fuzz/artifacts).
# Usage: fuzz/run.sh BUILD_DIR SECONDS
set -eu

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build_dir=$1
seconds=$2
artifacts=$build_dir/fuzz/artifacts
mkdir -p "$artifacts"

seed() {
  corpus=$1
  shift
  [ -z "$(ls -A "$corpus")" ] || return 0
  n=0
  for text in "$@"; do
    n=$((n + 1))
    printf "$text" >"$corpus/seed-$n"
  done
}

found=0
for name in utf reply request registry; do
  fuzzer=$build_dir/bin/korvane_${name}_fuzz
  if [ ! -x "$fuzzer" ]; then
    echo "$0: no $fuzzer; configure and build the fuzz preset" >&2
    exit 2
  fi
  corpus=$build_dir/fuzz/corpus/$name
  mkdir -p "$corpus"
  case $name in
    # A path with a two-byte letter and an emoji, read as UTF-8 or as UTF-16
    # units; a UTF-16 path with a surrogate pair and a lone high surrogate.
    utf) seed "$corpus" 'C:\\Users\\J\303\266rg\\\360\237\230\200-notes.txt' \
           'C\000:\000\\\000\351\000\075\330\000\336\075\330a\000\000\000' ;;
    # Status, error-record and hosting replies.
    reply) seed "$corpus" '1|C:/Work|C:/Work|C:/Work/a' '0|svnAdd|done|0|x' 'x||' '007|op|m| -12|d|extra' ;;
    # A flag byte (1: the packet outgrew the receive buffer), then a packet:
    # a status request, a two-argument request that fits and one that does
    # not, and a header-only stop.
    request) seed "$corpus" '\000\025\000\000\000\001\000\000\000/home/j/work\000' \
               '\000\015\000\000\000\022\000\000\000a|b|\000' '\000\017\000\000\000\022\000\000\000a|b|c|\000' \
               '\000\010\000\000\000\376\000\000\000' ;;
    # A hive file as regedit writes it, in UTF-8, with each kind of value.
    registry) seed "$corpus" '[HKEY_CURRENT_USER\\SOFTWARE\\Korvane]\n@="C:\\\\Work"\n"a"=dword:0000001f\n"b"=hex(7):41,00,\\\n  00,00\n"Debug"=hex:01\n' ;;
  esac
  echo "== fuzzing $name for ${seconds}s"
  "$fuzzer" -max_total_time="$seconds" -timeout=10 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" || found=1
done
exit $found
