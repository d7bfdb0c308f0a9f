#!/usr/bin/env bash
# The product end to end on this machine: sets up what is missing, builds,
# installs into a local prefix, and runs a short scenario through the
# korvane tool against the reference daemon, in private folders:
# start the daemon, create a space, share a folder, check it out elsewhere,
# change a file there and commit it, show status and activations, stop.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-dependencies.sh
echo "== Building (release preset) and installing into build/release/prefix"
cmake --preset release >/dev/null
cmake --build --preset release
prefix=$root/build/release/prefix
rm -rf "$prefix"
cmake --install build/release --prefix "$prefix" >/dev/null
korvane=$prefix/bin/korvane

work=$(mktemp -d)
cleanup() {
  "$korvane" stop-daemon >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$work/run XDG_STATE_HOME=$work/state XDG_DATA_HOME=$work/data
export KORVANE_COMMIT_QUIET_MS=500
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

step() {
  echo
  printf '$ korvane'
  printf ' %q' "$@"
  printf '\n'
  "$korvane" "$@"
}

# Waits until the condition command succeeds (at most 20 s).
wait_for() {
  for _ in $(seq 200); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "gave up waiting for: $*" >&2
  return 1
}

echo
echo "== The scenario (working folder $work)"
step start-daemon
wait_for "$korvane" get-activations

step create-space Handbook "The team handbook" alice

mkdir -p "$work/Notes"
echo "First notes." >"$work/Notes/today.txt"
echo
echo "Sharing $work/Notes through the shell extension's \"Share on Halcyra\":"
step menu "$work/Notes" --invoke verb:share
wait_for "$korvane" is-versioned "$work/Notes"
step is-versioned "$work/Notes"
step list-spaces
url=$("$korvane" --json show-space Notes | sed -n 's/.*"url": *"\([^"]*\)".*/\1/p')
echo "The space Notes is at $url"

step svn-checkout-wait "$url" "$work/Elsewhere"
echo "More notes, written elsewhere." >>"$work/Elsewhere/today.txt"
step svn-commit "$work/Elsewhere"

step get-status "$work/Notes"
step activate-path "$work/Elsewhere" 3
step get-activations
step stop-daemon
echo
echo "== Done. The daemon logged:"
sed 's/^/  /' "$XDG_STATE_HOME/korvane/daemon.log"
