#!/usr/bin/env bash
# The file manager's session, run by check_file_manager.sh inside its own
# namespace, display and session bus.
set -uo pipefail
app=$1 work=$2 prefix=$3 here=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ui() { /usr/bin/python3 "$here/file_manager_ui.py" "$@"; }
korvane() { "$prefix/bin/korvane" "$@"; }
# The texts of the entries `korvane menu --json` gives, as a JSON list.
tool_entries() {
  korvane --json menu "$@" 2>/dev/null | /usr/bin/python3 -c 'import json, sys; print(json.dumps([e["text"] for e in json.load(sys.stdin)["entries"]]))'
}
if [[ $app == nemo ]]; then "$app" --no-desktop "$HOME" >"$work/fm.log" 2>&1 & else "$app" "$HOME" >"$work/fm.log" 2>&1 & fi
manager=$!
trap 'kill $manager 2>/dev/null || true' EXIT

for folder in plain shared; do
  expected=$(tool_entries "$HOME/$folder")
  got=$(ui entries "$app" "$folder")
  [[ $got == "$expected" ]] || fail "$app's menu for the $folder folder holds $got, korvane menu gives $expected"
done
expected=$(tool_entries --background "$HOME")
got=$(ui background "$app")
[[ $got == "$expected" ]] || fail "$app's background menu holds $got, korvane menu --background gives $expected"

# Nemo draws emblems with cell renderers, which its accessibility tree does
# not show: there the emblems are not read.
if [[ $app == nemo ]]; then
  echo "NOTE: nemo's emblems are drawn by cell renderers without accessibles; not checked"
  before=0
  emblems() { echo 1; }
else
  emblems() { ui emblems "$app" "$1"; }
  before=$(emblems site)
fi
[[ $(emblems shared) -gt $before ]] || fail "the shared folder shows no more emblems than a plain one"
ui activate "$app" site "Share on Halcyra" >/dev/null || fail "$app could not activate Share on Halcyra"
for _ in $(seq 120); do
  korvane get-activations 2>/dev/null | grep -q "$HOME/site\$" && break
  sleep 0.5
done
activations=$(korvane --json get-activations | /usr/bin/python3 -c 'import json, sys; print(" ".join(sorted(a["folder"] for a in json.load(sys.stdin)["activations"])))')
[[ $activations == "$HOME/shared $HOME/site" ]] || fail "after Share on Halcyra the activated folders are: $activations"
korvane is-versioned "$HOME/site/a.txt" >/dev/null || fail "the shared folder's file is not versioned"
changed=
for _ in $(seq 60); do
  if [[ $(emblems site) -gt $before ]]; then changed=yes; break; fi
  sleep 0.5
done
[[ -n $changed ]] || fail "the emblem of the folder shared in $app did not change"
kill -0 $manager 2>/dev/null || fail "$app is no longer running"
if ((failures)); then
  ui dump "$app" >"$work/tree.log" 2>&1 || true
  echo "$failures check(s) failed; $app's log:"; tail -20 "$work/fm.log"
  exit 1
fi
echo "$app: the menus match korvane menu, Share on Halcyra shares the folder$([[ $app == nemo ]] || echo " and its emblem changes")"
