#!/usr/bin/env bash
# korvane-setup.exe under Wine, in a fresh prefix of its own:
#   1. a silent install into a chosen folder: the files, every registry key,
#      the handler created through COM by its class id, the daemon started;
#   2. an install over the running daemon: it is stopped and its files
#      replaced, and the new daemon runs;
#   3. a silent uninstall: the daemon stopped, every file and key of ours
#      gone, the spaces' repositories, folders put aside and the settings
#      kept, the daemon's log, state and runtime gone;
#   4. an install that meets a daemon that does not stop: it gives up after
#      its wait (/STOPWAIT) and changes nothing;
#   5. an install that starts no daemon (/NOSTART), then an uninstall with no
#      repository left: nothing of ours remains at all.
#   installer_test.sh SETUP_EXE PROBE_EXE CLSID BUILT_DLL BUILT_DAEMON
set -euo pipefail
setup=$1 probe=$2 clsid=$3 built_dll=$4 built_daemon=$5
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/wine-installer-XXXXXX")
export WINEPREFIX
work=$(mktemp -d "${TMPDIR:-/tmp}/installer-test-XXXXXX")
wineserver=/usr/lib/wine/wineserver
[[ -x $wineserver ]] || wineserver=wineserver
finish() {
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$work"
}
trap finish EXIT
# One wineserver for the whole run: without it every command starts the
# prefix's services again.
"$wineserver" -p

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
step() { echo "== $(date +%T) $*"; }
wine() { "$source_dir/scripts/wine-run.sh" "$@"; }
unix_path() { wine winepath -u "$1" | tr -d '\r'; }
# Wine's text output ends its lines with CR LF.
probe() { wine "$probe" "$@" | tr -d '\r'; }

daemon_exe=KorvaneBkgProc.exe
pipe='\\.\pipe\DalvDaemonCommand'
install_dir='C:\Apps\Korvane'
classes='HKEY_LOCAL_MACHINE\Software\Classes'
windows_key='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion'
uninstall_key="$windows_key\Uninstall\Korvane"

# The software keys of the registry in a text form two states can be
# compared by, without the keys Wine fills in by itself when something first
# asks (the network cards, in both views of the registry).
wine_own_keys='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards
HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\NetworkCards'
export_registry() {
  local root
  : >"$1"
  for root in "HKEY_LOCAL_MACHINE\\Software" "HKEY_CURRENT_USER\\Software"; do
    wine regedit /E "$(wine winepath -w "$1.part" | tr -d '\r')" "$root" >/dev/null 2>&1
    iconv -f UTF-16LE -t UTF-8 "$1.part" | tr -d '\r' | wine_own_keys=$wine_own_keys awk '
      BEGIN { count = split(tolower(ENVIRON["wine_own_keys"]), own, "\n") }
      /^\[/ {
        skip = 0
        for (i = 1; i <= count; i++)
          if (index(tolower($0), "[" own[i]) == 1) skip = 1
      }
      !skip' >>"$1"
  done
  rm -f "$1.part"
}

# The value NAME ("" for the default) of KEY in the registry export FILE,
# unescaped.
registry_value() {
  key=$2 name=$3 awk '
    BEGIN { key = tolower(ENVIRON["key"]); name = ENVIRON["name"]; want = (name == "" ? "@" : "\"" name "\"") "=" }
    /^\[/ { inside = (tolower($0) == "[" key "]"); next }
    inside && index($0, want) == 1 {
      value = substr($0, length(want) + 1)
      if (value ~ /^".*"$/) {
        quoted = substr(value, 2, length(value) - 2); value = ""
        for (i = 1; i <= length(quoted); i++) {
          c = substr(quoted, i, 1)
          if (c == "\\") c = substr(quoted, ++i, 1)
          value = value c
        }
      }
      print value; exit
    }' "$1"
}

# KEY's value NAME holds exactly DATA in the registry export FILE.
expect_value() {
  local found
  found=$(registry_value "$@")
  [[ $found == "$4" ]] || fail "$2 [${3:-default}] is '$found', not '$4'"
}

# The daemons running from the install folder, one PID a line.
# (awk reads paths from the environment: -v would take their backslashes
# for escapes.)
installed_daemons() {
  probe daemons "$daemon_exe" | daemon_path="$install_dir\\$daemon_exe" \
    awk 'tolower(substr($0, index($0, " ") + 1)) == tolower(ENVIRON["daemon_path"]) { print $1 }'
}

# The uninstaller runs from a copy of itself and finishes after it returns:
# its last act removes the Add/Remove Programs entry.
uninstall() {
  wine "$install_dir\\uninstall.exe" /S || fail "uninstall.exe /S exited with $?"
  local tries
  for ((tries = 0; tries < 60; tries++)); do
    if ! wine reg query "$uninstall_key" >/dev/null 2>&1 && [[ ! -e $install_unix ]]; then
      sleep 1  # the copy's own end
      return 0
    fi
    sleep 0.5
  done
  fail "the uninstaller had not finished after 30 s"
}

step "a fresh prefix and its registry"
wine cmd.exe /c exit
export_registry "$work/before.reg"
install_unix=$(unix_path "$install_dir")
local_app_data=$(unix_path "$(wine cmd.exe /c echo %LOCALAPPDATA% | tr -d '\r')")/Korvane
app_data=$(unix_path "$(wine cmd.exe /c echo %APPDATA% | tr -d '\r')")/Korvane

step "silent install into $install_dir"
wine "$setup" /S "/D=$install_dir" || fail "korvane-setup.exe /S exited with $?"
cmp -s "$install_unix/korvane.dll" "$built_dll" || fail "korvane.dll is not the built one"
cmp -s "$install_unix/$daemon_exe" "$built_daemon" || fail "$daemon_exe is not the built one"
[[ -f $install_unix/uninstall.exe ]] || fail "no uninstall.exe"
[[ $(ls "$install_unix" | sort | tr '\n' ' ') == "KorvaneBkgProc.exe korvane.dll uninstall.exe " ]] ||
  fail "the install folder holds $(ls "$install_unix" | tr '\n' ' ')"

step "registry"
export_registry "$work/installed.reg"
while IFS='|' read -r key name data; do
  expect_value "$work/installed.reg" "$key" "$name" "$data"
done <<EOF
$classes\\CLSID\\$clsid||Korvane
$classes\\CLSID\\$clsid\\InprocServer32||$install_dir\\korvane.dll
$classes\\CLSID\\$clsid\\InprocServer32|ThreadingModel|Apartment
$classes\\*\\shellex\\ContextMenuHandlers\\Korvane||$clsid
$classes\\Directory\\shellex\\ContextMenuHandlers\\Korvane||$clsid
$classes\\Directory\\Background\\shellex\\ContextMenuHandlers\\Korvane||$clsid
$windows_key\\Shell Extensions\\Approved|$clsid|Korvane
$windows_key\\Run|Korvane|"$install_dir\\$daemon_exe"
$uninstall_key|DisplayName|Korvane
$uninstall_key|InstallLocation|$install_dir
$uninstall_key|UninstallString|"$install_dir\\uninstall.exe"
$uninstall_key|QuietUninstallString|"$install_dir\\uninstall.exe" /S
$uninstall_key|DisplayIcon|$install_dir\\korvane.dll,0
EOF
[[ $(registry_value "$work/installed.reg" "$uninstall_key" DisplayVersion) =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] ||
  fail "no DisplayVersion x.y.z"

step "COM creates the handler by its class id"
handler=$(probe handler "$clsid") || fail "the handler was not created: $handler"
[[ $handler == "handler $install_dir\\korvane.dll" ]] || fail "the handler came from: $handler"

step "the daemon runs from the install folder and serves the pipe"
first_daemons=$(installed_daemons)
[[ $(wc -w <<<"$first_daemons") -eq 1 ]] || fail "daemons from the install folder after install: '$first_daemons'"
probe pipe "$pipe" 10000 || fail "nobody serves $pipe"

step "install again over the running daemon (no /D: it goes where it went)"
printf 'an older library\n' >"$install_unix/korvane.dll"
wine "$setup" /S || fail "the second korvane-setup.exe /S exited with $?"
cmp -s "$install_unix/korvane.dll" "$built_dll" || fail "korvane.dll was not replaced"
cmp -s "$install_unix/$daemon_exe" "$built_daemon" || fail "$daemon_exe was not replaced"
second_daemons=$(installed_daemons)
[[ -n $first_daemons && $'\n'$second_daemons$'\n' != *$'\n'$first_daemons$'\n'* ]] ||
  fail "the first daemon ($first_daemons) still runs: '$second_daemons'"
[[ $(wc -w <<<"$second_daemons") -eq 1 ]] || fail "daemons after the second install: '$second_daemons'"
probe pipe "$pipe" 10000 || fail "nobody serves $pipe after the second install"

step "people's data beside the daemon's own files"
mkdir -p "$local_app_data/data/spaces/svn.halcyra.com/svn/plans/db" "$local_app_data/state/removed/k1/folder" \
  "$local_app_data/state/cache" "$local_app_data/run" "$app_data"
printf '5\n' >"$local_app_data/data/spaces/svn.halcyra.com/svn/plans/format"
printf 'ann\n' >"$local_app_data/data/spaces/users"
printf 'kept\n' >"$local_app_data/state/removed/k1/folder/notes.txt"
for file in daemon.log jobs activations cache/entry; do printf 'ours\n' >>"$local_app_data/state/$file"; done
printf 'service = x\n' >"$app_data/daemon.conf"

step "silent uninstall keeps the repositories, the folders put aside and the settings"
uninstall
[[ ! -e $install_unix ]] || fail "the install folder remains: $(ls -A "$install_unix" | tr '\n' ' ')"
[[ -z $(installed_daemons) ]] || fail "a daemon still runs: $(installed_daemons)"
for kept in data/spaces/svn.halcyra.com/svn/plans/format data/spaces/users state/removed/k1/folder/notes.txt; do
  [[ -f $local_app_data/$kept ]] || fail "%LOCALAPPDATA%\\Korvane\\$kept was removed"
done
[[ -f $app_data/daemon.conf ]] || fail "%APPDATA%\\Korvane\\daemon.conf was removed"
for gone in run state/daemon.log state/jobs state/activations state/cache; do
  [[ ! -e $local_app_data/$gone ]] || fail "%LOCALAPPDATA%\\Korvane\\$gone remains"
done
export_registry "$work/after-first-uninstall.reg"
diff "$work/before.reg" "$work/after-first-uninstall.reg" || fail "the registry differs from before the install"

step "an install gives up on a daemon that does not stop, and changes nothing"
mkdir -p "$install_unix"
cp "$probe" "$install_unix/$daemon_exe"
wine "$install_dir\\$daemon_exe" sleep 20000 &
stubborn=$!
for ((tries = 0; tries < 40; tries++)); do
  [[ -n $(installed_daemons) ]] && break
  sleep 0.5
done
[[ -n $(installed_daemons) ]] || fail "the daemon that does not stop did not start"
status=0
wine "$setup" /S /STOPWAIT=1000 "/D=$install_dir" || status=$?
[[ $status -eq 2 ]] || fail "the install over a daemon that does not stop exited with $status, not 2"
[[ $(ls "$install_unix") == "$daemon_exe" ]] || fail "the cancelled install left: $(ls "$install_unix" | tr '\n' ' ')"
cmp -s "$install_unix/$daemon_exe" "$probe" || fail "the cancelled install replaced the running $daemon_exe"
export_registry "$work/after-cancelled-install.reg"
diff "$work/after-first-uninstall.reg" "$work/after-cancelled-install.reg" || fail "the cancelled install changed the registry"
wait "$stubborn" || true
rm -rf "$install_unix"

step "install with /NOSTART, then uninstall with no repository left"
wine "$setup" /S /NOSTART "/D=$install_dir" || fail "korvane-setup.exe /S /NOSTART exited with $?"
[[ -z $(installed_daemons) ]] || fail "/NOSTART started a daemon: $(installed_daemons)"
rm -rf "$local_app_data/data/spaces/svn.halcyra.com/svn/plans" "$local_app_data/state/removed/k1" "$app_data"
uninstall
[[ ! -e $install_unix ]] || fail "the install folder remains"
[[ ! -e $local_app_data ]] || fail "%LOCALAPPDATA%\\Korvane remains: $(cd "$local_app_data" && find . | tr '\n' ' ')"
export_registry "$work/after-second-uninstall.reg"
diff "$work/before.reg" "$work/after-second-uninstall.reg" || fail "the registry differs from before the install"

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all installer checks passed"
