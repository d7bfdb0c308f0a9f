#!/usr/bin/env bash
# Sets up what is missing, builds the library and its tools, and shows them
# at work against the scripted daemon, in a private runtime folder:
#  1. a daemon link, frame by frame;
#  2. the korvane tool driving the daemon program through the exports, and
#     the shell extension's menu for a folder.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
echo "== Building (release preset)"
cmake --preset release >/dev/null
cmake --build --preset release --target korvane_link_demo korvane_cli korvane_scripted_daemon
bin=build/release/bin

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work
export KORVANE_TEST_DAEMON_LOG=$work/daemon.log
export KORVANE_TEST_DAEMON_SCRIPT=$work/daemon.script
# The scripted daemon answers error-text requests (code 23) with this text, and
# the activation list (code 6, which the tool asks to learn that a daemon
# serves) with an empty one.
{
  printf '23 reply %s\n' "$(printf 'The share is offline.' | od -An -tx1 | tr -d ' \n')"
  printf '6 reply\n'
} >"$KORVANE_TEST_DAEMON_SCRIPT"

echo
echo "== 1. A daemon link and the frames it sends"
"$bin/korvane_link_demo"

step() {
  echo
  echo "\$ korvane $*"
  "$bin/korvane" "$@" && echo "(exit 0)" || echo "(exit $?)"
}

echo
echo "== 2. The korvane tool and the daemon program beside the library"
step stop-daemon
step start-daemon
sleep 0.5
step get-error-text E_OFFLINE
mkdir -p "$work/Shared folder"
step menu "$work/Shared folder"
step menu "$work/Shared folder" --invoke verb:share
step stop-daemon
sleep 0.2
echo
echo "What the daemon program logged (frames in hex):"
sed 's/^/  /' "$KORVANE_TEST_DAEMON_LOG"
