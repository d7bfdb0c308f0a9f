#!/usr/bin/env bash
# The installed product end to end under Wine, in a Wine prefix of its own
# with its own wineserver: install silently; share a plain folder through
# the context menu the shell builds from what the installer registered;
# check out a second folder from the space the same way; put both in
# automatic commit and update, sync a change and keep both sides of a
# conflict; stop the daemon and start it again as a login does; release the
# folders, uninstall silently, and check that nothing of ours is left.
# Each step prints one line; on a failure the daemon's log and job board
# are printed. scripts/test.sh runs it after the Windows tests.
#
#   scripts/windows-end-to-end.sh [BUILD-FOLDER]   (default build/windows-release)
#
# KORVANE_E2E_PREFIX moves the prefix (default build/wine-end-to-end); it
# is made afresh on every run.
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(cd "${1:-build/windows-release}" && pwd)
setup=$build/korvane-setup.exe
driver=$build/bin/korvane_shell_driver.exe
for file in "$setup" "$driver"; do
  [[ -f $file ]] || { echo "end-to-end: $file is missing; build the windows-release preset first" >&2; exit 1; }
done

export WINEPREFIX=${KORVANE_E2E_PREFIX:-$PWD/build/wine-end-to-end}
export WINEDEBUG=-all
wineserver=/usr/lib/wine/wineserver
[[ -x $wineserver ]] || wineserver=$(command -v wineserver)

# The daemon takes these from the process that starts it: short quiet
# periods and polls, so a change crosses in about a second.
export KORVANE_COMMIT_QUIET_MS=300 KORVANE_COMMIT_CLOSED_MS=100 KORVANE_POLL_PERIOD_MS=300 \
  KORVANE_UPDATE_PERIOD_SECONDS=2 KORVANE_RETRY_FIRST_MS=200 KORVANE_RETRY_MOST_MS=2000 \
  KORVANE_WATCH_SWEEP_MS=1000

# What the installer writes, as the README's Windows section names it.
readonly handler_class='{3F6A1C52-B8E4-4A7D-9C31-E5D20B7F4A96}'
readonly install_folder='C:\Program Files\Korvane'
readonly library="$install_folder\\korvane.dll"
readonly one='C:\e2e\one\site' two='C:\e2e\two\site'

win() { scripts/wine-run.sh "$@"; }
# The driver's output without the carriage returns of Windows text. It goes
# through a file: a daemon the driver starts must not hold a pipe of ours.
driver_output=$(mktemp)
drive() {
  local status=0
  win "$driver" "$@" >"$driver_output" 2>&1 || status=$?
  tr -d '\r' <"$driver_output"
  return "$status"
}
# pick FOLDER ENTRY: the entry of the folder's context menu, picked; the
# run ends with the menu the shell showed when there is no such entry.
pick() {
  local shown
  shown=$(drive invoke "$1" "$2") || fail "picking \"$2\" for $1: $shown"
}
unix_path() { win winepath -u "$1" 2>/dev/null | tr -d '\r'; }
say() { echo "end-to-end: $*"; }

daemon_state_folder=
show_daemon_state() {
  [[ -n $daemon_state_folder ]] || return 0
  echo "---- daemon log ($daemon_state_folder/daemon.log, last 80 lines)"
  tail -n 80 "$daemon_state_folder/daemon.log" 2>/dev/null || echo "(none)"
  echo "---- job board ($daemon_state_folder/jobs)"
  cat "$daemon_state_folder/jobs" 2>/dev/null || echo "(none)"
  echo "----"
}
fail() {
  echo "end-to-end: FAILED: $*" >&2
  show_daemon_state >&2
  exit 1
}
# wait_until WHAT SECONDS COMMAND...: polls COMMAND until it succeeds.
wait_until() {
  local what=$1 seconds=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || fail "$what (waited ${seconds} s)"
    sleep 0.5
  done
}

# board OPERATION FOLDER: the jobs of that operation on that folder, oldest
# first, one "STATE<TAB>MESSAGE" line each, from the daemon's job board.
board() {
  python3 - "$daemon_state_folder/jobs" "$1" "$2" <<'PYTHON'
import json, sys
path, operation, folder = sys.argv[1:]
same = lambda a, b: a.replace('\\', '/').rstrip('/').lower() == b.replace('\\', '/').rstrip('/').lower()
try:
    jobs = json.load(open(path, encoding='utf-8')).get('jobs', [])
except (OSError, ValueError):
    jobs = []
for job in sorted(jobs, key=lambda j: j.get('id', 0)):
    if job.get('operation') == operation and same(job.get('folder', ''), folder):
        print(f"{job.get('state')}\t{job.get('message', '')}")
PYTHON
}
# ended_well OPERATION FOLDER: true once the latest such job succeeded;
# ends the run when it failed.
ended_well() {
  local last
  last=$(board "$1" "$2" | tail -n 1)
  [[ $last == failed* ]] && fail "$1 of $2 failed: ${last#failed?}"
  [[ $last == succeeded* ]]
}

stop_session() { "$wineserver" -k 2>/dev/null || true; "$wineserver" -w 2>/dev/null || true; }
trap 'stop_session; rm -f "$driver_output"' EXIT

# ---- a fresh prefix, one persistent wineserver for it
stop_session
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
"$wineserver" -p
win cmd.exe /c exit >/dev/null
drive_c=$WINEPREFIX/drive_c
local_app_data=$(unix_path "$(win cmd.exe /c echo %LOCALAPPDATA% | tr -d '\r')")
app_data=$(unix_path "$(win cmd.exe /c echo %APPDATA% | tr -d '\r')")
[[ -d $local_app_data && -d $app_data ]] || fail "the prefix has no application data folders"
daemon_state_folder=$local_app_data/Korvane/state
one_unix=$drive_c/e2e/one/site
two_unix=$drive_c/e2e/two/site

# ---- 1. install silently
win "$setup" /S
program_files=$(unix_path "$install_folder")
for file in korvane.dll KorvaneBkgProc.exe uninstall.exe; do
  [[ -f $program_files/$file ]] || fail "the installer left no $install_folder\\$file"
done
win reg query "HKCR\\CLSID\\$handler_class\\InprocServer32" | grep -qiF "$library" ||
  fail "the handler's class is not registered to $library"
win reg query 'HKCR\Directory\shellex\ContextMenuHandlers' /s | grep -qiF "$handler_class" ||
  fail "no context-menu handler is registered for folders"
run_keys=$(win reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' 2>/dev/null
           win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' 2>/dev/null) || true
grep -qiF 'KorvaneBkgProc.exe' <<<"$run_keys" || fail "no Run key starts the daemon at login"
say "installed"

# ---- 2, 3. share a plain folder through the shell's menu
mkdir -p "$one_unix"
printf 'written before sharing\n' >"$one_unix/notes.txt"
menu=$(drive menu "$one") || fail "the shell built no menu for $one"
grep -qiF "# $handler_class from $library" <<<"$menu" ||
  fail "the shell did not load the installed handler: $menu"
pick "$one" 'Share on Halcyra'

mode_of() { drive status "$library" "$1" | cut -d'|' -f1; }
shared_as_space() {
  local status
  ended_well shareFolder "$one" || return 1
  status=$(drive status "$library" "$one") || return 1
  [[ $status == 1\|*svn.halcyra.com/svn/site* && -d $one_unix/.svn ]]
}
wait_until "$one was not shared as the space site in mode 1" 120 shared_as_space
say "shared through the shell"

# ---- 4. a second folder checked out from the space; both in mode 3
mkdir -p "$two_unix"
pick "$two" 'Checkout from Halcyra'
checked_out() {
  ended_well checkoutFromService "$two" && [[ -d $two_unix/.svn ]] && cmp -s "$one_unix/notes.txt" "$two_unix/notes.txt"
}
wait_until "$two was not checked out from the space" 120 checked_out
for folder in "$one" "$two"; do
  pick "$folder" 'Automatic commit and update'
  wait_until "$folder is not in mode 3" 30 test "$(mode_of "$folder")" = 3
done

printf 'made in one\n' >"$one_unix/hello.txt"
arrived() { cmp -s "$1" "$2"; }
wait_until "hello.txt made in $one did not reach $two" 60 arrived "$one_unix/hello.txt" "$two_unix/hello.txt"
printf 'made in two\n' >"$two_unix/reply.txt"
wait_until "reply.txt made in $two did not reach $one" 60 arrived "$two_unix/reply.txt" "$one_unix/reply.txt"
say "synced"

# A conflict: two leaves mode 3, both change hello.txt, two returns. The
# version that reached the space first keeps the name; the other is kept
# beside it as a conflict copy, on both sides.
# The automatic commits of folder one that ended well.
commits_of_one() { board automaticCommit "$one" | grep -c '^succeeded' || true; }
pick "$two" 'Use Korvane dialogs'
wait_until "$two did not leave mode 3" 30 test "$(mode_of "$two")" = 1
commits=$(commits_of_one)
printf 'the version of one\n' >"$one_unix/hello.txt"
more_commits() { (($(commits_of_one) > commits)); }
wait_until "the change of hello.txt in $one was not committed" 60 more_commits
printf 'the version of two\n' >"$two_unix/hello.txt"
pick "$two" 'Automatic commit and update'
copy_in() {
  local copy
  for copy in "$1"/hello\ \(conflict*\).txt; do
    [[ -f $copy ]] && grep -qx 'the version of two' "$copy" && return 0
  done
  return 1
}
both_kept() {
  grep -qx 'the version of one' "$two_unix/hello.txt" 2>/dev/null && copy_in "$two_unix" &&
    grep -qx 'the version of one' "$one_unix/hello.txt" && copy_in "$one_unix"
}
wait_until "the conflict over hello.txt did not keep both versions on both sides" 90 both_kept
say "conflict kept"

# ---- 5. stop, then a new session: wineboot, Wine's start of a session,
# runs the Run keys as a login does
starts() { grep -c 'info: serving' "$daemon_state_folder/daemon.log" || true; }
starts_before=$(starts)
drive stop "$library" >/dev/null || fail "the daemon did not take the stop request"
stopped() { ! drive serves "$library" 0 >/dev/null; }
wait_until "the daemon still serves after the stop request" 30 stopped
stop_session
"$wineserver" -p
win wineboot
spaces=$(drive serves "$library" 60) || fail "no daemon serves after the login: $spaces"
grep -qx 'site' <<<"$spaces" || fail "the daemon started at login does not list the space site: $spaces"
(($(starts) > starts_before)) || fail "the daemon that serves was not started anew at login"
say "restarted at login"

# ---- 6. release both folders, uninstall, and look for what is left
for folder in "$one" "$two"; do
  pick "$folder" 'Deactivate'
  wait_until "$folder is still activated" 30 test "$(mode_of "$folder")" = 0
done
win "$program_files/uninstall.exe" /S
# The uninstaller runs from a copy of itself and ends after it returns.
gone() { [[ ! -e $program_files ]]; }
wait_until "$install_folder is still there after the uninstaller" 60 gone
stopped_for_good() { ! drive serves "$library" 0 >/dev/null 2>&1; }
wait_until "a daemon still serves after the uninstaller" 30 stopped_for_good
for key in "HKCR\\CLSID\\$handler_class" 'HKCR\Directory\shellex\ContextMenuHandlers\Korvane' \
  'HKCR\Directory\Background\shellex\ContextMenuHandlers\Korvane' \
  'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane'; do
  if win reg query "$key" >/dev/null 2>&1; then fail "the uninstaller left $key"; fi
done
stop_session  # the registry is written to its files
leftovers=$(grep -il -e korvane -e "${handler_class//[\{\}]/}" "$WINEPREFIX"/*.reg || true)
[[ -z $leftovers ]] || fail "the registry still names us: $(grep -i -e korvane -e "${handler_class//[\{\}]/}" "$WINEPREFIX"/*.reg)"
# What the uninstaller keeps, as it says: the spaces' repositories under
# %LOCALAPPDATA%\Korvane\data, folders put aside (none here) and the
# person's settings in %APPDATA%\Korvane. The log, the job board, the
# activations and the runtime folder go.
left=$(cd "$local_app_data/Korvane" 2>/dev/null && find . -mindepth 1 -maxdepth 1 ! -name data) || true
[[ -z $left ]] || fail "the uninstaller left in $local_app_data/Korvane: $left"
space=$local_app_data/Korvane/data/spaces/svn.halcyra.com/svn/site
revisions=$(svnlook youngest "$space" 2>/dev/null) || fail "the space's repository $space is gone"
((revisions >= 3)) || fail "the space's repository holds $revisions revisions, not every version written"
# People's files stay: both folders keep what was written in them.
for folder in "$one_unix" "$two_unix"; do
  grep -qx 'the version of one' "$folder/hello.txt" || fail "$folder lost hello.txt"
done
say "uninstalled clean"
