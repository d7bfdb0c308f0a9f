#!/usr/bin/env bash
# Sharing and checking out a large folder through a team server, beside
# plain svn doing the same over the same server, in one run: a folder of
# FILES files (default 2000) of 25 KiB each (50 MB) is imported and checked
# out with svn, then shared by one daemon ("Share on Halcyra") and checked
# out by another ("Checkout from Halcyra"). Prints each time and the ratio.
#
#   bench/team_share_bench.sh [BUILD_FOLDER]   (default build/debug)
set -euo pipefail
source_folder=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_folder/build/debug}" && pwd)
files=${FILES:-2000}
top=$(mktemp -d /tmp/korvane-share-bench-XXXXXX)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cleanup() {
  for machine in ann bob; do
    [ -f "$top/$machine.pid" ] && kill "$(cat "$top/$machine.pid")" 2>/dev/null || true
  done
  "$source_folder/scripts/team-server.sh" stop "$top/server" >/dev/null 2>&1 || true
  rm -rf "$top"
}
trap cleanup EXIT

url=$("$source_folder/scripts/team-server.sh" start "$top/server" "$port" ann:ann-secret bob:bob-secret | tail -1)
realm="<svn://127.0.0.1:$port> korvane-team"

machine() {  # NAME PASSWORD: folders, credentials, daemon.conf, daemon
  local name=$1 password=$2 home=$top/$1
  mkdir -p "$home"/{run,state,data,config/korvane,svn/auth/svn.simple,tmp,files}
  chmod 0700 "$home/run"
  printf '[auth]\npassword-stores =\n' >"$home/svn/config"
  printf 'K 8\npasstype\nV 6\nsimple\nK 8\npassword\nV %d\n%s\nK 15\nsvn:realmstring\nV %d\n%s\nK 8\nusername\nV %d\n%s\nEND\n' \
    ${#password} "$password" ${#realm} "$realm" ${#name} "$name" \
    >"$home/svn/auth/svn.simple/$(printf %s "$realm" | md5sum | cut -d' ' -f1)"
  printf 'service = %s\nsubversion-config = %s/svn\nuser = %s\n' "$url" "$home" "$name" >"$home/config/korvane/daemon.conf"
  env_of "$name" "$build/reference/KorvaneBkgProc" &
  echo $! >"$top/$name.pid"
  for _ in $(seq 100); do [ -S "$home/run/DalvDaemonCommand" ] && break; sleep 0.05; done
}
env_of() {
  local home=$top/$1
  shift
  env HOME="$home" XDG_RUNTIME_DIR="$home/run" XDG_STATE_HOME="$home/state" XDG_DATA_HOME="$home/data" \
    XDG_CONFIG_HOME="$home/config" TMPDIR="$home/tmp" "$@"
}
make_folder() {  # FOLDER
  mkdir -p "$1"
  for i in $(seq "$files"); do
    mkdir -p "$1/d$((i % 20))"
    head -c 25600 /dev/urandom >"$1/d$((i % 20))/file$i.bin"
  done
}
seconds() { python3 -c "import time; print(time.monotonic())"; }

machine ann ann-secret
machine bob bob-secret
make_folder "$top/plain"
cp -r "$top/plain" "$top/ann/files/shared"
svn_as_ann=(svn --non-interactive --config-dir "$top/ann/svn")

# Plain svn: the same bytes into a space of the same repository.
env_of ann "$build/bin/korvane" create-space plain "plain svn" ann >/dev/null
start=$(seconds)
"${svn_as_ann[@]}" import -q -m plain "$top/plain" "$url/plain/folder"
mid=$(seconds)
"${svn_as_ann[@]}" checkout -q "$url/plain/folder" "$top/plain-checkout"
end=$(seconds)
plain_import=$(python3 -c "print(f'{$mid - $start:.2f}')")
plain_checkout=$(python3 -c "print(f'{$end - $mid:.2f}')")

# The daemons: Ann shares, invites Bob, Bob checks out.
start=$(seconds)
env_of ann "$build/bin/korvane" share "$top/ann/files/shared" --wait >/dev/null 2>&1
mid=$(seconds)
env_of ann "$build/bin/korvane" invite shared bob >/dev/null
mkdir -p "$top/bob/files/shared"
mid2=$(seconds)
env_of bob "$build/bin/korvane" menu "$top/bob/files/shared" --invoke verb:ascheckout --wait >/dev/null 2>&1
end=$(seconds)
share=$(python3 -c "print(f'{$mid - $start:.2f}')")
checkout=$(python3 -c "print(f'{$end - $mid2:.2f}')")
echo "files: $files, bytes: $((files * 25600))"
echo "svn import:    ${plain_import} s   share:              ${share} s   ratio $(python3 -c "print(f'{$share / $plain_import:.2f}')")"
echo "svn checkout:  ${plain_checkout} s   checkout from space: ${checkout} s   ratio $(python3 -c "print(f'{$checkout / $plain_checkout:.2f}')")"
