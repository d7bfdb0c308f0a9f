#!/usr/bin/env bash
# What `cmake --install` gives a user: every file in its place, the library
# exporting exactly its export table, a C program built against it through
# pkg-config and through find_package(Korvane), and a working korvane tool
# with its completion that starts and stops the installed daemon.
#   check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
work=$(mktemp -d)
# The daemon's socket path must fit in sun_path, whatever TMPDIR is.
run=$(mktemp -d /tmp/korvane-install-XXXXXX)
daemon_pid=
finish() {
  if [[ -n $daemon_pid ]] && kill -0 "$daemon_pid" 2>/dev/null; then kill -KILL "$daemon_pid" 2>/dev/null || true; fi
  rm -rf "$work" "$run"
}
trap finish EXIT
prefix=$work/prefix
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
libdir=${libdir:-lib}

# ---- Every file in its place
expected=(
  "$libdir/libkorvane.so.1.0.0"
  "$libdir/libkorvane.so.1 -> libkorvane.so.1.0.0"
  "$libdir/libkorvane.so -> libkorvane.so.1"
  "$libdir/libkorvane-win32.so.1.0.0"
  "$libdir/libkorvane-win32.so.1 -> libkorvane-win32.so.1.0.0"
  include/korvane/korvane.h
  "$libdir/pkgconfig/korvane.pc"
  "$libdir/cmake/Korvane/KorvaneConfig.cmake"
  "$libdir/cmake/Korvane/KorvaneConfigVersion.cmake"
  "$libdir/cmake/Korvane/KorvaneTargets.cmake"
  bin/korvane
  share/bash-completion/completions/korvane
  share/man/man1/korvane.1
)
for entry in "${expected[@]}"; do
  file=${entry%% -> *}
  if [[ ! -e $prefix/$file ]]; then
    fail "$file is not installed"
  elif [[ $entry == *" -> "* && $(readlink "$prefix/$file") != "${entry##* -> }" ]]; then
    fail "$file links to $(readlink "$prefix/$file"), not ${entry##* -> }"
  fi
done
[[ $(ls "$prefix/bin") == korvane ]] || fail "bin/ holds more than korvane: $(ls "$prefix/bin" | tr '\n' ' ')"
# The tool is a program on the shipped library: a file of its own in bin/,
# linked to libkorvane.so.1, carrying none of the library's code.
tool_file=$prefix/bin/korvane
if [[ -L $tool_file || ! -f $tool_file || ! -x $tool_file ]]; then
  fail "bin/korvane is not an executable regular file"
else
  loaded=$(ldd "$tool_file" | sed -n 's/^[[:space:]]*libkorvane\.so\.1 => \([^ ]*\) .*/\1/p')
  [[ -n $loaded && $(realpath "$loaded") == "$(realpath "$prefix/$libdir/libkorvane.so.1")" ]] ||
    fail "bin/korvane does not load the installed libkorvane.so.1: $(ldd "$tool_file" | tr '\n' ' ')"
  defined=$(nm -C --defined-only "$tool_file" | grep -E ' korvane::(platform|text|runtime|protocol|svn|link|shell|api|posix)::' || true)
  [[ -z $defined ]] || fail "bin/korvane defines the library's code: $(head -3 <<<"$defined" | tr '\n' ' ')"
fi
# The stand-in exports the Windows calls and its own functions, under its own
# version node, and nothing of the C++ runtime.
stand_in=$prefix/$libdir/libkorvane-win32.so.1
others=$(nm -D --defined-only "$stand_in" | awk '$3 !~ /@@KORVANE_WIN32_1$/ && $3 != "KORVANE_WIN32_1" {print $3}')
[[ -z $others ]] || fail "the stand-in exports outside its version node: $(head -3 <<<"$others" | tr '\n' ' ')"
runtime_exports=$(nm -DC --defined-only "$stand_in" | grep -E '^[0-9a-f]+ [A-Za-z] (std::|__gnu_cxx::|typeinfo |vtable |VTT |guard variable )' || true)
[[ -z $runtime_exports ]] || fail "the stand-in exports C++ runtime code: $(head -3 <<<"$runtime_exports" | tr '\n' ' ')"
# A daemon program belongs beside the library, and the scripted daemon nowhere.
while IFS= read -r daemon; do
  [[ $daemon == "$prefix/$libdir/KorvaneBkgProc" ]] || fail "daemon program installed at $daemon"
  ! grep -q KORVANE_TEST_DAEMON_SCRIPT "$daemon" || fail "the scripted daemon is installed at $daemon"
done < <(find "$prefix" -name 'KorvaneBkgProc*')

# ---- Exactly the exports of the export table
expected_exports=$(grep -E '^[[:space:]]+[A-Za-z_]+[[:space:]]+@[0-9]+' "$source_dir/src/api/korvane.def" | awk '{print $1}' | sort)
actual_exports=$(nm -D --defined-only "$prefix/$libdir/libkorvane.so" | awk '{print $3}' | sort)
[[ $(wc -l <<<"$expected_exports") -eq 26 ]] || fail "the export table does not list 26 exports"
[[ $expected_exports == "$actual_exports" ]] || fail "installed exports differ: $(diff <(echo "$expected_exports") <(echo "$actual_exports") | tr '\n' ' ')"

# ---- A C program built against the installed package, two ways
mkdir -p "$work/consumer"
cat >"$work/consumer/main.c" <<'EOF'
#include <korvane/korvane.h>
#include <stdio.h>
int main(void) {
  printf("%d\n", (int)Korvane_IsVersioned(u"/"));
  return 0;
}
EOF
cat >"$work/consumer/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(KorvaneConsumer LANGUAGES C)
find_package(Korvane 1.0 REQUIRED)
add_executable(consumer main.c)
target_link_libraries(consumer PRIVATE Korvane::korvane)
EOF
# A library built with sanitizers needs their runtimes loaded first.
runtime=(LD_LIBRARY_PATH="$prefix/$libdir" KORVANE_DEBUG_OUTPUT="$work/trace.log" XDG_CONFIG_HOME="$work/config")
preload=$(readelf -d "$prefix/$libdir/libkorvane.so" | grep -oE 'lib(asan|tsan|ubsan)\.so[.0-9]*' | tr '\n' ' ' || true)
[[ -z $preload ]] || runtime+=(LD_PRELOAD="$preload" ASAN_OPTIONS=detect_leaks=0)
run_consumer() { env "${runtime[@]}" "$@"; }

# shellcheck disable=SC2086 # the flags are words
if ! flags=$(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --cflags --libs korvane); then
  fail "pkg-config does not find korvane.pc"
elif ! cc -std=c11 -Wall -Werror -o "$work/by_pkg_config" "$work/consumer/main.c" $flags; then
  fail "the program does not build with the flags of pkg-config: $flags"
elif [[ $(run_consumer "$work/by_pkg_config") != 0 ]]; then
  fail "the program built through pkg-config does not print 0"
fi
# Under C99 the header declares everything but the text macro, which needs C11.
printf '#include <korvane/korvane.h>\nint main(void) { return KORVANE_VERSION_MAJOR == 0; }\n' >"$work/consumer/c99.c"
cc -std=c99 -pedantic-errors -Wall -Werror -fsyntax-only -I"$prefix/include" "$work/consumer/c99.c" ||
  fail "the header does not compile as C99"
if cmake -S "$work/consumer" -B "$work/consumer/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >"$work/consumer.log" 2>&1 &&
  cmake --build "$work/consumer/build" >>"$work/consumer.log" 2>&1; then
  [[ $(run_consumer "$work/consumer/build/consumer") == 0 ]] ||
    fail "the program built through find_package does not print 0"
else
  cat "$work/consumer.log"
  fail "find_package(Korvane) does not give a program that links"
fi

# ---- The installed tool, its completion and its manual page
"$prefix/bin/korvane" --help | grep -q '^  svn-checkout-wait ' || fail "the installed korvane --help does not list its subcommands"
completion_cases=(
  "korvane get-s|get-status"
  "korvane --json svn-c|svn-checkout-wait svn-commit"
  "korvane menu /x --invoke verb : sh|share shareteam"
  "korvane menu /x --b|--background"
)
for case in "${completion_cases[@]}"; do
  line=${case%%|*}
  got=$(PATH="$prefix/bin:$PATH" bash -c '
    source "$1"
    read -ra COMP_WORDS <<<"$2"
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _korvane
    echo "${COMPREPLY[*]}"' _ "$prefix/share/bash-completion/completions/korvane" "$line")
  [[ $got == "${case##*|}" ]] || fail "completing '$line' gives '$got', not '${case##*|}'"
done
if command -v groff >/dev/null; then
  warnings=$(groff -man -ww -z "$prefix/share/man/man1/korvane.1" 2>&1)
  [[ -z $warnings ]] || fail "the manual page does not render cleanly: $warnings"
fi

# ---- The installed tool starts and stops the installed daemon
# Only when the tree installs a daemon program (the reference daemon).
if [[ -x $prefix/$libdir/KorvaneBkgProc ]]; then
  daemon_env=(XDG_RUNTIME_DIR="$run" XDG_STATE_HOME="$work/state" XDG_CONFIG_HOME="$work/config"
    TMPDIR="$work" KORVANE_DEBUG_OUTPUT="$work/tool-trace.log")
  # Run as a user runs it: found through PATH.
  tool() { env "${daemon_env[@]}" PATH="$prefix/bin:$PATH" korvane "$@"; }
  # stop-daemon never starts one: exit status 3 says none answers.
  status=0
  tool stop-daemon >/dev/null 2>&1 || status=$?
  if ((status != 3)); then
    fail "a daemon answers in the private runtime folder before any was started"
  elif ! tool start-daemon >"$work/start.log" 2>&1; then
    fail "the installed korvane start-daemon fails: $(cat "$work/start.log")"
  else
    # The daemon serves once it answers.
    for _ in $(seq 200); do
      tool get-activations >/dev/null 2>&1 && break
      sleep 0.05
    done
    # The daemon's log line names its process.
    daemon_pid=$(sed -n '1s/^[^ ]* \([0-9]*\) .*/\1/p' "$work/state/korvane/daemon.log" 2>/dev/null || true)
    if [[ -z $daemon_pid ]]; then
      fail "start-daemon from the installed tree started no daemon that logs into XDG_STATE_HOME"
    elif [[ $(realpath "/proc/$daemon_pid/exe" 2>/dev/null) != "$(realpath "$prefix/$libdir/KorvaneBkgProc")" ]]; then
      fail "the daemon started is $(realpath "/proc/$daemon_pid/exe" 2>/dev/null), not the installed one"
    elif ! tool get-activations >/dev/null 2>&1; then
      fail "the daemon started from the installed tree does not answer"
    fi
    if ! tool stop-daemon >"$work/stop.log" 2>&1; then
      fail "the installed korvane stop-daemon fails: $(cat "$work/stop.log")"
    fi
    if [[ -n $daemon_pid ]]; then
      for _ in $(seq 200); do
        kill -0 "$daemon_pid" 2>/dev/null || break
        sleep 0.05
      done
      ! kill -0 "$daemon_pid" 2>/dev/null || fail "the daemon still runs 10 s after stop-daemon"
    fi
    status=0
    tool stop-daemon >/dev/null 2>&1 || status=$?
    ((status == 3)) || fail "a daemon still answers after stop-daemon"
  fi
fi

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "install into $prefix: files, exports, pkg-config, find_package, tool and completion all check out"
